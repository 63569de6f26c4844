#include "tests/support/doc_examples.h"

#include <charconv>

namespace test_support {

namespace {

constexpr std::string_view fence = "```";

std::string_view trim_left(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    return text;
}

std::string_view trim(std::string_view text) {
    text = trim_left(text);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// One quoted string at the start of text; text is advanced past its closing quote.
std::optional<std::string> take_quoted(std::string_view& text, std::string& error) {
    if (text.empty() || text.front() != '"') {
        error = "a double-quoted string was expected";
        return std::nullopt;
    }
    std::string bytes;
    std::size_t i = 1;
    for (; i < text.size() && text[i] != '"'; ++i) {
        if (text[i] != '\\') {
            bytes += text[i];
            continue;
        }
        if (++i == text.size()) break;
        switch (text[i]) {
            case '"':
                bytes += '"';
                break;
            case '\\':
                bytes += '\\';
                break;
            case '0':
                bytes += '\0';
                break;
            case 'n':
                bytes += '\n';
                break;
            case 'r':
                bytes += '\r';
                break;
            case 't':
                bytes += '\t';
                break;
            case 'x': {
                const int high = i + 1 < text.size() ? hex_digit(text[i + 1]) : -1;
                const int low = i + 2 < text.size() ? hex_digit(text[i + 2]) : -1;
                if (high < 0 || low < 0) {
                    error = "\\x needs two hex digits";
                    return std::nullopt;
                }
                bytes += static_cast<char>(high * 16 + low);
                i += 2;
                break;
            }
            default:
                error = std::string("unknown escape \\") + text[i];
                return std::nullopt;
        }
    }
    if (i >= text.size()) {
        error = "the string has no closing quote";
        return std::nullopt;
    }
    text.remove_prefix(i + 1);
    return bytes;
}

// "* N" after a quoted string: N, or 1 when there is no repetition.
std::optional<int> take_repeat(std::string_view& text, std::string& error) {
    std::string_view rest = trim_left(text);
    if (rest.empty() || rest.front() != '*') return 1;
    rest = trim_left(rest.substr(1));
    int count = 0;
    const auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), count);
    if (ec != std::errc() || count < 0) {
        error = "\"* N\" needs a count";
        return std::nullopt;
    }
    text = rest.substr(static_cast<std::size_t>(end - rest.data()));
    return count;
}

}  // namespace

std::vector<doc_block> fenced_blocks(std::string_view markdown,
                                     std::initializer_list<std::string_view> kinds) {
    std::vector<doc_block> blocks;
    bool in_fence = false;
    bool wanted = false;
    int number = 0;
    while (!markdown.empty()) {
        const std::size_t end = markdown.find('\n');
        const std::string_view line = markdown.substr(0, end);
        markdown = end == std::string_view::npos ? std::string_view{} : markdown.substr(end + 1);
        ++number;
        const std::string_view bare = trim(line);
        if (bare.starts_with(fence)) {
            if (in_fence) {
                in_fence = false;
                continue;
            }
            in_fence = true;
            const std::string_view info = trim(bare.substr(fence.size()));
            wanted = false;
            for (const auto kind : kinds)
                wanted = wanted || info == kind;
            if (wanted) blocks.push_back({std::string(info), number, {}});
            continue;
        }
        if (!in_fence || !wanted || bare.empty() || bare.front() == '#') continue;
        auto& lines = blocks.back().lines;
        if (bare.front() == '"' && !lines.empty()) {
            lines.back().text += ' ';
            lines.back().text += bare;
        } else {
            lines.push_back({number, std::string(bare)});
        }
    }
    return blocks;
}

std::optional<std::string> parse_byte_string(std::string_view text, std::string& error) {
    std::string bytes;
    text = trim_left(text);
    do {
        const auto part = take_quoted(text, error);
        if (!part) return std::nullopt;
        const auto repeat = take_repeat(text, error);
        if (!repeat) return std::nullopt;
        for (int k = 0; k < *repeat; ++k)
            bytes += *part;
        text = trim_left(text);
    } while (!text.empty() && text.front() == '"');
    if (!text.empty() && text.front() != '#') {
        error = "unexpected text after the string: " + std::string(text);
        return std::nullopt;
    }
    return bytes;
}

std::string_view first_word(std::string_view text, std::string_view& rest) {
    text = trim_left(text);
    const std::size_t end = text.find_first_of(" \t");
    const std::string_view word = text.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view{} : trim_left(text.substr(end));
    return word;
}

}  // namespace test_support
