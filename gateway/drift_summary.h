// What the fleet list tells of a controller's assigned settings-library version: which version,
// and how many of the machine's values differ from it. The settings library's drift check fills
// it after a poll; a controller without an assignment has none.
#pragma once

#include <optional>
#include <string>

namespace gateway {

// A version of the settings library: "denim-12" version 3.
struct library_version_ref {
    std::string name;
    int version = 0;
};

struct drift_summary {
    library_version_ref version;
    // Values that differ from the version at the last comparison; none until the machine has
    // been compared with it (no good poll since the assignment).
    std::optional<int> differences;
};

}  // namespace gateway
