// The gateway's token file, by name: one line per person or system, "NAME TOKEN", and
// "NAME TOKEN read-only" for a token that may read but not write; blank lines and lines that
// start with '#' are ignored. The name is what the logbook records as who made a change.
//
// Today's file, whose first line is the token itself (one word), keeps working: it is one
// token named "token" that may write.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "client/result.h"

namespace gateway::mill {

struct named_token {
    std::string name;
    std::string token;
    bool read_only = false;
};

// The name of the one token of a file in today's form.
inline constexpr std::string_view single_token_name = "token";
// A token file larger than this is refused unread.
inline constexpr std::size_t largest_token_file = 1 << 20;

struct token_table {
    std::vector<named_token> tokens;
    bool single = false;  // today's form: the first line is the token

    // The entry whose token is presented, or nullptr. Every token is compared, each in a time
    // that does not depend on where it differs, so the time taken tells nothing of them.
    const named_token* find(std::string_view presented) const;
};

// Refused (errc::bad_request, "FILE:LINE: what"): no token at all, a line of another shape, a
// name of other than 1 to 64 letters, digits, '-', '_', '.' and '@', the name "local" (the
// logbook's name for a write on loopback without a token), a token with other than visible
// ASCII characters, a name or token given twice, an unknown mark after the token.
ifc_client::result<token_table> parse_token_file(std::string_view text, std::string_view file_name);
ifc_client::result<token_table> read_token_file(const std::string& path);

}  // namespace gateway::mill
