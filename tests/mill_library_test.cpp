// The settings library and drift, on a real SQLite file and real servers: every save a new
// version that stays as it was, hiding keeps a version (and says so in the logbook), import and
// export as settings documents, comparisons; a poll's snapshot as a document; drift that
// appears when a value is changed at the machine with the client library and goes when it is
// changed back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client/document_diff.h"
#include "client/document_json.h"
#include "client/document_read.h"
#include "client/settings_access.h"
#include "gateway/mill/document_values.h"
#include "gateway/mill/drift.h"
#include "gateway/mill/settings_library.h"
#include "gateway/mill/snapshot_document.h"
#include "gateway/mill/state_json.h"
#include "gateway/snapshot.h"
#include "gateway/state/sqlite_store.h"
#include "tests/support/case_names.h"
#include "tests/support/files.h"
#include "tests/support/mill_looms.h"

namespace {

using gateway::mill::settings_library;
using gateway::state::store_errc;
using ifc_client::section;
using ifc_client::settings_document;

const gateway::state::actor anna{"anna", "10.0.0.1"};

struct library_fixture {
    test_support::temp_dir dir;
    gateway::state::sqlite_store store{dir.path()};
    settings_library library{store};
};

TEST(SettingsLibrary, EverySaveIsANewVersionKeptAsItWasSaved) {
    library_fixture f;
    const settings_document first = test_support::default_settings();
    const settings_document second = test_support::denim_settings();
    auto v1 = f.library.save("denim-12", "from loom 7", first, anna, "");
    auto v2 = f.library.save("denim-12", "main valve later", second, anna, "");
    auto other = f.library.save("twill-3", "", first, anna, "");
    ASSERT_TRUE(v1.ok() && v2.ok() && other.ok());
    EXPECT_EQ(v1->ref.number, 1);
    EXPECT_EQ(v2->ref.number, 2);
    EXPECT_EQ(other->ref.number, 1);

    // Each version's document is the one saved, named after its style, with its note.
    auto doc1 = f.library.document({"denim-12", 1});
    ASSERT_TRUE(doc1.ok());
    EXPECT_EQ(doc1->name, "denim-12");
    EXPECT_EQ(doc1->note, "from loom 7");
    EXPECT_EQ(test_support::differences_text(first, doc1.value()), "");
    auto doc2 = f.library.document({"denim-12", 2});
    ASSERT_TRUE(doc2.ok());
    EXPECT_EQ(test_support::differences_text(second, doc2.value()), "");

    auto listed = f.library.list({"denim-12", false});
    ASSERT_TRUE(listed.ok());
    ASSERT_EQ(listed->size(), 2u);
    EXPECT_EQ(listed->at(0).ref.number, 2);  // newest first
    EXPECT_TRUE(listed->at(0).document.empty());
    EXPECT_EQ(listed->at(0).saved_by.who, "anna");
    EXPECT_EQ(f.library.list({})->size(), 3u);

    // The comparison of the two versions is what was changed between them.
    auto compared = f.library.compare({"denim-12", 1}, {"denim-12", 2});
    ASSERT_TRUE(compared.ok());
    EXPECT_EQ(compared->size(), 4u);
    std::string described;
    for (const auto& d : compared.value())
        described += ifc_client::describe(d) + "\n";
    EXPECT_EQ(described, test_support::differences_text(first, second));
}

TEST(SettingsLibrary, ExportedVersionImportsAsTheSameDocument) {
    library_fixture f;
    ASSERT_TRUE(
        f.library.save("denim-12", "the note", test_support::denim_settings(), anna, "").ok());
    auto text = f.library.export_text({"denim-12", 1});
    ASSERT_TRUE(text.ok());
    // The one writer's form: it reads back and writes the same text.
    auto parsed = ifc_client::parse_document(text.value());
    ASSERT_TRUE(parsed.ok()) << parsed.failure().detail;
    EXPECT_EQ(ifc_client::format_document(parsed.value()), text.value());

    auto imported = f.library.import_text(text.value(), "", "", anna, "");
    ASSERT_TRUE(imported.ok()) << imported.failure().reason;
    EXPECT_EQ(gateway::state::version_label(imported->ref), "denim-12 v2");
    EXPECT_EQ(imported->note, "the note");
    auto same = f.library.compare({"denim-12", 1}, {"denim-12", 2});
    ASSERT_TRUE(same.ok());
    EXPECT_TRUE(same->empty());
    // As the API shows a version: its document a JSON value of the one format.
    const auto shown = gateway::mill::version_json(imported.value(), true);
    EXPECT_EQ(shown["label"], "denim-12 v2");
    EXPECT_EQ(shown["hidden"], false);
    EXPECT_EQ(shown["document"]["format"]["name"], "ifc-settings-document");
    EXPECT_EQ(shown["document"]["name"], "denim-12");
    auto renamed = f.library.import_text(text.value(), "twill-3", "imported", anna, "");
    ASSERT_TRUE(renamed.ok());
    EXPECT_EQ(gateway::state::version_label(renamed->ref), "twill-3 v1");
    EXPECT_EQ(renamed->note, "imported");
}

TEST(SettingsLibrary, HidingKeepsTheVersionAndSaysSoInTheLogbook) {
    library_fixture f;
    // Saved with a note and no reason: the note stands for the reason in the logbook.
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(
            f.library.save("denim-12", "as woven", test_support::denim_settings(), anna, "").ok());
    const gateway::state::actor ben{"ben", "10.0.0.2"};
    auto hidden = f.library.hide({"denim-12", 2}, ben, "weft stops at 600 rpm");
    ASSERT_TRUE(hidden.ok());
    EXPECT_TRUE(hidden->hidden());

    auto visible = f.library.list({"denim-12", false});
    ASSERT_TRUE(visible.ok());
    ASSERT_EQ(visible->size(), 2u);
    EXPECT_EQ(visible->at(0).ref.number, 3);
    EXPECT_EQ(visible->at(1).ref.number, 1);
    EXPECT_EQ(f.library.list({"denim-12", true})->size(), 3u);
    auto kept = f.library.show({"denim-12", 2});
    ASSERT_TRUE(kept.ok());
    EXPECT_TRUE(kept->hidden());
    EXPECT_EQ(kept->hidden_by, "ben");
    EXPECT_FALSE(kept->document.empty());
    // The next save does not reuse the number.
    auto next =
        f.library.save("denim-12", "", test_support::denim_settings(), anna, "new yarn lot");
    ASSERT_TRUE(next.ok());
    EXPECT_EQ(next->ref.number, 4);

    EXPECT_EQ(f.library.hide({"denim-12", 2}, ben, "").code(), store_errc::conflict);
    const std::string loom = "loom1";
    EXPECT_EQ(f.store
                  .assign({&loom, 1}, gateway::state::version_ref{"denim-12", 2}, ben, "",
                          gateway::state::now())
                  .code(),
              store_errc::conflict);

    auto entries = f.store.query_log({.section = "library"});
    ASSERT_TRUE(entries.ok());
    ASSERT_EQ(entries->entries.size(), 5u);  // four saves, one hidden
    // Newest first: save v4, then the hiding.
    EXPECT_EQ(entries->entries[0].reason, "new yarn lot");
    const auto& newest = entries->entries[1];
    EXPECT_EQ(newest.key, "denim-12 v2");
    EXPECT_EQ(newest.old_value, "saved");
    EXPECT_EQ(newest.new_value, "hidden");
    EXPECT_EQ(newest.who, "ben");
    EXPECT_EQ(newest.address, "10.0.0.2");
    EXPECT_EQ(newest.reason, "weft stops at 600 rpm");
    EXPECT_EQ(entries->entries[2].reason, "as woven");
    // The store bounds a reason for any caller, as it does a roll-out's.
    EXPECT_EQ(
        f.library.hide({"denim-12", 3}, ben, std::string(gateway::state::max_note + 1, 'x')).code(),
        store_errc::invalid);
    EXPECT_FALSE(f.library.show({"denim-12", 3})->hidden());
}

struct refusal_case {
    const char* name;
    std::string style;
    settings_document doc;
    const char* reason;
};
void PrintTo(const refusal_case& c, std::ostream* os) {
    *os << c.name;
}

settings_document with_valve(int colour, const char* key, int value) {
    settings_document doc = test_support::default_settings();
    for (auto& t : *doc.colour_block(colour).valves) {
        if (t.key == key) t.value = value;
    }
    return doc;
}

class LibraryRefuses : public ::testing::TestWithParam<refusal_case> {};

TEST_P(LibraryRefuses, WhatCannotBeAVersion) {
    library_fixture f;
    auto saved = f.library.save(GetParam().style, "", GetParam().doc, anna, "");
    ASSERT_FALSE(saved.ok());
    EXPECT_EQ(saved.code(), store_errc::invalid);
    EXPECT_NE(saved.failure().reason.find(GetParam().reason), std::string::npos)
        << saved.failure().reason;
    EXPECT_TRUE(f.library.list({"", true})->empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LibraryRefuses,
    ::testing::Values(
        refusal_case{"empty_name", "", test_support::default_settings(), "style's name"},
        refusal_case{"name_with_a_blank", "denim 12", test_support::default_settings(),
                     "'denim 12' is not"},
        refusal_case{"name_too_long", std::string(65, 'd'), test_support::default_settings(),
                     "style's name"},
        refusal_case{"no_settings", "denim-12", settings_document{}, "holds no settings"},
        refusal_case{"value_out_of_range", "denim-12", with_valve(2, "main_on", 400),
                     "colours[1].valves.main_on: 400 is outside 0..359"}),
    test_support::case_name{});

TEST(SettingsLibrary, ImportOfWhatIsNoDocumentAndUnknownVersionsAreRefused) {
    library_fixture f;
    auto imported = f.library.import_text("{\"format\": 1}", "denim-12", "", anna, "");
    EXPECT_EQ(imported.code(), store_errc::invalid);
    EXPECT_NE(imported.failure().reason.find("not a settings document"), std::string::npos);
    EXPECT_EQ(f.library.show({"denim-12", 1}).code(), store_errc::not_found);
    EXPECT_EQ(f.library.export_text({"denim-12", 1}).code(), store_errc::not_found);
    EXPECT_EQ(f.library.compare({"denim-12", 1}, test_support::default_settings()).code(),
              store_errc::not_found);
}

// The poller's snapshot, as a document, holds exactly what read_document reads from the
// controller.
TEST(SnapshotDocument, HoldsTheSettingsTheControllerHolds) {
    test_support::loom_hall hall(1);
    {
        auto conn = hall.server(0).connect();
        const ifc_client::change c{"main_on", 123};
        ASSERT_TRUE(ifc_client::write_valves(conn, 4, {&c, 1}).ok());
        ASSERT_TRUE(
            ifc_client::write_histogram_selection(conn, ifc_client::histogram_side::right, 5, "tbw")
                .ok());
    }
    auto conn = hall.server(0).connect();
    auto snapshot = gateway::read_snapshot(conn);
    ASSERT_TRUE(snapshot.ok()) << snapshot.failure().detail;
    conn.disconnect();
    const settings_document from_poll = gateway::mill::document_of(
        snapshot.value(), {"loom1", "127.0.0.1:1", {}}, "2026-12-10T08:15:00Z");
    const settings_document read = hall.read(0);
    EXPECT_EQ(test_support::differences_text(read, from_poll), "");
    EXPECT_EQ(ifc_client::diff_documents(read, from_poll).size(), 0u);
    EXPECT_TRUE(ifc_client::check_document(from_poll).empty());
    EXPECT_EQ(from_poll.source.controller, "loom1");
    // Every part is there: a whole machine.
    EXPECT_EQ(from_poll.colours.size(), 6u);
    EXPECT_EQ(from_poll.colour(4)->valves->front().key, "pin_on");
}

settings_document poll(test_support::loom_hall& hall, int index) {
    auto conn = hall.server(index).connect();
    auto snapshot = gateway::read_snapshot(conn);
    EXPECT_TRUE(snapshot.ok());
    return gateway::mill::document_of(
        snapshot.value(), {test_support::loom_hall::name(index), "", {}}, ifc_client::utc_now());
}

int main_on(const settings_document& doc, int colour) {
    const auto value =
        gateway::mill::value_at(doc, {section::valves, colour, std::string("main_on")});
    return value ? std::get<std::int32_t>(*value) : -1;
}

void set_main_on(test_support::loom_hall& hall, int index, int colour, int value) {
    auto conn = hall.server(index).connect();
    const ifc_client::change c{"main_on", value};
    ASSERT_TRUE(ifc_client::write_valves(conn, colour, {&c, 1}).ok());
}

TEST(Drift, AppearsWhenAValueIsChangedAtTheMachineAndGoesWhenItIsChangedBack) {
    test_support::loom_hall hall(2);
    library_fixture f;
    gateway::mill::drift_monitor drift(f.store);
    ASSERT_TRUE(drift.load().ok());
    auto saved = f.library.save("denim-12", "", poll(hall, 0), anna, "");
    ASSERT_TRUE(saved.ok());
    const std::vector<std::string> both = hall.names();
    ASSERT_TRUE(drift.assign(both, saved->ref, anna, "style change").ok());

    auto status = drift.check("loom1", poll(hall, 0));
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(status->matches());
    EXPECT_EQ(status->summary(), "matches denim-12 v1");

    const int original = main_on(poll(hall, 0), 2);
    set_main_on(hall, 0, 2, original + 7);
    status = drift.check("loom1", poll(hall, 0));
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(status->summary(), "1 value differs from denim-12 v1");
    ASSERT_EQ(status->differences.size(), 1u);
    EXPECT_EQ(
        ifc_client::describe(status->differences[0]),
        "colour 2  main_on  " + std::to_string(original) + " -> " + std::to_string(original + 7));
    // The fleet view and the metrics read the last outcome; the other loom still matches.
    EXPECT_EQ(drift.last("loom1")->values, 1u);
    EXPECT_TRUE(drift.check("loom2", poll(hall, 1))->matches());

    set_main_on(hall, 0, 3, 11);
    EXPECT_EQ(drift.check("loom1", poll(hall, 0))->summary(), "2 values differ from denim-12 v1");
    set_main_on(hall, 0, 2, original);
    set_main_on(hall, 0, 3, main_on(poll(hall, 1), 3));
    EXPECT_EQ(drift.check("loom1", poll(hall, 0))->summary(), "matches denim-12 v1");

    // The assignment outlives the gateway: a new monitor on the same database has it.
    gateway::mill::drift_monitor after_restart(f.store);
    ASSERT_TRUE(after_restart.load().ok());
    EXPECT_EQ(after_restart.assignments().size(), 2u);
    EXPECT_TRUE(after_restart.check("loom2", poll(hall, 1))->matches());

    // Without an assignment there is no drift, and no outcome left behind.
    const std::string loom1 = "loom1";
    ASSERT_TRUE(drift.assign({&loom1, 1}, std::nullopt, anna, "").ok());
    EXPECT_FALSE(drift.check("loom1", poll(hall, 0)).has_value());
    EXPECT_FALSE(drift.last("loom1").has_value());
    EXPECT_FALSE(drift.assigned("loom1").has_value());
    auto entries = f.store.query_log({.controller = "loom1", .section = "assignment"});
    ASSERT_TRUE(entries.ok());
    ASSERT_EQ(entries->entries.size(), 2u);
    EXPECT_EQ(entries->entries[0].old_value, "denim-12 v1");
    EXPECT_FALSE(entries->entries[0].new_value.has_value());
    EXPECT_EQ(entries->entries[0].reason, "");
    EXPECT_EQ(entries->entries[1].reason, "style change");
}

// A version may hold a part of a machine: only that part counts, and a part the machine's
// document lacks counts all of its values.
TEST(Drift, CountsOnlyThePartsTheVersionHolds) {
    settings_document version;
    version.colour_block(2).valves = test_support::default_settings().colour(2)->valves;
    version.colour_block(3).targets = test_support::default_settings().colour(3)->targets;
    settings_document machine = test_support::denim_settings();  // colour 2 valves differ twice
    machine.colour_block(3).targets.reset();
    const auto status = gateway::mill::check_drift({"part", 1}, version, machine);
    EXPECT_EQ(status.values, 4u);  // main_on, sub3_off, and both targets of colour 3
    ASSERT_EQ(status.differences.size(), 3u);
    EXPECT_EQ(ifc_client::describe(status.differences[2]), "colour 3  targets  only in A");
    EXPECT_EQ(status.summary(), "4 values differ from part v1");
}

}  // namespace
