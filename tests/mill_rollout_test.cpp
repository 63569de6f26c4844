// Roll-outs against real servers and a real SQLite file: a dry run that lists each machine's
// changes; twenty looms with one made to fail (ifc-proxy cuts its write), where the roll-out
// stops, reports every machine and leaves the rest untouched; other failures (a refused write,
// a stopped server, the first machine failing); several machines at a time; a pause after the
// first machine; a cancel between machines; a gateway that stops cleanly, and one killed in
// the middle, both leaving the roll-out interrupted with the machine being written of unknown
// outcome; the logbook entries of every value written.
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "gateway/mill/direct_machine_access.h"
#include "gateway/mill/rollout_runner.h"
#include "gateway/mill/settings_library.h"
#include "gateway/mill/state_json.h"
#include "gateway/state/sqlite_store.h"
#include "tests/support/case_names.h"
#include "tests/support/files.h"
#include "tests/support/mill_looms.h"
#include "tests/support/proxy_process.h"
#include "tests/support/wait.h"

namespace {

using namespace std::chrono_literals;
using gateway::state::machine_state;
using gateway::state::rollout;
using gateway::state::rollout_state;

const gateway::state::actor anna{"anna", "10.0.0.1"};

// The whole mill on one state directory: the library holding denim-12 v1, the machines reached
// directly (through whatever the test put in hall.endpoints()), the runner.
struct mill {
    explicit mill(test_support::loom_hall& hall, const std::string& state_dir)
        : store(state_dir), machines(hall.endpoints()), runner(store, machines) {
        // Saved once per state directory.
        if (!store.find_version(version).ok()) {
            EXPECT_TRUE(
                library.save("denim-12", "", test_support::denim_settings(), anna, "").ok());
        }
    }

    // Plans a roll-out of denim-12 v1 and waits for its dry run.
    rollout plan(const std::vector<std::string>& controllers,
                 gateway::state::rollout_options options = {}) {
        auto planned = runner.plan({version, controllers, options, anna, "style change"});
        EXPECT_TRUE(planned.ok()) << planned.failure().reason;
        if (!planned.ok()) return {};
        EXPECT_TRUE(runner.wait(planned->id, 30s));
        return runner.find(planned->id).value();
    }
    rollout run(std::int64_t id) {
        auto started = runner.start(id);
        EXPECT_TRUE(started.ok()) << started.failure().reason;
        EXPECT_TRUE(runner.wait(id, 60s));
        return runner.find(id).value();
    }
    machine_state state_of(std::int64_t id, std::size_t position) {
        return runner.find(id).value().machines.at(position).state;
    }

