// One line of the journal: a JSON object whose fields keep the order they were put in.
#pragma once

#include <nlohmann/json.hpp>

namespace proxy {

using journal_line = nlohmann::ordered_json;

}  // namespace proxy
