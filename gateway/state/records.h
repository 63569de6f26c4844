// The records of the gateway's state: library versions, assignments, roll-outs with their
// machines, logbook entries and the last settings seen of each machine. Plain values; the store
// (store.h) keeps them.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace gateway::state {

// Every time of the state: milliseconds since 1970, UTC.
using instant = std::chrono::sys_time<std::chrono::milliseconds>;
instant now();
// "2026-12-10T08:15:00.123Z"
std::string instant_text(instant t);
// "2026-12-10T08:15:00Z" or "2026-12-10T08:15:00.123Z"; nullopt for anything else.
std::optional<instant> parse_instant(std::string_view text);

// Who did something through the gateway: the name of the token the request carried ("local"
// for a request on loopback without a token), and the address it came from.
struct actor {
    std::string who{};
    std::string address{};
};
inline constexpr std::string_view local_actor = "local";

// A style (or article) and one of its versions, numbered from 1.
struct version_ref {
    std::string style{};
    int number = 0;
};
// "denim-12 v3"
std::string version_label(const version_ref& ref);
// A style's name: 1 to 64 letters, digits, '-', '_' and '.', as a controller's (it appears in
// paths of the API).
inline constexpr std::size_t max_style_name = 64;
bool is_style_name(std::string_view name);
inline constexpr std::size_t max_note = 2000;

struct library_version {
    std::int64_t id = 0;
    version_ref ref{};
    std::string note{};
    std::string source{};    // the controller whose settings were saved; empty for an import
    std::string document{};  // the settings document's text; empty in a list of versions
    instant saved_at{};
    actor saved_by{};
    std::optional<instant> hidden_at{};  // set once the version is deleted (hidden)
    std::string hidden_by{};
    bool hidden() const { return hidden_at.has_value(); }
};

struct new_version {
    std::string style{};
    std::string note{};
    std::string source{};
    std::string document{};  // as client/document_json.h writes it
    actor by{};
    instant at{};
    // Why it was saved, for the logbook entry of the save; empty: the note stands for it.
    std::string reason{};
};

struct version_query {
    std::string style{};  // empty: every style
    bool include_hidden = false;
};

struct assignment {
    std::string controller{};
    std::int64_t version_id = 0;
    version_ref version{};
    bool hidden = false;  // the version was hidden after it was assigned
    instant at{};
    actor by{};
};

// A roll-out: planning (the dry run reads every machine), planned (waits to be started),
// running, paused (after the first machine, when asked to), then one of the four ends.
enum class rollout_state {
    planning,
    planned,
    running,
    paused,
    completed,    // every machine applied
    stopped,      // a machine failed: the rest were left untouched
    cancelled,    // cancelled between machines
    interrupted,  // the gateway stopped in the middle
};
inline constexpr std::array<rollout_state, 8> all_rollout_states{
    rollout_state::planning,  rollout_state::planned,    rollout_state::running,
    rollout_state::paused,    rollout_state::completed,  rollout_state::stopped,
    rollout_state::cancelled, rollout_state::interrupted};
std::string_view state_name(rollout_state state);
std::optional<rollout_state> rollout_state_of(std::string_view name);
bool is_final(rollout_state state);

// One machine of a roll-out.
enum class machine_state {
    pending,   // not written yet
    running,   // being written now
    applied,   // every value written and read back
    restored,  // a write failed; every value changed was written back and read back
    failed,    // not written (unreachable, unreadable), or left partly changed: reason says
    unknown,   // the outcome could not be read back: the machine may hold either value
    skipped,   // left untouched: an earlier machine failed, or the roll-out was cancelled
};
inline constexpr std::size_t machine_state_count = 7;
inline constexpr std::array<machine_state, machine_state_count> all_machine_states{
    machine_state::pending, machine_state::running, machine_state::applied, machine_state::restored,
    machine_state::failed,  machine_state::unknown, machine_state::skipped};
std::string_view state_name(machine_state state);
std::optional<machine_state> machine_state_of(std::string_view name);

