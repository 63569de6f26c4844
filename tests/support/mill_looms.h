// Real servers for the tests of the gateway's mill: a hall of looms "loom1".."loomN", each a
// server process of its own, with the settings documents the tests compare them with.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "client/connection.h"
#include "client/settings_document.h"
#include "tests/support/server_process.h"

namespace test_support {

class loom_hall {
  public:
    explicit loom_hall(int count);

    int size() const { return static_cast<int>(servers_.size()); }
    // "loom1" for index 0.
    static std::string name(int index) { return "loom" + std::to_string(index + 1); }
    std::vector<std::string> names() const;
    server_process& server(int index) { return *servers_.at(static_cast<std::size_t>(index)); }
    // Where each loom is reached: its server, unless a test puts something else in between.
    std::map<std::string, ifc_client::endpoint>& endpoints() { return endpoints_; }
    // Every setting of the loom, read from its server directly.
    ifc_client::settings_document read(int index);

  private:
    std::vector<std::unique_ptr<server_process>> servers_;
    std::map<std::string, ifc_client::endpoint> endpoints_;
};

// The settings of a fresh server.
ifc_client::settings_document default_settings();
// A style: the defaults with a few values changed (colour 1 targets, colour 2 valves, the
// status), named "denim-12".
ifc_client::settings_document denim_settings();
// The values of two documents that differ, as "colour 2  main_on  90 -> 100" lines.
std::string differences_text(const ifc_client::settings_document& a,
                             const ifc_client::settings_document& b);

}  // namespace test_support
