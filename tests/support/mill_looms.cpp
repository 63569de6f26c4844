#include "tests/support/mill_looms.h"

#include <stdexcept>

#include "client/document_diff.h"
#include "client/document_read.h"
#include "tests/support/documents.h"

namespace test_support {

loom_hall::loom_hall(int count) {
    for (int i = 0; i < count; ++i) {
        servers_.push_back(std::make_unique<server_process>());
        endpoints_.emplace(name(i), servers_.back()->endpoint());
    }
}

std::vector<std::string> loom_hall::names() const {
    std::vector<std::string> out;
    for (int i = 0; i < size(); ++i)
        out.push_back(name(i));
    return out;
}

ifc_client::settings_document loom_hall::read(int index) {
    auto conn = server(index).connect();
    auto doc = ifc_client::read_document(conn);
    conn.disconnect();
    if (!doc) throw std::runtime_error("cannot read " + name(index) + ": " + doc.failure().detail);
    return doc.value();
}

ifc_client::settings_document default_settings() {
    return model_document(settings_model{});
}

ifc_client::settings_document denim_settings() {
    ifc_client::settings_document doc = default_settings();
    doc.name = "denim-12";
    for (auto& t : *doc.colour_block(1).targets) {
        if (t.key == "to") t.value = 95;
    }
    for (auto& t : *doc.colour_block(2).valves) {
        if (t.key == "main_on") t.value = 100;
        if (t.key == "sub3_off") t.value = 180;
    }
    for (auto& t : *doc.status) {
        if (t.key == "mode") t.value = 1;
    }
    return doc;
}

std::string differences_text(const ifc_client::settings_document& a,
                             const ifc_client::settings_document& b) {
    std::string text;
    for (const auto& d : ifc_client::diff_documents(a, b))
        text += ifc_client::describe(d) + "\n";
    return text;
}

}  // namespace test_support