struct rollout_options {
    int parallel = 1;                // machines written at a time after the first
    bool pause_after_first = false;  // wait for resume after the first machine
};
inline constexpr int max_parallel = 8;
inline constexpr std::size_t max_rollout_machines = 2000;

struct rollout_machine {
    int position = 0;  // 0: the first machine, written alone
    std::string controller{};
    machine_state state = machine_state::pending;
    // The dry run: the values that differ (empty until it read the machine, or when it could
    // not) and the changes as a JSON array (mill/change_json.h).
    std::optional<int> planned_values{};
    std::string plan{};
    // The write: the values changed as a JSON array, and how many.
    std::string changes{};
    int values_written = 0;
    std::string
        reason{};  // why it failed, was restored or skipped; what the dry run could not read
    std::optional<instant> started_at{};
    std::optional<instant> ended_at{};
    double apply_ms = 0;  // the time the write held the machine (its read, writes, read-backs)
};

struct rollout {
    std::int64_t id = 0;
    std::int64_t version_id = 0;
    version_ref version{};
    rollout_state state = rollout_state::planning;
    rollout_options options{};
    actor by{};
    std::string reason{};  // the engineer's note, copied into the logbook entries
    instant created_at{};
    std::optional<instant> started_at{};
    std::optional<instant> ended_at{};
    std::string end_reason{};
    std::vector<rollout_machine> machines{};  // in order; empty in a list of roll-outs
    std::array<int, machine_state_count>
        counts{};  // machines per state, in all_machine_states order
    int count(machine_state state) const { return counts[static_cast<std::size_t>(state)]; }
};

// Where a change came from: through the gateway (a write, a roll-out), or from elsewhere (a
// terminal, ifc-client, a technician at the machine), found by comparing two polls.
enum class change_origin { gateway, outside };
std::string_view origin_name(change_origin origin);  // "gateway", "outside"
std::optional<change_origin> origin_of(std::string_view name);
// What the logbook says of an outside change in place of a name.
inline constexpr std::string_view outside_text = "changed at the machine or by another client";

// The sections of logbook entries that are no settings.
inline constexpr std::string_view library_section = "library";        // key: "denim-12 v3"
inline constexpr std::string_view assignment_section = "assignment";  // key: "version"
inline constexpr std::string_view logbook_section = "logbook";        // entries lost

struct log_entry {
    std::int64_t id = 0;
    instant at{};  // when the gateway made the change, or the poll that saw it
    // An outside change: the poll before, which still saw the old value.
    std::optional<instant> since{};
    std::string controller{};  // empty for the library's own entries
    std::string section{};     // "status", "valves", ... or one of the sections above
    int colour = 0;            // targets and valves
    std::string key{};
    std::optional<std::string> old_value{};
    std::optional<std::string> new_value{};
    change_origin origin = change_origin::gateway;
    std::string who{};  // the gateway's: the token's name or "local"; empty for outside changes
    std::string address{};
    std::string reason{};
    std::optional<std::int64_t> rollout{};
};

// The place of an entry in the logbook's order (time, then the entry's number).
struct log_cursor {
    instant at{};
    std::int64_t id = 0;
};

struct log_query {
    std::string controller{};  // empty: every machine (and the library's entries)
    std::string section{};     // empty: every section ("valves", "library", ...)
    std::string key{};         // empty: every key
    std::string who{};         // empty: anybody
    std::optional<change_origin> origin{};
    std::optional<instant> from{};      // at >= from
    std::optional<instant> until{};     // at < until
    bool oldest_first = false;          // newest first unless set
    std::optional<log_cursor> after{};  // the page after this entry, in the query's order
    std::size_t limit = 100;            // at most max_log_page
};
inline constexpr std::size_t max_log_page = 1000;

struct log_page {
    std::vector<log_entry> entries{};
    std::optional<log_cursor> next{};  // set when there may be more
};

// The settings a machine was last seen with, kept so that a change made while the gateway was
// not running is found at its first poll.
struct machine_baseline {
    std::string controller{};
    std::string document{};  // the settings document's text
    instant seen_at{};       // the last poll that saw these values
};

}  // namespace gateway::state
