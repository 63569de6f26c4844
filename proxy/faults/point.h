// The point in an exchange where a stall or a cut happens (a rule's "at", with its "chunk"):
// reading it, saying it, finding it among the bytes as they pass, and why it never came.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "proxy/faults/fault.h"

namespace proxy {

// "before_len", "after_chunk", "before_fin"; "none".
std::string_view point_name(point p);

// Reads "at" and, with after_chunk, "chunk"; refuses a point the rule's kind does not have.
void read_point(const rule_reader& in, rule& r);
// " before_len", " after_chunk 2".
std::string point_words(const fault_settings& s);
// "at", and "chunk" with after_chunk, in a journal entry.
void put_point(const fault_settings& s, journal_line& entry);
// "before the length header", "after answer chunk 2".
std::string point_text(const rule& r);

// Whether the run of bytes passing is at the rule's point: the point is before the run (its
// first byte starts a length header or a FIN) or after it (it completes the chunk); none when
// it is not there.
std::optional<fragment_controls::place> point_at(const rule& r, const fragment_controls& run);

// Why the point never came in a request that went through.
std::string point_missed(const rule& r, const request_record& record);

}  // namespace proxy
