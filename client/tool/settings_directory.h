// The settings files of a server's working directory as a document, for diff. ifc-client
// works over the wire only; ifc-settings is the program that reads settings files, so
// ifc-client runs "ifc-settings export DIR" (the one beside it, else the one in PATH) and reads
// the document it prints.
#pragma once

#include <string>

#include "client/result.h"
#include "client/settings_document.h"

namespace ifc_tool {

// errc::bad_request with ifc-settings's message when it cannot make the document (no settings
// files there, a file that is not sound, ifc-settings missing).
ifc_client::result<ifc_client::settings_document> read_settings_directory(const std::string& dir);

}  // namespace ifc_tool
