// A write of the API in the terms of the settings documents that the mill compares and the
// logbook records: the written line as a document, and the keys a write may change.
#pragma once

#include <vector>

#include "client/histogram.h"
#include "client/settings_document.h"
#include "client/token_line.h"
#include "gateway/mill/document_values.h"
#include "gateway/writes.h"

namespace gateway {

// A document holding only the line a write of target (of colour) read: status, selection,
// targets or valves (without the valves' constant first item).
ifc_client::settings_document line_document(write_target target, int colour,
                                            const ifc_client::token_line& line);
// A document holding only the histogram selection.
ifc_client::settings_document choice_document(const ifc_client::histogram_selection& selection);

// The values request may change.
std::vector<mill::setting_key> keys_of(const write_request& request);

}  // namespace gateway
