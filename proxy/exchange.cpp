#include "proxy/exchange.h"

#include <array>

namespace proxy {

namespace {

struct kind_word {
    request_kind kind;
    std::string_view name;
};

constexpr std::array kind_words{
    kind_word{request_kind::get, "GET"},
    kind_word{request_kind::put, "PUT"},
    kind_word{request_kind::ping, "PING"},
    kind_word{request_kind::disconnect, "DISCONNECT"},
};

}  // namespace

std::string_view side_name(side s) {
    return s == side::terminal ? "terminal" : "controller";
}

std::string_view kind_name(request_kind kind) {
    for (const auto& word : kind_words) {
        if (word.kind == kind) return word.name;
    }
    return "unknown";
}

std::optional<request_kind> kind_from_name(std::string_view name) {
    for (const auto& word : kind_words) {
        if (word.name == name) return word.kind;
    }
    return std::nullopt;
}

std::string_view outcome_name(outcome o) {
    switch (o) {
        case outcome::ok:
            return "ok";
        case outcome::err:
            return "err";
        case outcome::unknown_command:
            return "unknown_command";
        case outcome::closed_by_terminal:
            return "closed_by_terminal";
        case outcome::closed_by_controller:
            return "closed_by_controller";
        case outcome::timeout:
            return "timeout";
        case outcome::violation_by_terminal:
            return "violation_by_terminal";
        case outcome::violation_by_controller:
            return "violation_by_controller";
        case outcome::cut:
            return "cut";
    }
    return "unknown";
}

}  // namespace proxy
