#include "gateway/mill/mill_context.h"

#include "client/document_diff.h"
#include "gateway/mill/rollout_outcome.h"
#include "gateway/mill/snapshot_document.h"

namespace gateway::mill {

namespace {

logbook_options logbook_settings(int days) {
    logbook_options options;
    options.retention_days = days;
    return options;
}

state::sqlite_store_options store_settings(const mill_options& options) {
    state::sqlite_store_options settings;
    settings.on_health_change = options.on_health_change;
    settings.reopen_interval = options.reload_interval;
    return settings;
}

}  // namespace

mill_context::mill_context(mill_options options, machine_access& machines)
    : store_(options.state_dir, store_settings(options)),
      log_(store_, logbook_settings(options.logbook_days)),
      rollouts_(store_, machines, &watch_),
      reload_interval_(options.reload_interval) {
    load_if_due();
}

mill_context::~mill_context() = default;

void mill_context::load_if_due() {
    if (loaded_) return;
    std::unique_lock lock(load_mutex_, std::try_to_lock);
    if (!lock.owns_lock()) return;
    const auto now = std::chrono::steady_clock::now();
    if (now < next_load_) return;
    next_load_ = now + reload_interval_;
    if (drift_.load() && watch_.load(store_) && rollouts_.recover()) loaded_ = true;
}

poll_findings mill_context::on_poll(const std::string& controller, const std::string& address,
                                    const machine_snapshot& snapshot, state::instant at) {
    load_if_due();
    const ifc_client::settings_document doc =
        document_of(snapshot, {controller, address, {}}, state::instant_text(at));
    poll_findings found;
    found.drift = drift_.check(controller, doc);
    found.outside_changes = watch_.observe(controller, doc, at);
    return found;
}

void mill_context::on_write(const std::string& controller,
                            const ifc_client::settings_document& before,
                            const ifc_client::settings_document& after, const state::actor& by,
                            const std::string& reason) {
    std::vector<ifc_client::difference> changed;
    for (auto& d : ifc_client::diff_documents(before, after)) {
        if (!d.only_in) changed.push_back(std::move(d));
    }
    if (changed.empty()) return;
    // The reason comes from a request: it is kept to the length of a note.
    const std::string kept = reason.substr(0, state::max_note);
    log_.record(entries_of(changed, write_author{controller, by, kept, state::now()}));
    watch_.note_own_changes(controller, changed);
}

}  // namespace gateway::mill