    gateway::state::sqlite_store store;
    gateway::mill::settings_library library{store};
    gateway::state::version_ref version{"denim-12", 1};
    gateway::mill::direct_machine_access machines;
    gateway::mill::rollout_runner runner;
};

std::vector<std::string> states_of(const rollout& r) {
    std::vector<std::string> states;
    for (const auto& m : r.machines)
        states.emplace_back(gateway::state::state_name(m.state));
    return states;
}

// The loom holds the style (true) or what it held before (false).
void expect_loom_holds(test_support::loom_hall& hall, int index, bool style) {
    const auto expected = style ? test_support::denim_settings() : test_support::default_settings();
    EXPECT_EQ(test_support::differences_text(expected, hall.read(index)), "")
        << test_support::loom_hall::name(index) << (style ? " lacks the style" : " was touched");
}

std::string rules(const std::string& rule) {
    return R"({"rules": [)" + rule + "]}";
}
const std::string cut_first_write = rules(
    R"({"kind": "PUT", "command": "IFC_set_*", "nth": 1, "action": "cut", "at": "before_fin"})");

TEST(Rollout, OverTwentyLoomsStopsAtTheOneThatFailsAndReportsEveryMachine) {
    test_support::loom_hall hall(20);
    ASSERT_EQ(test_support::differences_text(test_support::default_settings(),
                                             test_support::denim_settings())
                  .empty(),
              false);
    // loom7's first write is cut before its FIN: the controller holds the value, the gateway
    // does not know it.
    test_support::proxy_process proxy(hall.server(6).port(), {cut_first_write, {}});
    hall.endpoints()["loom7"] = proxy.endpoint();
    test_support::temp_dir dir;
    mill m(hall, dir.path());

    const rollout planned = m.plan(hall.names());
    ASSERT_EQ(planned.state, rollout_state::planned);
    ASSERT_EQ(planned.machines.size(), 20u);
    for (const auto& machine : planned.machines) {
        EXPECT_EQ(machine.state, machine_state::pending);
        EXPECT_EQ(machine.planned_values, 4) << machine.controller << ": " << machine.reason;
        const auto plan = nlohmann::json::parse(machine.plan);
        ASSERT_EQ(plan.size(), 4u);
        EXPECT_EQ(plan[0], nlohmann::json::parse(
                               R"({"section": "status", "key": "mode", "from": 0, "to": 1})"));
        EXPECT_EQ(plan[2]["section"], "valves");
        EXPECT_EQ(plan[2]["colour"], 2);
        EXPECT_EQ(plan[2]["key"], "main_on");
    }
    // The dry run wrote nothing.
    for (int i = 0; i < 20; ++i)
        expect_loom_holds(hall, i, false);

    const rollout done = m.run(planned.id);
    EXPECT_EQ(done.state, rollout_state::stopped);
    EXPECT_NE(done.end_reason.find("loom7 was not applied (restored)"), std::string::npos)
        << done.end_reason;
    std::vector<std::string> expected(20, "skipped");
    std::fill_n(expected.begin(), 6, "applied");
    expected[6] = "restored";
    EXPECT_EQ(states_of(done), expected);
    EXPECT_EQ(done.count(machine_state::applied), 6);
    EXPECT_EQ(done.count(machine_state::skipped), 13);
    const auto& loom7 = done.machines[6];
    EXPECT_NE(loom7.reason.find("status: outcome unknown"), std::string::npos) << loom7.reason;
    EXPECT_NE(loom7.reason.find("every value changed was written back"), std::string::npos);
    EXPECT_EQ(loom7.values_written, 0);
    EXPECT_NE(done.machines[12].reason.find("left untouched: loom7 was not applied"),
              std::string::npos)
        << done.machines[12].reason;
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(done.machines[static_cast<std::size_t>(i)].values_written, 4);
        expect_loom_holds(hall, i, true);
    }
    for (int i = 6; i < 20; ++i)
        expect_loom_holds(hall, i, false);

    // The logbook has every value that landed, with who, why and the roll-out.
    auto loom1 = m.store.query_log({.controller = "loom1", .section = "valves"});
    ASSERT_TRUE(loom1.ok());
    ASSERT_EQ(loom1->entries.size(), 2u);
    EXPECT_EQ(loom1->entries[0].who, "anna");
    EXPECT_EQ(loom1->entries[0].address, "10.0.0.1");
    EXPECT_EQ(loom1->entries[0].reason, "style change");
    EXPECT_EQ(loom1->entries[0].rollout, done.id);
    auto written_back = m.store.query_log({.controller = "loom7", .oldest_first = true});
    ASSERT_TRUE(written_back.ok());
    ASSERT_EQ(written_back->entries.size(), 2u);  // mode 0 -> 1, then 1 -> 0
    EXPECT_EQ(written_back->entries[0].new_value, "1");
    EXPECT_EQ(written_back->entries[1].new_value, "0");
    EXPECT_EQ(written_back->entries[1].reason, "written back after a failed write");
    EXPECT_TRUE(m.store.query_log({.controller = "loom8"})->entries.empty());
}

struct failure_case {
    const char* name;
    int failing;              // the loom that fails
    std::string proxy_rules;  // in front of it; empty: its server is stopped after the dry run
    std::vector<std::string> states;
    const char* reason;  // in the failing machine's reason
};
void PrintTo(const failure_case& c, std::ostream* os) {
    *os << c.name;
}

class RolloutFailure : public ::testing::TestWithParam<failure_case> {};

