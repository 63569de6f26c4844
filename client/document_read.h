// Reading a settings document from a controller: every setting in one connection, one GET per
// settings line (15 for a whole machine), so that no other client's change can come between
// two of them (the server serves one connection at a time).
#pragma once

#include "client/connection.h"
#include "client/settings_document.h"

namespace ifc_client {

// The values of scope as the controller holds them, taken_at set to now; the other members of
// the document are left for the caller. Values are taken as they are, also those outside
// their range (check_document finds them): a damaged settings file shows as it is.
result<settings_document> read_document(connection& conn, const document_scope& scope = {});

}  // namespace ifc_client
