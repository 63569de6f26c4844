#include "gateway/mill/change_watch.h"

#include "client/document_json.h"

namespace gateway::mill {

using ifc_client::difference;

namespace {

constexpr std::string_view unknown_outcome_note =
    "a write of unknown outcome, seen at the next poll";

state::log_entry entry_of(const std::string& controller, const difference& d, state::instant at) {
    state::log_entry e;
    e.at = at;
    e.controller = controller;
    e.section = std::string(ifc_client::section_name(d.where));
    e.colour = ifc_client::per_colour(d.where) ? d.colour : 0;
    e.key = d.key;
    if (d.old_value) e.old_value = ifc_client::value_text(*d.old_value);
    if (d.new_value) e.new_value = ifc_client::value_text(*d.new_value);
    return e;
}

}  // namespace

change_watch::machine& change_watch::machine_of(const std::string& controller) {
    std::lock_guard lock(machines_mutex_);
    auto& slot = machines_[controller];
    if (!slot) slot = std::make_unique<machine>();
    return *slot;
}

state::store_status change_watch::load(state::store& store) {
    auto baselines = store.list_baselines();
    if (!baselines) return baselines.failure();
    for (const state::machine_baseline& b : baselines.value()) {
        auto doc = ifc_client::parse_document(b.document);
        if (!doc) continue;  // values the reader refuses: the first poll starts afresh
        machine& m = machine_of(b.controller);
        std::lock_guard lock(m.mutex);
        if (m.baseline) continue;  // polled already
        m.baseline = std::move(doc.value());
        m.seen_at = m.kept_at = b.seen_at;
    }
    return state::done{};
}

std::vector<state::log_entry> change_watch::observe(const std::string& controller,
                                                    const ifc_client::settings_document& now,
                                                    state::instant at) {
    machine& m = machine_of(controller);
    std::vector<state::log_entry> entries;
    bool changed = false;
    {
        std::lock_guard lock(m.mutex);
        if (m.baseline) {
            for (const difference& d : ifc_client::diff_documents(*m.baseline, now)) {
                changed = true;
                if (d.only_in) continue;  // a part read only now, or no longer: no value changed
                const auto mark = m.own.find(key_of(d));
                if (mark != m.own.end() && mark->second.open) continue;  // the gateway's write
                state::log_entry e = entry_of(controller, d, at);
                e.since = m.seen_at;
                if (mark != m.own.end()) {
                    const own_write_author& author = mark->second.author;
                    e.who = author.by.who;
                    e.address = author.by.address;
                    e.rollout = author.rollout;
                    e.reason = author.reason.empty()
                                   ? std::string(unknown_outcome_note)
                                   : author.reason + " (" + std::string(unknown_outcome_note) + ")";
                } else {
                    e.origin = state::change_origin::outside;
                }
                entries.push_back(std::move(e));
            }
            // A write of unknown outcome is settled by this poll.
            std::erase_if(m.own, [](const auto& mark) { return !mark.second.open; });
        } else {
            changed = true;
        }
        m.baseline = now;
        m.seen_at = at;
        if (changed || at - m.kept_at >= keep_interval) {
            m.kept_at = at;
            log_.keep_baseline({controller, ifc_client::format_document(now), at});
        }
    }
    if (!entries.empty()) log_.record(entries);
    return entries;
}

void change_watch::begin_own_write(const std::string& controller,
                                   const std::vector<setting_key>& keys,
                                   const own_write_author& author) {
    machine& m = machine_of(controller);
    std::lock_guard lock(m.mutex);
    for (const setting_key& key : keys)
        m.own.insert_or_assign(key, own_mark{author, true});
}

void change_watch::end_own_write(const std::string& controller,
                                 const ifc_client::settings_document* now) {
    machine& m = machine_of(controller);
    std::lock_guard lock(m.mutex);
    for (auto mark = m.own.begin(); mark != m.own.end();) {
        if (!mark->second.open) {
            ++mark;
            continue;
        }
        if (now == nullptr) {
            mark->second.open = false;  // the next poll tells
            ++mark;
            continue;
        }
        if (m.baseline) {
            if (const auto value = value_at(*now, mark->first)) {
                set_value(*m.baseline, mark->first, *value);
            }
        }
        mark = m.own.erase(mark);
    }
}

void change_watch::note_own_changes(const std::string& controller,
                                    std::span<const difference> changed) {
    machine& m = machine_of(controller);
    std::lock_guard lock(m.mutex);
    if (!m.baseline) return;
    for (const difference& d : changed) {
        if (d.new_value) set_value(*m.baseline, key_of(d), *d.new_value);
    }
}

}  // namespace gateway::mill
