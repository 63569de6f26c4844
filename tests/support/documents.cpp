#include "tests/support/documents.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>

#include "client/commands.h"
#include "client/token_line.h"
#include "tests/support/files.h"
#include "tests/support/spawned_program.h"

namespace test_support {

namespace {

namespace cmd = ifc_client::commands;

ifc_client::token_line line_of(const std::string& answer) {
    auto line = ifc_client::parse_token_line(answer);
    EXPECT_TRUE(line.ok()) << answer;
    return line.ok() ? line.value() : ifc_client::token_line{};
}

ifc_client::side_choice side_of(std::string_view colour, std::string_view item) {
    return ifc_client::side_choice{std::atoi(std::string(colour).c_str()), std::string(item)};
}

}  // namespace

ifc_client::settings_document model_document(const settings_model& model) {
    ifc_client::settings_document doc;
    doc.status = line_of(model.stat_answer());
    doc.selection = line_of(model.select_answer());
    for (int colour = cmd::first_colour; colour <= cmd::last_colour; ++colour) {
        auto valves = line_of(model.on_off_answer(colour));
        valves.erase(valves.begin());  // the constant ATC_TO_DELAY
        doc.colours.push_back({colour, line_of(model.targets_answer(colour)), valves});
    }
    // "1 tw 2 tw"
    const std::string choice = model.hst_select_answer();
    std::vector<std::string> fields;
    std::size_t pos = 0;
    while (pos <= choice.size()) {
        const std::size_t blank = std::min(choice.find(' ', pos), choice.size());
        fields.push_back(choice.substr(pos, blank - pos));
        pos = blank + 1;
    }
    EXPECT_EQ(fields.size(), 4u) << choice;
    fields.resize(4);
    doc.histogram_selection =
        ifc_client::histogram_choice{side_of(fields[0], fields[1]), side_of(fields[2], fields[3])};
    return doc;
}

ifc_client::settings_document every_value_changed(bool variant) {
    ifc_client::settings_document doc = model_document(settings_model{});
    const int shift = variant ? 2 : 1;
    doc.status = {{"color", 1 + 2 * shift}, {"mode", shift}, {"totw_sw", shift}};
    for (auto& t : *doc.selection)
        t.value = variant ? 0 : 1;
    for (auto& block : doc.colours) {
        (*block.targets)[0].value = 90 + 2 * shift + block.colour;   // to 50..150
        (*block.targets)[1].value = 240 + 2 * shift + block.colour;  // tw 190..290
        int k = 0;
        for (auto& t : *block.valves)
            t.value = (t.value + 10 * shift + k++ + block.colour) % 360;
    }
    doc.histogram_selection = ifc_client::histogram_choice{{2 + shift, variant ? "tb3" : "tbw"},
                                                           {3 + shift, variant ? "to" : "tb1"}};
    return doc;
}

schema_verdict check_by_schema(const std::vector<std::string>& documents) {
    const temp_dir dir;
    std::vector<std::string> argv{
        "/usr/bin/python3", std::string(IFC_SOURCE_DIR) + "/tests/support/check_schema.py",
        std::string(IFC_SOURCE_DIR) + "/docs/settings-document.schema.json"};
    for (std::size_t i = 0; i < documents.size(); ++i) {
        argv.push_back(dir.file("document-" + std::to_string(i) + ".json"));
        write_file(argv.back(), documents[i]);
    }
    const finished_program run = run_program(argv, run_options{});
    schema_verdict verdict;
    verdict.validator_found = run.status != 77 && file_exists("/usr/bin/python3");
    verdict.valid = run.status == 0;
    verdict.output = run.out + run.err;
    return verdict;
}

bool in_ci() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::string_view(ci) == "true";
}

void expect_valid_by_schema(const std::vector<std::string>& documents) {
    const schema_verdict verdict = check_by_schema(documents);
    if (!verdict.validator_found) {
        if (in_ci()) {
            ADD_FAILURE() << "the schema validator python3-jsonschema is missing (CI is set): "
                          << verdict.output;
        } else {
            std::cerr << "note: python3-jsonschema is not installed; the documents were not "
                         "checked against the schema\n";
        }
        return;
    }
    EXPECT_TRUE(verdict.valid) << verdict.output;
}

}  // namespace test_support
