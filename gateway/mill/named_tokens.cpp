#include "gateway/mill/named_tokens.h"

#include <algorithm>
#include <set>

#include "gateway/state/records.h"
#include "tools/text_file.h"

namespace gateway::mill {

namespace {

constexpr std::string_view read_only_mark = "read-only";
constexpr std::size_t max_token_name = 64;

bool blank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::vector<std::string_view> words_of(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && blank(line[i]))
            ++i;
        const std::size_t start = i;
        while (i < line.size() && !blank(line[i]))
            ++i;
        if (i > start) words.push_back(line.substr(start, i - start));
    }
    return words;
}

bool is_token_name(std::string_view name) {
    if (name.empty() || name.size() > max_token_name) return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_' || c == '.' || c == '@';
    });
}

bool is_token_text(std::string_view token) {
    return !token.empty() &&
           std::all_of(token.begin(), token.end(), [](char c) { return c > ' ' && c < 0x7f; });
}

// Compares without returning early; every byte of given is looked at.
bool same_token(std::string_view given, std::string_view expected) {
    unsigned char differ = given.size() == expected.size() ? 0 : 1;
    for (std::size_t i = 0; i < given.size(); ++i) {
        differ |= static_cast<unsigned char>(given[i] ^ expected[i % expected.size()]);
    }
    return differ == 0;
}

ifc_client::error refused(std::string_view file, std::size_t line, const std::string& what) {
    return {ifc_client::errc::bad_request,
            std::string(file) + ":" + std::to_string(line) + ": " + what};
}

}  // namespace

const named_token* token_table::find(std::string_view presented) const {
    const named_token* found = nullptr;
    for (const named_token& t : tokens) {
        if (same_token(presented, t.token) && found == nullptr) found = &t;
    }
    return presented.empty() ? nullptr : found;
}

ifc_client::result<token_table> parse_token_file(std::string_view text,
                                                 std::string_view file_name) {
    token_table table;
    const std::string_view first_line = text.substr(0, text.find('\n'));
    const auto first_words = words_of(first_line);
    if (first_words.size() == 1 && !first_words[0].starts_with('#')) {
        // Today's form: the first line is the token; the rest of the file is not read.
        if (!is_token_text(first_words[0])) {
            return refused(file_name, 1, "the token holds characters other than visible ASCII");
        }
        table.single = true;
        table.tokens.push_back(
            {std::string(single_token_name), std::string(first_words[0]), false});
        return table;
    }
    std::set<std::string_view> names, tokens;
    std::size_t number = 0;
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        const auto words = words_of(line);
        if (words.empty() || words[0].starts_with('#')) continue;
        if (words.size() < 2 || words.size() > 3) {
            return refused(file_name, number, "a line is NAME TOKEN, or NAME TOKEN read-only");
        }
        if (!is_token_name(words[0])) {
            return refused(file_name, number,
                           "a name is 1 to 64 letters, digits, '-', '_', '.' and '@'");
        }
        if (words[0] == state::local_actor) {
            return refused(file_name, number,
                           "the name 'local' is what the logbook records for a write on loopback "
                           "without a token; choose another");
        }
        if (!is_token_text(words[1])) {
            return refused(file_name, number, "a token holds visible ASCII characters only");
        }
        if (words.size() == 3 && words[2] != read_only_mark) {
            return refused(file_name, number,
                           "unknown mark '" + std::string(words[2]) + "' (only read-only)");
        }
        if (!names.insert(words[0]).second) {
            return refused(file_name, number,
                           "the name " + std::string(words[0]) + " is given twice");
        }
        if (!tokens.insert(words[1]).second) {
            return refused(file_name, number, "this token is given to another name already");
        }
        table.tokens.push_back({std::string(words[0]), std::string(words[1]), words.size() == 3});
    }
    if (table.tokens.empty()) {
        return ifc_client::error{ifc_client::errc::bad_request,
                                 std::string(file_name) + " holds no token"};
    }
    return table;
}

ifc_client::result<token_table> read_token_file(const std::string& path) {
    const auto file = ifc_tool::read_text_file(path, largest_token_file);
    if (!file.text) return ifc_client::error{ifc_client::errc::bad_request, file.error};
    return parse_token_file(*file.text, path);
}

}  // namespace gateway::mill