TEST_P(RolloutFailure, StopsThereAndLeavesTheRestUntouched) {
    const failure_case& c = GetParam();
    test_support::loom_hall hall(3);
    std::optional<test_support::proxy_process> proxy;
    if (!c.proxy_rules.empty()) {
        proxy.emplace(hall.server(c.failing).port(),
                      test_support::proxy_options{c.proxy_rules, {}});
        hall.endpoints()[test_support::loom_hall::name(c.failing)] = proxy->endpoint();
    }
    test_support::temp_dir dir;
    mill m(hall, dir.path());
    const rollout planned = m.plan(hall.names());
    ASSERT_EQ(planned.state, rollout_state::planned);
    if (c.proxy_rules.empty()) hall.server(c.failing).kill();

    const rollout done = m.run(planned.id);
    EXPECT_EQ(done.state, rollout_state::stopped);
    EXPECT_EQ(states_of(done), c.states);
    const auto& failed = done.machines[static_cast<std::size_t>(c.failing)];
    EXPECT_NE(failed.reason.find(c.reason), std::string::npos) << failed.reason;
    // As the API shows it.
    const auto shown = gateway::mill::rollout_json(done);
    EXPECT_EQ(shown["label"], "denim-12 v1");
    EXPECT_EQ(shown["state"], "stopped");
    EXPECT_EQ(shown["counts"]["skipped"], std::count(c.states.begin(), c.states.end(), "skipped"));
    EXPECT_EQ(shown["machines"][c.failing]["state"], c.states[static_cast<std::size_t>(c.failing)]);
    EXPECT_EQ(shown["machines"][2]["changes"], nullptr);
    if (c.failing > 0) {
        EXPECT_EQ(shown["machines"][0]["plan"].size(), 4u);
        EXPECT_EQ(shown["machines"][0]["changes"]["steps"][0]["outcome"], "applied");
    }
    for (int i = 0; i < 3; ++i) {
        if (i == c.failing && c.proxy_rules.empty()) continue;
        expect_loom_holds(hall, i, i < c.failing);
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, RolloutFailure,
                         ::testing::Values(failure_case{"write_cut_before_its_fin",
                                                        1,
                                                        cut_first_write,
                                                        {"applied", "restored", "skipped"},
                                                        "status: outcome unknown"},
                                           failure_case{
                                               "write_refused",
                                               1,
                                               rules(R"({"kind": "PUT", "action": "err"})"),
                                               {"applied", "restored", "skipped"},
                                               "status: failed (rejected"},
                                           failure_case{"server_stopped",
                                                        1,
                                                        "",
                                                        {"applied", "failed", "skipped"},
                                                        "nothing written: connection refused"},
                                           failure_case{"first_machine_fails",
                                                        0,
                                                        "",
                                                        {"failed", "skipped", "skipped"},
                                                        "nothing written: connection refused"}),
                         test_support::case_name{});

TEST(Rollout, DryRunNamesAMachineItCannotRead) {
    test_support::loom_hall hall(2);
    hall.server(1).kill();
    test_support::temp_dir dir;
    mill m(hall, dir.path());
    const rollout planned = m.plan(hall.names());
    EXPECT_EQ(planned.state, rollout_state::planned);
    EXPECT_EQ(planned.machines[0].planned_values, 4);
    EXPECT_FALSE(planned.machines[1].planned_values.has_value());
    EXPECT_NE(planned.machines[1].reason.find("the dry run could not read it: connection refused"),
              std::string::npos)
        << planned.machines[1].reason;
}

TEST(Rollout, WritesSeveralAtATimeAfterTheFirstAlone) {
    test_support::loom_hall hall(7);
    test_support::temp_dir dir;
    mill m(hall, dir.path());
    const rollout planned = m.plan(hall.names(), {.parallel = 3});
    const rollout done = m.run(planned.id);
    EXPECT_EQ(done.state, rollout_state::completed);
    EXPECT_EQ(done.count(machine_state::applied), 7);
    for (std::size_t i = 1; i < done.machines.size(); ++i) {
        EXPECT_GE(*done.machines[i].started_at, *done.machines[0].ended_at);
    }
    for (int i = 0; i < 7; ++i)
        expect_loom_holds(hall, i, true);
    // A second roll-out of the same version finds nothing to write.
    const rollout again = m.run(m.plan(hall.names()).id);
    EXPECT_EQ(again.state, rollout_state::completed);
    EXPECT_EQ(again.machines[3].values_written, 0);
    EXPECT_EQ(again.machines[3].planned_values, 0);
}

TEST(Rollout, PausedAfterTheFirstMachineGoesOnOrIsCancelled) {
    test_support::loom_hall hall(3);
    test_support::temp_dir dir;
    mill m(hall, dir.path());
    const rollout first = m.run(m.plan(hall.names(), {.pause_after_first = true}).id);
    EXPECT_EQ(first.state, rollout_state::paused);
    EXPECT_EQ(states_of(first), (std::vector<std::string>{"applied", "pending", "pending"}));
    expect_loom_holds(hall, 1, false);
    ASSERT_TRUE(m.runner.resume(first.id).ok());
    ASSERT_TRUE(m.runner.wait(first.id, 30s));
    EXPECT_EQ(m.runner.find(first.id)->state, rollout_state::completed);
    for (int i = 0; i < 3; ++i)
        expect_loom_holds(hall, i, true);

    // The same on fresh looms, cancelled while it waits.
    test_support::loom_hall other(3);
    test_support::temp_dir other_dir;
    mill n(other, other_dir.path());
    const rollout second = n.run(n.plan(other.names(), {.pause_after_first = true}).id);
    ASSERT_EQ(second.state, rollout_state::paused);
    ASSERT_TRUE(n.runner.cancel(second.id).ok());
    const rollout cancelled = n.runner.find(second.id).value();
    EXPECT_EQ(cancelled.state, rollout_state::cancelled);
    EXPECT_EQ(states_of(cancelled), (std::vector<std::string>{"applied", "skipped", "skipped"}));
    EXPECT_EQ(cancelled.machines[1].reason, "the roll-out was cancelled");
    expect_loom_holds(other, 1, false);
    expect_loom_holds(other, 2, false);
    EXPECT_EQ(n.runner.cancel(second.id).code(), gateway::state::store_errc::conflict);
    EXPECT_EQ(n.runner.start(second.id).code(), gateway::state::store_errc::conflict);
}

// loom2's writes each wait a moment in ifc-proxy, so that the test can act while it is written.
const std::string slow_writes =
    rules(R"({"kind": "PUT", "command": "IFC_set_*", "action": "delay", "seconds": 0.3})");

TEST(Rollout, CancelledBetweenMachinesAndOneRunAtATime) {
    test_support::loom_hall hall(5);
    test_support::proxy_process proxy(hall.server(1).port(), {slow_writes, {}});
    hall.endpoints()["loom2"] = proxy.endpoint();
    test_support::temp_dir dir;
    mill m(hall, dir.path());
    const rollout planned = m.plan(hall.names());
    const rollout other = m.plan({"loom5"});
    ASSERT_TRUE(m.runner.start(planned.id).ok());
    ASSERT_TRUE(test_support::wait_until(
        [&] { return m.state_of(planned.id, 1) == machine_state::running; }, 10s));

    auto refused = m.runner.start(other.id);
    EXPECT_EQ(refused.code(), gateway::state::store_errc::conflict);
    EXPECT_NE(refused.failure().reason.find("is running"), std::string::npos);
    ASSERT_TRUE(m.runner.cancel(planned.id).ok());
    ASSERT_TRUE(m.runner.wait(planned.id, 30s));
    const rollout done = m.runner.find(planned.id).value();
    EXPECT_EQ(done.state, rollout_state::cancelled);
    EXPECT_EQ(states_of(done),
              (std::vector<std::string>{"applied", "applied", "skipped", "skipped", "skipped"}));
    EXPECT_EQ(done.machines[4].reason, "the roll-out was cancelled");
    expect_loom_holds(hall, 1, true);  // the machine under way was finished
    for (int i = 2; i < 5; ++i)
        expect_loom_holds(hall, i, false);
    // Now the other may run.
    EXPECT_EQ(m.run(other.id).state, rollout_state::completed);
}

TEST(Rollout, GatewayThatStopsLeavesItInterrupted) {
    test_support::loom_hall hall(4);
    test_support::proxy_process proxy(hall.server(1).port(), {slow_writes, {}});
    hall.endpoints()["loom2"] = proxy.endpoint();
    test_support::temp_dir dir;
    std::int64_t id = 0;
    {
        mill m(hall, dir.path());
        id = m.plan(hall.names()).id;
        ASSERT_TRUE(m.runner.start(id).ok());
        ASSERT_TRUE(test_support::wait_until(
            [&] { return m.state_of(id, 1) == machine_state::running; }, 10s));
    }  // the runner stops: loom2 is finished, nothing else starts
    mill after(hall, dir.path());
    EXPECT_EQ(after.runner.recover().value(), 0);  // nothing was left running
    const rollout r = after.runner.find(id).value();
    EXPECT_EQ(r.state, rollout_state::interrupted);
    EXPECT_EQ(r.end_reason, "the gateway stopped during the roll-out");
    EXPECT_EQ(states_of(r), (std::vector<std::string>{"applied", "applied", "skipped", "skipped"}));
    EXPECT_EQ(r.machines[2].reason, "the roll-out was interrupted");
    expect_loom_holds(hall, 2, false);
}

// A gateway killed while it writes loom3 (whose write stalls in ifc-proxy): the database says
// exactly what happened, and the next start marks the roll-out interrupted.
TEST(Rollout, GatewayKilledInTheMiddleLeavesItInterruptedNeverHalfReported) {
    test_support::loom_hall hall(4);
    test_support::proxy_process proxy(
        hall.server(2).port(),
        {rules(R"({"kind": "PUT", "command": "IFC_set_*", "nth": 1, "action": "stall",
                   "at": "before_fin", "seconds": 30})"),
         {}});
    hall.endpoints()["loom3"] = proxy.endpoint();
    test_support::temp_dir dir;
    std::int64_t id = 0;
    {
        mill m(hall, dir.path());
        id = m.plan(hall.names()).id;
    }  // no thread of the test runs when it forks

    const pid_t gateway = ::fork();
    ASSERT_GE(gateway, 0);
    if (gateway == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        {
            mill m(hall, dir.path());
            m.runner.start(id);
            m.runner.wait(id, 60s);
        }
        _exit(0);
    }
    // Watch the database as another program would, until loom3 is being written.
    const std::string db = dir.file(std::string(gateway::state::database_file_name));
    const auto loom3_state = [&] {
        try {
            auto conn = gateway::state::sqlite_db::open(db, 100);
            auto stmt = conn.prepare(
                "SELECT state FROM rollout_machines WHERE rollout = ?1 AND position = 2");
            stmt.bind(1, id);
            return stmt.step() ? stmt.text(0) : std::string();
        } catch (const gateway::state::sqlite_error&) {
            return std::string();
        }
    };
    const bool writing = test_support::wait_until([&] { return loom3_state() == "running"; }, 20s);
    ::kill(gateway, SIGKILL);
    ::waitpid(gateway, nullptr, 0);
    ASSERT_TRUE(writing);

    mill after(hall, dir.path());
    EXPECT_EQ(after.runner.recover().value(), 1);
    const rollout r = after.runner.find(id).value();
    EXPECT_EQ(r.state, rollout_state::interrupted);
    EXPECT_EQ(states_of(r), (std::vector<std::string>{"applied", "applied", "unknown", "skipped"}));
    EXPECT_NE(r.machines[2].reason.find("the gateway stopped while writing this machine"),
              std::string::npos);
    EXPECT_EQ(r.machines[3].reason, "the roll-out was interrupted");
    // What was reported applied is there; what was skipped is untouched.
    expect_loom_holds(hall, 0, true);
    expect_loom_holds(hall, 1, true);
    expect_loom_holds(hall, 3, false);
    // Every value the killed gateway reported written is in the logbook.
    EXPECT_EQ(after.store.query_log({.controller = "loom2"})->entries.size(), 4u);
}

