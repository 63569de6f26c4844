// Token lines, the text of the settings answers and arguments: items "key:value", each
// followed by one blank ("to:90 tw:240 "), and the operator's changes to them ("to=95").
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "client/result.h"

namespace ifc_client {

struct token {
    std::string key;
    std::int32_t value = 0;
    bool operator==(const token&) const = default;
};
using token_line = std::vector<token>;

// Reads a token line. Items are separated by blanks (the server writes exactly one after
// every item); each has a non-empty key, one colon and a signed decimal int32. Anything else
// is errc::protocol, with the offending item in the detail. An empty text is an empty line.
result<token_line> parse_token_line(std::string_view text);
// The text the server writes and the write commands read back: "key:value " per item.
std::string format_token_line(std::span<const token> line);
// The value of key, if the line has it.
std::optional<std::int32_t> value_of(std::span<const token> line, std::string_view key);
// The keys of a line in order.
std::vector<std::string> keys_of(std::span<const token> line);

// A signed decimal int32: an optional minus sign and digits, nothing else.
std::optional<std::int32_t> parse_int32(std::string_view text);

// One change asked for by an operator: "KEY=VALUE" (a colon works as well).
struct change {
    std::string key;
    std::int32_t value = 0;
};
// errc::bad_request when the word is not KEY=VALUE with an int32 value.
result<change> parse_change(std::string_view word);
result<std::vector<change>> parse_changes(std::span<const std::string> words);

// The last change per key, in the order the keys are first named.
std::vector<change> latest_changes(std::span<const change> changes);

// errc::bad_request naming the first key of changes that is not in writable, with the writable
// key it most likely misspells, or else all of them when there are few_keys or fewer ("what"
// names the kind of key in the message, e.g. "valve key").
inline constexpr std::size_t few_keys = 5;
status check_keys(std::span<const change> changes, std::span<const std::string_view> writable,
                  std::string_view what);

// The line with the named keys set to the changes' values, in order (a later change of the
// same key wins). Every key must be in writable (check_keys); a writable key the line lacks is
// errc::protocol (the server's answer is not what it should be). On error nothing is changed.
result<token_line> apply_changes(token_line line, std::span<const change> changes,
                                 std::span<const std::string_view> writable, std::string_view what);

// A requested value that a read-back does not show.
struct mismatch {
    std::string key;
    std::int32_t wanted = 0;
    std::optional<std::int32_t> found;  // empty when the read-back lacks the key
};
// The changes (the last per key) that line does not reflect.
std::vector<mismatch> unapplied(std::span<const token> line, std::span<const change> changes);

// "a, b, c": for messages that list the keys an operator may use.
std::string join(std::span<const std::string_view> words, std::string_view separator = ", ");

}  // namespace ifc_client
