// The one reader and the one writer of settings documents in their JSON text form
// (docs/settings-document.schema.json describes it). No I/O: text in, text out.
//
// The writer keeps one member order and one layout, one block per colour and one line per
// valve, so that two documents compare well with a plain diff and in git, and writing a document
// that was read gives the same text.
#pragma once

#include <string>
#include <string_view>

#include "client/result.h"
#include "client/settings_document.h"

namespace ifc_client {

// Reads a document. Refused (errc::bad_request, the detail naming the path of the offending
// value, "colours[2].valves.main_on: 400 is outside 0..359"): text that is not JSON, a key
// given twice in one object, a text larger than largest_document or nested deeper than a
// document is, another format or a newer version of it, unknown keys, values of the wrong
// type, lines that lack a key, and whatever check_document finds. When there are several
// problems, the first is named and the others counted.
result<settings_document> parse_document(std::string_view text);

// The document as text, ending in a line feed. The values are written as they are: check a
// document (check_document) before writing one that did not come from parse_document.
std::string format_document(const settings_document& doc);

}  // namespace ifc_client
