#include "client/token_line.h"

#include <algorithm>
#include <charconv>

#include "tools/escape.h"
#include "tools/suggest.h"

namespace ifc_client {

namespace {

bool is_blank(char c) {
    return c == ' ';
}

}  // namespace

std::optional<std::int32_t> parse_int32(std::string_view text) {
    if (text.empty()) return std::nullopt;
    std::int32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

result<token_line> parse_token_line(std::string_view text) {
    token_line line;
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (is_blank(text[pos])) {
            ++pos;
            continue;
        }
        std::size_t end = pos;
        while (end < text.size() && !is_blank(text[end]))
            ++end;
        const std::string_view item = text.substr(pos, end - pos);
        const std::size_t colon = item.find(':');
        const auto value =
            colon == std::string_view::npos ? std::nullopt : parse_int32(item.substr(colon + 1));
        if (colon == 0 || !value) {
            // The first byte that does not fit: the item's start when it has no key, else the
            // first of its value that no number has.
            std::size_t bad = pos;
            if (colon != std::string_view::npos && colon != 0) {
                const std::string_view digits = item.substr(colon + 1);
                const std::size_t wrong = digits.find_first_not_of("-0123456789");
                bad = pos + colon + 1 + (wrong == std::string_view::npos ? 0 : wrong);
            }
            return error{errc::protocol,
                         "not a key:value item: " + ifc_tool::escaped_around(text, bad)};
        }
        line.push_back(token{std::string(item.substr(0, colon)), *value});
        pos = end;
    }
    return line;
}

std::string format_token_line(std::span<const token> line) {
    std::string text;
    for (const token& t : line) {
        text += t.key;
        text += ':';
        text += std::to_string(t.value);
        text += ' ';
    }
    return text;
}

std::optional<std::int32_t> value_of(std::span<const token> line, std::string_view key) {
    for (const token& t : line) {
        if (t.key == key) return t.value;
    }
    return std::nullopt;
}

std::vector<std::string> keys_of(std::span<const token> line) {
    std::vector<std::string> keys;
    for (const token& t : line)
        keys.push_back(t.key);
    return keys;
}

std::vector<change> latest_changes(std::span<const change> changes) {
    std::vector<change> last;
    for (const change& c : changes) {
        auto same = std::find_if(last.begin(), last.end(),
                                 [&](const change& seen) { return seen.key == c.key; });
        if (same == last.end()) {
            last.push_back(c);
        } else {
            same->value = c.value;
        }
    }
    return last;
}

result<change> parse_change(std::string_view word) {
    const std::size_t sign = word.find_first_of("=:");
    if (sign == std::string_view::npos || sign == 0) {
        return error{errc::bad_request, "expected KEY=VALUE, got \"" + std::string(word) + "\""};
    }
    const std::string_view value = word.substr(sign + 1);
    const auto number = parse_int32(value);
    if (!number) {
        return error{errc::bad_request, "the value of " + std::string(word.substr(0, sign)) +
                                            " is not a whole number: \"" + std::string(value) +
                                            "\""};
    }
    return change{std::string(word.substr(0, sign)), *number};
}

result<std::vector<change>> parse_changes(std::span<const std::string> words) {
    std::vector<change> changes;
    for (const std::string& word : words) {
        auto c = parse_change(word);
        if (!c) return c.failure();
        changes.push_back(std::move(c.value()));
    }
    return changes;
}

status check_keys(std::span<const change> changes, std::span<const std::string_view> writable,
                  std::string_view what) {
    for (const change& c : changes) {
        if (std::find(writable.begin(), writable.end(), c.key) == writable.end()) {
            std::string message = "unknown " + std::string(what) + " '" + c.key + "'";
            const std::string guess = ifc_tool::did_you_mean(c.key, writable);
            // A short list is clearer than a guess; a long one does not fit a message.
            if (!guess.empty()) {
                message += guess;
            } else if (writable.size() <= few_keys) {
                message += " (keys: " + join(writable) + ")";
            }
            return error{errc::bad_request, message};
        }
    }
    return done{};
}

result<token_line> apply_changes(token_line line, std::span<const change> changes,
                                 std::span<const std::string_view> writable,
                                 std::string_view what) {
    if (auto known = check_keys(changes, writable, what); !known) return known.failure();
    for (const change& c : changes) {
        auto it =
            std::find_if(line.begin(), line.end(), [&](const token& t) { return t.key == c.key; });
        if (it == line.end()) {
            return error{errc::protocol,
                         "the server's answer has no " + std::string(what) + " \"" + c.key + "\""};
        }
        it->value = c.value;
    }
    return line;
}

std::vector<mismatch> unapplied(std::span<const token> line, std::span<const change> changes) {
    std::vector<mismatch> missed;
    for (const change& c : latest_changes(changes)) {
        const auto found = value_of(line, c.key);
        if (found != c.value) missed.push_back(mismatch{c.key, c.value, found});
    }
    return missed;
}

std::string join(std::span<const std::string_view> words, std::string_view separator) {
    std::string text;
    for (std::string_view w : words) {
        if (!text.empty()) text += separator;
        text += w;
    }
    return text;
}

}  // namespace ifc_client
