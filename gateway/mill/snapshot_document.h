// The settings of a poll as a settings document: what the library saves, the drift check
// compares and the logbook watches. Only the settings (status, selection, targets and valves of
// every colour, histogram selection): the measurements of the snapshot are no settings.
#pragma once

#include <string>

#include "client/settings_document.h"
#include "gateway/snapshot.h"

namespace gateway::mill {

// The document of a whole snapshot: every section of every colour, the valves without their
// constant first item, as client/document_read.h reads them from a controller. source and
// taken_at describe where and when the poll read it.
ifc_client::settings_document document_of(const machine_snapshot& snapshot,
                                          ifc_client::document_source source, std::string taken_at);

}  // namespace gateway::mill
