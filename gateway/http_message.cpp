#include "gateway/http_message.h"

#include <algorithm>
#include <cctype>

namespace gateway {

namespace {

const std::string* find_in(const header_list& list, std::string_view name, bool any_case) {
    for (const auto& [key, value] : list) {
        if (any_case ? same_token(key, name) : key == name) return &value;
    }
    return nullptr;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// text with %XX decoded (and '+' as a blank when plus_is_blank); nullopt on a bad escape or NUL.
std::optional<std::string> decoded(std::string_view text, bool plus_is_blank) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size()) return std::nullopt;
            const int high = hex_value(text[i + 1]), low = hex_value(text[i + 2]);
            if (high < 0 || low < 0) return std::nullopt;
            c = static_cast<char>(high * 16 + low);
            i += 2;
        } else if (c == '+' && plus_is_blank) {
            c = ' ';
        }
        if (c == '\0') return std::nullopt;
        out += c;
    }
    return out;
}

}  // namespace

bool parse_target(http_request& request) {
    const std::string_view target = request.target;
    if (!target.starts_with('/')) return false;
    const auto question = target.find('?');
    auto path = decoded(target.substr(0, question), false);
    if (!path) return false;
    request.path = std::move(*path);
    request.query.clear();
    if (question == std::string_view::npos) return true;
    std::string_view rest = target.substr(question + 1);
    while (!rest.empty()) {
        const auto amp = rest.find('&');
        const std::string_view pair = rest.substr(0, amp);
        rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
        if (pair.empty()) continue;
        const auto equals = pair.find('=');
        auto name = decoded(pair.substr(0, equals), true);
        auto value = decoded(
            equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1), true);
        if (!name || !value) return false;
        request.query.emplace_back(std::move(*name), std::move(*value));
    }
    return true;
}

bool same_token(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string http_request::header(std::string_view name) const {
    const std::string* value = find_in(headers, name, true);
    return value ? *value : std::string();
}

bool http_request::has_header(std::string_view name) const {
    return find_in(headers, name, true) != nullptr;
}

std::optional<std::string> http_request::param(std::string_view name) const {
    const std::string* value = find_in(query, name, false);
    if (!value) return std::nullopt;
    return *value;
}

void http_response::set_text(std::string text, std::string_view content_type) {
    share_text(std::make_shared<const std::string>(std::move(text)), content_type);
}

void http_response::share_text(std::shared_ptr<const std::string> text,
                               std::string_view content_type) {
    body_ = *text;
    owner_ = std::move(text);
    set_header("Content-Type", content_type);
}

void http_response::set_static(std::string_view bytes, std::string_view content_type) {
    body_ = bytes;
    owner_.reset();
    set_header("Content-Type", content_type);
}

void http_response::set_header(std::string_view name, std::string_view value) {
    for (auto& [key, present] : headers) {
        if (same_token(key, name)) {
            present = std::string(value);
            return;
        }
    }
    headers.emplace_back(std::string(name), std::string(value));
}

std::string http_response::header(std::string_view name) const {
    const std::string* value = find_in(headers, name, true);
    return value ? *value : std::string();
}

}  // namespace gateway
