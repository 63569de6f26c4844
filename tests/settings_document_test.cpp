// Settings documents in the client library, without a controller: the writer's layout and its
// round trip through the reader, the reader's refusals (each naming the value's path), the
// comparison of two documents, the scope words, the plan of an apply, and the schema in docs/
// (its ranges are the library's, and it accepts what the writer writes).
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "client/document_apply.h"
#include "client/document_diff.h"
#include "client/document_json.h"
#include "tests/support/case_names.h"
#include "tests/support/documents.h"
#include "tests/support/files.h"

namespace {

using ifc_client::difference;
using ifc_client::section;
using ifc_client::settings_document;
using json = nlohmann::ordered_json;

settings_document defaults() {
    settings_document doc = test_support::model_document(test_support::settings_model{});
    doc.name = "loom 7";
    doc.note = "style 4711, after the service";
    doc.source.controller = "loom7";
    doc.source.address = "10.0.0.7:9002";
    doc.taken_at = "2026-12-10T08:15:00Z";
    doc.program = "ifc-client";
    doc.program_version = "1.0.0";
    return doc;
}

std::string text_of(const settings_document& doc) {
    return ifc_client::format_document(doc);
}

settings_document parsed(const std::string& text) {
    auto doc = ifc_client::parse_document(text);
    EXPECT_TRUE(doc.ok()) << (doc.ok() ? "" : doc.failure().detail);
    return doc.ok() ? doc.value() : settings_document{};
}

TEST(SettingsDocument, WriterKeepsOneLayoutThatReadsBackTheSame) {
    const settings_document doc = defaults();
    const std::string text = text_of(doc);
    // The head, then one block per colour and one line per valve, so that a plain diff shows
    // the valve that changed.
    EXPECT_TRUE(text.starts_with(R"({
  "format": {"name": "ifc-settings-document", "version": 1},
  "name": "loom 7",
  "note": "style 4711, after the service",
  "source": {"controller": "loom7", "address": "10.0.0.7:9002"},
  "taken_at": "2026-12-10T08:15:00Z",
  "written_by": {"program": "ifc-client", "version": "1.0.0"},
  "status": {"color": 1, "mode": 0, "totw_sw": 0},
  "selection": {
    "pin": 0, "abs": 0, "main": 0, "tandem": 0, "stretch": 0,
    "sub1": 0, "sub2": 0, "sub3": 0, "sub4": 0, "sub5": 0, "sub6": 0,
)")) << text;
    EXPECT_NE(text.find(R"(
  "colours": [
    {
      "colour": 1,
      "targets": {"to": 90, "tw": 240},
      "valves": {
        "pin_on": 70,
        "abs_on": 215, "abs_off": 255,
        "main_on": 90, "main_off": 160,
)"),
              std::string::npos)
        << text;
    EXPECT_TRUE(text.ends_with(R"(
  "histogram_selection": {"left_colour": 1, "left_item": "tw", "right_colour": 2, "right_item": "tw"}
}
)")) << text;

    const settings_document back = parsed(text);
    EXPECT_EQ(text_of(back), text);
    EXPECT_TRUE(ifc_client::diff_documents(doc, back).empty());
    EXPECT_EQ(back.name, doc.name);
    EXPECT_EQ(back.source.address, doc.source.address);

    // A part of a machine, and settings files as the source.
    settings_document part;
    part.colour_block(3).valves = doc.colour(3)->valves;
    part.source.files = {"/var/lib/ifc-server/valve_fp.set"};
    const std::string part_text = text_of(part);
    EXPECT_EQ(text_of(parsed(part_text)), part_text);
    EXPECT_EQ(part_text.find("\"status\""), std::string::npos) << part_text;
    EXPECT_NE(part_text.find(R"("source": {"files": ["/var/lib/ifc-server/valve_fp.set"]})"),
              std::string::npos);

    // Names and notes are text of any kind, also what JSON must escape.
    settings_document odd = doc;
    odd.note = "line one\nline \"two\"\t\\ \xC3\xA4";
    EXPECT_EQ(parsed(text_of(odd)).note, odd.note);

    test_support::expect_valid_by_schema({text, part_text, text_of(odd)});
}

// A change of the default document's JSON, and the refusal it must meet.
struct refusal_case {
    const char* name;
    std::string (*text)();
    std::string message;  // the whole error detail, or its start when it ends in "..."
};

void PrintTo(const refusal_case& c, std::ostream* os) {
    *os << c.name;
}

json default_json() {
    return json::parse(text_of(defaults()));
}

std::string with(void (*edit)(json&)) {
    json doc = default_json();
    edit(doc);
    return doc.dump(2);
}

class SettingsDocumentRefusal : public testing::TestWithParam<refusal_case> {};

TEST_P(SettingsDocumentRefusal, NamesThePathOfTheValue) {
    const refusal_case& c = GetParam();
    const auto doc = ifc_client::parse_document(c.text());
    ASSERT_FALSE(doc.ok());
    EXPECT_EQ(doc.code(), ifc_client::errc::bad_request);
    if (c.message.ends_with("...")) {
        EXPECT_TRUE(doc.failure().detail.starts_with(c.message.substr(0, c.message.size() - 3)))
            << doc.failure().detail;
    } else {
        EXPECT_EQ(doc.failure().detail, c.message);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Documents, SettingsDocumentRefusal,
    testing::Values(
        refusal_case{"BadJson", [] { return std::string(R"({"format": {"name": )"); },
                     "not JSON: parse error at line 1, column 21: ..."},
        refusal_case{"NotAnObject", [] { return std::string("[1, 2]"); },
                     "not a settings document: not a JSON object"},
        refusal_case{"NoFormat", [] { return with([](json& d) { d.erase("format"); }); },
                     "not a settings document: it has no \"format\" member"},
        refusal_case{"OtherFormat",
                     [] { return with([](json& d) { d["format"]["name"] = "recipe"; }); },
                     "format.name: \"recipe\" is not ifc-settings-document: not a settings "
                     "document"},
        refusal_case{"NewerVersion",
                     [] {
                         return with([](json& d) {
                             d["format"]["version"] = 2;
                             d["drift"] = true;  // a newer version's key: not the point
                         });
                     },
                     "format.version: 2 is newer than this program reads: it reads version 1 "
                     "(a newer program wrote the document)"},
        refusal_case{"UnknownKey",
                     [] { return with([](json& d) { d["colours"][2]["valves"]["mian_on"] = 5; }); },
                     "colours[2].valves.mian_on: unknown key; did you mean 'main_on'?"},
        refusal_case{"UnknownTopLevelKey", [] { return with([](json& d) { d["colors"] = 1; }); },
                     "colors: unknown key; did you mean 'colours'?"},
        refusal_case{
            "OutOfRange",
            [] { return with([](json& d) { d["colours"][2]["valves"]["main_on"] = 400; }); },
            "colours[2].valves.main_on: 400 is outside 0..359"},
        refusal_case{"BeyondInt32",
                     [] { return with([](json& d) { d["status"]["mode"] = 5000000000LL; }); },
                     "status.mode: 5000000000 is outside 0..6"},
        refusal_case{"WrongType",
                     [] { return with([](json& d) { d["colours"][0]["targets"]["to"] = "90"; }); },
                     "colours[0].targets.to: \"90\" is not a number"},
        refusal_case{"Fraction", [] { return with([](json& d) { d["selection"]["sub3"] = 0.5; }); },
                     "selection.sub3: 0.5 is not a whole number"},
        refusal_case{"MissingKey",
                     [] { return with([](json& d) { d["colours"][1]["targets"].erase("tw"); }); },
                     "colours[1].targets: the key \"tw\" is missing"},
        refusal_case{"DuplicateKey",
                     [] {
                         std::string text = text_of(defaults());
                         const std::string at = "\"to\": 90, ";
                         return text.insert(text.find(at), at);
                     },
                     "colours[0].targets: the key \"to\" is given twice"},
        refusal_case{
            "ColoursOutOfOrder",
            [] { return with([](json& d) { std::swap(d["colours"][1], d["colours"][2]); }); },
            "colours[2].colour: 2 comes after colour 3 (one block per colour, in "
            "ascending order)"},
        refusal_case{"NoSuchColour",
                     [] { return with([](json& d) { d["colours"][5]["colour"] = 7; }); },
                     "colours[5].colour: 7 is outside 1..6"},
        refusal_case{
            "UnknownHistogramItem",
            [] { return with([](json& d) { d["histogram_selection"]["right_item"] = "tw2"; }); },
            "histogram_selection.right_item: \"tw2\" is not a histogram item (to, tb1, "
            "tb2, tb3, tb4, tb5, tb6, tb7, tb8, tbw, tw, tw_tbw)"},
        refusal_case{"BadTime", [] { return with([](json& d) { d["taken_at"] = "yesterday"; }); },
                     "taken_at: \"yesterday\" is not a UTC time like 2026-12-10T08:15:00Z"},
        refusal_case{
            "NestedTooDeep",
            [] { return with([](json& d) { d["note"] = json::parse("[[[[[[[[1]]]]]]]]"); }); },
            "note[0][0][0][0][0][0][0]: nested deeper than any settings document"},
        refusal_case{"SeveralProblems",
                     [] {
                         return with([](json& d) {
                             d["status"]["color"] = 0;
                             d["colours"][0]["targets"]["tw"] = 300;
                             d["colours"][3]["valves"]["sub18_off"] = -1;
                         });
                     },
                     "status.color: 0 is outside 1..6 (and 2 more problems)"},
        refusal_case{"TooLarge", [] { return std::string(ifc_client::largest_document + 1, ' '); },
                     "larger than any settings document (1048577 bytes)"}),
    test_support::case_name{});

// Two documents and the differences expected between them, in the operator's words.
struct diff_case {
    const char* name;
    void (*edit_a)(settings_document&);
    void (*edit_b)(settings_document&);
    std::vector<std::string> lines;
};

void PrintTo(const diff_case& c, std::ostream* os) {
    *os << c.name;
}

void set(settings_document& d, section s, int colour, const char* key, std::int32_t value) {
    auto& line = s == section::status      ? *d.status
                 : s == section::selection ? *d.selection
                 : s == section::targets   ? *d.colour_block(colour).targets
                                           : *d.colour_block(colour).valves;
    for (auto& t : line) {
        if (t.key == key) t.value = value;
    }
}

void nothing(settings_document&) {}

class SettingsDocumentDiff : public testing::TestWithParam<diff_case> {};

TEST_P(SettingsDocumentDiff, ListsEveryValueThatDiffers) {
    const diff_case& c = GetParam();
    settings_document a = defaults();
    settings_document b = defaults();
    b.name = "loom 8";  // names, notes, sources and times are no settings
    b.taken_at = "2026-12-11T09:00:00Z";
    c.edit_a(a);
    c.edit_b(b);
    std::vector<std::string> lines;
    for (const difference& d : ifc_client::diff_documents(a, b))
        lines.push_back(ifc_client::describe(d, "loom7.json", "10.0.0.8"));
    EXPECT_EQ(lines, c.lines);
}

INSTANTIATE_TEST_SUITE_P(
    Documents, SettingsDocumentDiff,
    testing::Values(
        diff_case{"Equal", nothing, nothing, {}},
        diff_case{"OneValue",
                  nothing,
                  [](settings_document& d) { set(d, section::valves, 2, "main_on", 100); },
                  {"colour 2  main_on  90 -> 100"}},
        diff_case{
            "EverySection",
            nothing,
            [](settings_document& d) {
                set(d, section::status, 0, "color", 3);
                set(d, section::selection, 0, "sub3", 1);
                set(d, section::targets, 6, "tw", 245);
                set(d, section::valves, 1, "sub18_off", 200);
                d.histogram_selection->left.item = "tbw";
            },
            {"status  color  1 -> 3", "selection  sub3  0 -> 1", "colour 1  sub18_off  0 -> 200",
             "colour 6  tw  240 -> 245", "histogram  left_item  tw -> tbw"}},
        diff_case{"ColourOnlyInOne",
                  [](settings_document& d) { d.colours.erase(d.colours.begin() + 3); },
                  nothing,
                  {"colour 4  targets  only in 10.0.0.8", "colour 4  valves  only in 10.0.0.8"}},
        diff_case{"SectionsOnlyInOne",
                  nothing,
                  [](settings_document& d) {
                      d.selection.reset();
                      d.histogram_selection.reset();
                      d.colour_block(5).valves.reset();
                  },
                  {"selection  only in loom7.json", "colour 5  valves  only in loom7.json",
                   "histogram  selection  only in loom7.json"}}),
    test_support::case_name{});

TEST(SettingsDocument, ScopeWords) {
    auto scope = ifc_client::parse_scope("valves,histogram-selection,valves", "3,1");
    ASSERT_TRUE(scope.ok());
    EXPECT_EQ(scope->sections,
              (std::vector<section>{section::valves, section::histogram_selection}));
    EXPECT_EQ(scope->colours, (std::vector<int>{3, 1}));
    EXPECT_TRUE(scope->covers_colour(3));
    EXPECT_FALSE(scope->covers(section::targets));

    // The comparison keeps to the scope.
    settings_document b = defaults();
    set(b, section::valves, 2, "main_on", 100);
    set(b, section::valves, 3, "main_on", 100);
    set(b, section::targets, 3, "to", 100);
    EXPECT_EQ(ifc_client::diff_documents(defaults(), b, scope.value()).size(), 1u);

    const struct {
        const char* sections;
        const char* colours;
        const char* message;
    } refused[] = {
        {"valve", "",
         "unknown section 'valve' (sections: status, selection, targets, valves, "
         "histogram-selection)"},
        {"status,", "",
         "unknown section '' (sections: status, selection, targets, valves, "
         "histogram-selection)"},
        {"", "7", "colour 7 is not a weft colour 1..6"},
        {"", "1,x", "'x' is not a weft colour 1..6"},
    };
    for (const auto& r : refused) {
        const auto bad = ifc_client::parse_scope(r.sections, r.colours);
        ASSERT_FALSE(bad.ok()) << r.sections << r.colours;
        EXPECT_EQ(bad.failure().detail, r.message);
    }
}

TEST(SettingsDocument, ApplyPlansOnePutPerLineThatDiffers) {
    const settings_document before = defaults();
    settings_document wanted = defaults();
    set(wanted, section::targets, 2, "to", 95);
    set(wanted, section::targets, 2, "tw", 245);
    set(wanted, section::valves, 4, "main_on", 100);
    set(wanted, section::selection, 0, "sub1", 1);
    set(wanted, section::selection, 0, "sub2", 1);
    wanted.histogram_selection->right.colour = 5;
    auto plan = ifc_client::plan_apply(before, wanted);
    ASSERT_EQ(plan.size(), 4u);
    EXPECT_EQ(plan[0].what, section::selection);
    EXPECT_EQ(plan[0].puts, 2);  // its write command takes one item
    EXPECT_EQ(plan[1].what, section::targets);
    EXPECT_EQ(plan[1].colour, 2);
    EXPECT_EQ(plan[1].puts, 1);  // the whole line in one write
    EXPECT_EQ(plan[1].changes.size(), 2u);
    EXPECT_EQ(plan[2].what, section::valves);
    EXPECT_EQ(plan[3].puts, 1);  // one side

    EXPECT_TRUE(ifc_client::plan_apply(before, before).empty());
    // A document of one colour's valves leaves everything else alone.
    settings_document part;
    part.colour_block(4).valves = wanted.colour(4)->valves;
    plan = ifc_client::plan_apply(before, part);
    ASSERT_EQ(plan.size(), 1u);
    EXPECT_EQ(plan[0].colour, 4);
    // So does the scope.
    EXPECT_TRUE(ifc_client::plan_apply(before, wanted, {{section::status}, {}}).empty());

    // Every value: 1 status, 25 selection items, 6 targets, 6 valve lines, 2 histogram sides.
    plan = ifc_client::plan_apply(before, test_support::every_value_changed());
    int puts = 0;
    for (const auto& step : plan)
        puts += step.puts;
    EXPECT_EQ(plan.size(), 15u);
    EXPECT_EQ(puts, 40);
}

// The schema in docs/ and the library agree on every range and item.
TEST(DocumentSchema, HoldsTheLibrarysRanges) {
    const auto text = test_support::read_file(std::string(IFC_SOURCE_DIR) +
                                              "/docs/settings-document.schema.json");
    ASSERT_TRUE(text);
    const auto schema = nlohmann::json::parse(*text);
    const auto& defs = schema["$defs"];
    const auto resolved = [&](const nlohmann::json& property) {
        const std::string ref = property.value("$ref", "");
        return ref.empty() ? property : defs[ref.substr(ref.rfind('/') + 1)];
    };
    for (section s : ifc_client::all_sections) {
        const auto& line = ifc_client::per_colour(s)
                               ? defs["colour_block"]["properties"][ifc_client::section_name(s)]
                               : schema["properties"][ifc_client::section_name(s)];
        const auto keys = ifc_client::keys_of(s);
        EXPECT_EQ(line["required"].get<std::vector<std::string>>(),
                  std::vector<std::string>(keys.begin(), keys.end()));
        EXPECT_EQ(line["additionalProperties"], false);
        for (std::string_view key : keys) {
            const auto property = resolved(line["properties"][std::string(key)]);
            const auto range = ifc_client::document_range(s, key);
            if (!range) {
                EXPECT_EQ(property["enum"].get<std::vector<std::string>>().size(), 12u);
                continue;
            }
            EXPECT_EQ(property["minimum"], range->min) << key;
            EXPECT_EQ(property["maximum"], range->max) << key;
        }
    }
    EXPECT_EQ(schema["properties"]["format"]["properties"]["version"]["const"],
              ifc_client::document_format_version);
}

TEST(DocumentSchema, RefusesWhatTheReaderRefuses) {
    // The validator must not be one that accepts everything: a document the reader refuses
    // for a range must fail it too.
    json doc = default_json();
    doc["colours"][2]["valves"]["main_on"] = 400;
    const std::string text = doc.dump(2);
    EXPECT_FALSE(ifc_client::parse_document(text).ok());
    const auto verdict = test_support::check_by_schema({text});
    if (!verdict.validator_found) {
        if (test_support::in_ci()) FAIL() << "python3-jsonschema is missing: " << verdict.output;
        GTEST_SKIP() << "python3-jsonschema is not installed";
    }
    EXPECT_FALSE(verdict.valid);
    EXPECT_NE(
        verdict.output.find("colours/2/valves/main_on: 400 is greater than the maximum of 359"),
        std::string::npos)
        << verdict.output;
}

}  // namespace
