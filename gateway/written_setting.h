// A written line in the terms of the settings documents that the mill compares and the logbook
// records.
#pragma once

#include "client/histogram.h"
#include "client/settings_document.h"
#include "client/token_line.h"

namespace gateway {

// A document holding only the line a write of a section (of colour) read: status, selection,
// targets or valves (without the valves' constant first item).
ifc_client::settings_document line_document(ifc_client::section where, int colour,
                                            const ifc_client::token_line& line);
// A document holding only the histogram selection.
ifc_client::settings_document choice_document(const ifc_client::histogram_selection& selection);

}  // namespace gateway
