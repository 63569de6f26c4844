// The mill as the gateway holds it, against a real server and a real SQLite file: a poll
// gives the drift and the outside changes, a write of the gateway's own goes to the logbook
// with who made it and is no outside change; a store that cannot be used at the start is
// loaded by a later poll (assignments back, roll-outs left running marked interrupted), and
// the polls go on meanwhile.
#include <gtest/gtest.h>

#include <string>

#include "client/settings_access.h"
#include "gateway/mill/direct_machine_access.h"
#include "gateway/mill/mill_context.h"
#include "gateway/mill/snapshot_document.h"
#include "gateway/snapshot.h"
#include "tests/support/files.h"
#include "tests/support/mill_looms.h"
#include "tests/support/wait.h"

namespace {

using namespace std::chrono_literals;
using gateway::state::change_origin;

const gateway::state::actor anna{"anna", "10.0.0.1"};

gateway::machine_snapshot snapshot_of(test_support::loom_hall& hall) {
    auto conn = hall.server(0).connect();
    auto snapshot = gateway::read_snapshot(conn);
    conn.disconnect();
    if (!snapshot) throw std::runtime_error("poll failed: " + snapshot.failure().detail);
    return snapshot.value();
}

void set_main_on(test_support::loom_hall& hall, int colour, int value) {
    auto conn = hall.server(0).connect();
    const ifc_client::change c{"main_on", value};
    ASSERT_TRUE(ifc_client::write_valves(conn, colour, {&c, 1}).ok());
}

TEST(MillContext, PollsGiveDriftAndOutsideChangesAndTheGatewaysWritesAreRecordedAsItsOwn) {
    test_support::loom_hall hall(1);
    test_support::temp_dir dir;
    gateway::mill::direct_machine_access machines(hall.endpoints());
    gateway::mill::mill_context mill({dir.path()}, machines);
    ASSERT_TRUE(mill.health().available());

    const auto t0 = gateway::state::now() - 1min;
    auto first = mill.on_poll("loom1", "127.0.0.1:1", snapshot_of(hall), t0);
    EXPECT_FALSE(first.drift.has_value());
    EXPECT_TRUE(first.outside_changes.empty());
    auto saved = mill.library().save(
        "denim-12", "", gateway::mill::document_of(snapshot_of(hall), {"loom1", "", {}}, ""), anna,
        "");
    ASSERT_TRUE(saved.ok());
    const std::string loom1 = "loom1";
    ASSERT_TRUE(mill.drift().assign({&loom1, 1}, saved->ref, anna, "").ok());

    set_main_on(hall, 2, 111);
    auto second = mill.on_poll("loom1", "127.0.0.1:1", snapshot_of(hall), t0 + 1s);
    ASSERT_TRUE(second.drift.has_value());
    EXPECT_EQ(second.drift->summary(), "1 value differs from denim-12 v1");
    ASSERT_EQ(second.outside_changes.size(), 1u);
    EXPECT_EQ(second.outside_changes[0].new_value, "111");

    // A write of the gateway's own, between two polls: the line as read first and read back.
    const auto before = gateway::mill::document_of(snapshot_of(hall), {}, "");
    set_main_on(hall, 2, 112);
    const auto after = gateway::mill::document_of(snapshot_of(hall), {}, "");
    mill.on_write("loom1", before, after, anna, "fault on the left edge");
    auto third = mill.on_poll("loom1", "127.0.0.1:1", snapshot_of(hall), t0 + 2s);
    EXPECT_TRUE(third.outside_changes.empty());

    ASSERT_TRUE(mill.log().flush(5s));
    auto entries = mill.store().query_log({.controller = "loom1", .section = "valves"});
    ASSERT_TRUE(entries.ok());
    ASSERT_EQ(entries->entries.size(), 2u);
    // Ordered by time: the outside change first (the polls' times here are a minute ago).
    const auto& written = entries->entries[0];
    EXPECT_EQ(written.origin, change_origin::gateway);
    EXPECT_EQ(written.who, "anna");
    EXPECT_EQ(written.reason, "fault on the left edge");
    EXPECT_EQ(written.old_value, "111");
    EXPECT_EQ(written.new_value, "112");
    EXPECT_EQ(entries->entries[1].origin, change_origin::outside);
}

TEST(MillContext, StateUnavailableAtTheStartIsLoadedByALaterPoll) {
    test_support::loom_hall hall(1);
    test_support::temp_dir dir;
    gateway::mill::direct_machine_access machines(hall.endpoints());
    std::int64_t left_running = 0;
    // Another gateway holds the state directory: it assigned a version and left a roll-out
    // running.
    std::optional<gateway::state::sqlite_store> other(std::in_place, dir.path());
    {
        gateway::mill::settings_library library(*other);
        auto saved = library.save("denim-12", "", test_support::default_settings(), anna, "");
        ASSERT_TRUE(saved.ok());
        const std::string loom1 = "loom1";
        ASSERT_TRUE(other->assign({&loom1, 1}, saved->ref, anna, "", gateway::state::now()).ok());
        auto r =
            other->create_rollout(saved->ref, {&loom1, 1}, {}, anna, "", gateway::state::now());
        ASSERT_TRUE(r.ok());
        left_running = r->id;
        ASSERT_TRUE(other
                        ->set_rollout_state(left_running, gateway::state::rollout_state::running,
                                            "", gateway::state::now())
                        .ok());
    }
    int reports = 0;
    gateway::mill::mill_options options{dir.path()};
    options.reload_interval = 50ms;
    options.on_health_change = [&](const gateway::state::store_health&) { ++reports; };
    gateway::mill::mill_context mill(options, machines);
    EXPECT_FALSE(mill.health().available());
    EXPECT_NE(mill.health().reason.find("another ifc-gateway"), std::string::npos);
    EXPECT_EQ(reports, 1);

    // The polls go on without the state.
    auto found = mill.on_poll("loom1", "", snapshot_of(hall), gateway::state::now());
    EXPECT_FALSE(found.drift.has_value());
    EXPECT_EQ(mill.rollouts().find(left_running).code(), gateway::state::store_errc::unavailable);

    other.reset();
    ASSERT_TRUE(test_support::wait_until(
        [&] {
            return mill.on_poll("loom1", "", snapshot_of(hall), gateway::state::now())
                .drift.has_value();
        },
        5s));
    EXPECT_TRUE(mill.health().available());
    EXPECT_EQ(reports, 2);
    auto r = mill.rollouts().find(left_running);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r->state, gateway::state::rollout_state::interrupted);
}

}  // namespace
