// Settings documents for tests: the document of a settings model (the tests' oracle of what a
// server holds), and the check of documents against the schema shipped in docs/.
#pragma once

#include <string>
#include <vector>

#include "client/settings_document.h"
#include "tests/support/settings_model.h"

namespace test_support {

// Every setting of the model, as a document read from a server holding it would have them.
ifc_client::settings_document model_document(const settings_model& model);

// A document whose every value differs from the defaults' (and each from the other's of this
// function with the other flag): status, every selection flag, both targets and every valve
// angle of each colour, both sides of the histogram selection.
ifc_client::settings_document every_value_changed(bool variant = false);

struct schema_verdict {
    bool validator_found = false;
    bool valid = false;
    std::string output;  // a line per problem: "FILE: colours/2/valves/main_on: ..."
};
// Validates the document texts against docs/settings-document.schema.json with Debian's
// python3-jsonschema (/usr/bin/python3).
schema_verdict check_by_schema(const std::vector<std::string>& documents);
// true when the environment says the tests run in CI (CI=true), where a missing tool fails.
bool in_ci();

// Validates each document text against docs/settings-document.schema.json with Debian's
// python3-jsonschema (/usr/bin/python3). A document that does not pass is a test failure that
// names it; a missing validator is a failure where CI is set, and otherwise skips this check
// (with a note on standard error).
void expect_valid_by_schema(const std::vector<std::string>& documents);

}  // namespace test_support