TEST(Rollout, RefusesWhatCannotBeRolledOut) {
    test_support::loom_hall hall(1);
    test_support::temp_dir dir;
    mill m(hall, dir.path());
    auto unknown = m.runner.plan({m.version, {"loom1", "loom9"}, {}, anna, ""});
    EXPECT_EQ(unknown.code(), gateway::state::store_errc::invalid);
    EXPECT_NE(unknown.failure().reason.find("no controller loom9"), std::string::npos);
    auto twice = m.runner.plan({m.version, {"loom1", "loom1"}, {}, anna, ""});
    EXPECT_EQ(twice.code(), gateway::state::store_errc::invalid);
    auto too_parallel = m.runner.plan({m.version, {"loom1"}, {.parallel = 9}, anna, ""});
    EXPECT_EQ(too_parallel.code(), gateway::state::store_errc::invalid);
    auto none = m.runner.plan({{"twill-3", 1}, {"loom1"}, {}, anna, ""});
    EXPECT_EQ(none.code(), gateway::state::store_errc::not_found);
    const rollout planned = m.plan({"loom1"});
    ASSERT_TRUE(m.library.hide(m.version, anna, "").ok());
    EXPECT_EQ(m.runner.plan({m.version, {"loom1"}, {}, anna, ""}).code(),
              gateway::state::store_errc::conflict);
    // Hidden after it was planned: it does not start.
    auto start = m.runner.start(planned.id);
    EXPECT_EQ(start.code(), gateway::state::store_errc::conflict);
    EXPECT_NE(start.failure().reason.find("hidden"), std::string::npos);
    expect_loom_holds(hall, 0, false);
}

}  // namespace
