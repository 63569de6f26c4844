// A reload of the rules file (on SIGHUP): the new rules put in force whole, or a refusal that
// leaves the rules in force as they are. Nothing the file holds can end the proxy here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "proxy/journal_line.h"
#include "proxy/rule_engine.h"
#include "proxy/rules.h"

namespace proxy {

struct reload_result {
    std::shared_ptr<rule_engine> engine;  // the rules to put in force; empty when refused
    std::string message;                  // for standard error, after "ifc-proxy: "
    journal_line line;                    // the journal's "reload" line
};

// The reload of file, read as parsed, in place of kept rules in force; the new rules draw from
// seed. Never throws: a failure of its own (no memory) is a refusal too.
reload_result reload_rules(const std::string& file, parsed_rules parsed, std::size_t kept,
                           std::uint64_t seed) noexcept;

}  // namespace proxy
