#include "gateway/mill/settings_library.h"

#include <algorithm>

#include "client/document_json.h"

namespace gateway::mill {

using state::store_result;

namespace {

bool holds_settings(const ifc_client::settings_document& doc) {
    return doc.status || doc.selection || doc.histogram_selection ||
           std::any_of(doc.colours.begin(), doc.colours.end(),
                       [](const auto& c) { return c.targets || c.valves; });
}

}  // namespace

store_result<ifc_client::settings_document> document_of(const state::library_version& v) {
    auto doc = ifc_client::parse_document(v.document);
    if (!doc) {
        return state::invalid("the stored document of " + state::version_label(v.ref) +
                              " cannot be read: " + doc.failure().detail);
    }
    return std::move(doc.value());
}

store_result<state::library_version> settings_library::save(const std::string& style,
                                                            std::string note,
                                                            ifc_client::settings_document doc,
                                                            const state::actor& by,
                                                            const std::string& reason) {
    if (!state::is_style_name(style)) {
        return state::invalid("a style's name is 1 to 64 letters, digits, '-', '_' and '.': '" +
                              style + "' is not");
    }
    if (!holds_settings(doc)) return state::invalid("the document holds no settings");
    if (const auto problems = ifc_client::check_document(doc); !problems.empty()) {
        std::string text = "the document cannot be applied: " + problems.front();
        if (problems.size() > 1) text += " (and " + std::to_string(problems.size() - 1) + " more)";
        return state::invalid(text);
    }
    doc.name = style;
    if (!note.empty()) doc.note = std::move(note);
    state::new_version version;
    version.style = style;
    version.note = doc.note;
    version.source = doc.source.controller;
    version.document = ifc_client::format_document(doc);
    version.by = by;
    version.at = state::now();
    version.reason = reason;
    return store_.add_version(version);
}

store_result<state::library_version> settings_library::import_text(std::string_view text,
                                                                   std::string style,
                                                                   std::string note,
                                                                   const state::actor& by,
                                                                   const std::string& reason) {
    auto doc = ifc_client::parse_document(text);
    if (!doc) return state::invalid("not a settings document: " + doc.failure().detail);
    if (style.empty()) style = doc->name;
    return save(style, std::move(note), std::move(doc.value()), by, reason);
}

store_result<std::string> settings_library::export_text(const state::version_ref& ref) {
    auto version = store_.find_version(ref);
    if (!version) return version.failure();
    return std::move(version->document);
}

store_result<ifc_client::settings_document> settings_library::document(
    const state::version_ref& ref) {
    auto version = store_.find_version(ref);
    if (!version) return version.failure();
    return document_of(version.value());
}

store_result<state::library_version> settings_library::hide(const state::version_ref& ref,
                                                            const state::actor& by,
                                                            const std::string& reason) {
    return store_.hide_version(ref, by, reason, state::now());
}

store_result<std::vector<ifc_client::difference>> settings_library::compare(
    const state::version_ref& a, const state::version_ref& b) {
    auto first = document(a);
    if (!first) return first.failure();
    auto second = document(b);
    if (!second) return second.failure();
    return compare_documents(first.value(), second.value());
}

store_result<std::vector<ifc_client::difference>> settings_library::compare(
    const state::version_ref& a, const ifc_client::settings_document& machine) {
    auto version = document(a);
    if (!version) return version.failure();
    return compare_documents(version.value(), machine);
}

}  // namespace gateway::mill
