#include "proxy/rules_reload.h"

#include <exception>

#include "proxy/byte_text.h"
#include "proxy/journal.h"

namespace proxy {

namespace {

reload_result refused(const std::string& file, const std::string& error, std::size_t kept) {
    reload_result r;
    r.message = "reload refused: " + error + "; the " +
                counted(static_cast<long long>(kept), "rule") + " in force " +
                (kept == 1 ? "stays" : "stay");
    r.line = reload_line(file, 0, error, kept);
    return r;
}

}  // namespace

reload_result reload_rules(const std::string& file, parsed_rules parsed, std::size_t kept,
                           std::uint64_t seed) noexcept {
    try {
        if (!parsed.ok()) return refused(file, parsed.error, kept);
        const std::size_t count = parsed.rules.size();
        reload_result r;
        r.engine = std::make_shared<rule_engine>(std::move(parsed.rules), seed);
        r.message = "reloaded " + counted(static_cast<long long>(count), "rule") + " from " + file;
        r.line = reload_line(file, count, "", 0);
        return r;
    } catch (const std::exception& e) {
        try {
            return refused(file, std::string("the proxy failed: ") + e.what(), kept);
        } catch (...) {
            return {};
        }
    }
}

}  // namespace proxy
