#include "gateway/mill/drift.h"

#include "gateway/mill/settings_library.h"

namespace gateway::mill {

using ifc_client::difference;
using ifc_client::document_side;

std::string drift_status::summary() const {
    const std::string label = state::version_label(version);
    if (values == 0) return "matches " + label;
    if (values == 1) return "1 value differs from " + label;
    return std::to_string(values) + " values differ from " + label;
}

drift_status check_drift(const state::version_ref& ref,
                         const ifc_client::settings_document& version,
                         const ifc_client::settings_document& machine) {
    drift_status status;
    status.version = ref;
    for (difference& d : ifc_client::diff_documents(version, machine)) {
        if (d.only_in == document_side::second) continue;  // the version does not hold it
        if (d.only_in == document_side::first) {
            const auto values = ifc_client::values_of(version, d.where, d.colour);
            status.values += values ? values->size() : 0;
        } else {
            ++status.values;
        }
        status.differences.push_back(std::move(d));
    }
    return status;
}

state::store_status drift_monitor::load() {
    auto listed = store_.list_assignments();
    if (!listed) return listed.failure();
    // One document per version, shared by the machines it is assigned to.
    std::map<std::int64_t, std::shared_ptr<const assigned_version>> versions;
    assignment_map loaded;
    for (const state::assignment& a : listed.value()) {
        auto& version = versions[a.version_id];
        if (!version) {
            auto stored = store_.find_version(a.version_id);
            if (!stored) return stored.failure();
            auto doc = document_of(stored.value());
            if (!doc) return doc.failure();
            version = std::make_shared<const assigned_version>(
                assigned_version{stored->ref, std::move(doc.value())});
        }
        loaded.emplace(a.controller, version);
    }
    {
        std::unique_lock lock(assignments_mutex_);
        assignments_.swap(loaded);
    }
    // Outcomes of checks against a version no longer assigned go.
    std::lock_guard lock(last_mutex_);
    std::shared_lock assignments_lock(assignments_mutex_);
    std::erase_if(last_, [&](const auto& entry) {
        const auto found = assignments_.find(entry.first);
        return found == assignments_.end() ||
               found->second->ref.style != entry.second.version.style ||
               found->second->ref.number != entry.second.version.number;
    });
    return state::done{};
}

state::store_status drift_monitor::assign(std::span<const std::string> controllers,
                                          const std::optional<state::version_ref>& ref,
                                          const state::actor& by, const std::string& reason) {
    auto assigned = store_.assign(controllers, ref, by, reason, state::now());
    if (!assigned) return assigned;
    return load();
}

std::optional<drift_status> drift_monitor::check(const std::string& controller,
                                                 const ifc_client::settings_document& machine) {
    std::shared_ptr<const assigned_version> version;
    {
        std::shared_lock lock(assignments_mutex_);
        const auto found = assignments_.find(controller);
        if (found == assignments_.end()) return std::nullopt;
        version = found->second;
    }
    drift_status status = check_drift(version->ref, version->document, machine);
    std::lock_guard lock(last_mutex_);
    // Kept only while the assignment is still the one compared with (load() may have run
    // meanwhile), so that last() never shows the outcome of an assignment that is gone.
    std::shared_lock assignments_lock(assignments_mutex_);
    const auto now = assignments_.find(controller);
    if (now != assignments_.end() && now->second == version) {
        last_.insert_or_assign(controller, status);
    }
    return status;
}

std::optional<drift_status> drift_monitor::last(const std::string& controller) const {
    std::lock_guard lock(last_mutex_);
    const auto found = last_.find(controller);
    if (found == last_.end()) return std::nullopt;
    return found->second;
}

std::optional<state::version_ref> drift_monitor::assigned(const std::string& controller) const {
    std::shared_lock lock(assignments_mutex_);
    const auto found = assignments_.find(controller);
    if (found == assignments_.end()) return std::nullopt;
    return found->second->ref;
}

std::map<std::string, state::version_ref> drift_monitor::assignments() const {
    std::shared_lock lock(assignments_mutex_);
    std::map<std::string, state::version_ref> out;
    for (const auto& [controller, version] : assignments_)
        out.emplace(controller, version->ref);
    return out;
}

}  // namespace gateway::mill
