// The settings library: settings documents (client/settings_document.h) saved under the name of
// a style or article, each save a new version that is never changed; deleting a version hides
// it (the store keeps it, and records that in the logbook). Import and export are settings
// documents in their one text form (client/document_json.h), so a version exported and
// imported again is the same document.
//
// Thread-safe as far as the store is (store.h: every call from any thread).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "client/document_diff.h"
#include "client/settings_document.h"
#include "gateway/state/store.h"

namespace gateway::mill {

class settings_library {
  public:
    explicit settings_library(state::store& store) : store_(store) {}

    // Saves doc as the next version of style, its name set to the style and its note to note
    // (or, when note is empty, the note doc has). Refused (invalid) when the style's name is
    // not one, or the document holds no settings or does not pass check_document (its problems
    // named): a version must be one that can be applied. The logbook's entry of the save
    // keeps reason (empty: the version's note).
    state::store_result<state::library_version> save(const std::string& style, std::string note,
                                                     ifc_client::settings_document doc,
                                                     const state::actor& by,
                                                     const std::string& reason);
    // Reads a document's text and saves it; style empty: the document's name.
    state::store_result<state::library_version> import_text(std::string_view text,
                                                            std::string style, std::string note,
                                                            const state::actor& by,
                                                            const std::string& reason);
    // The version's document as text, as it was saved; hidden versions too.
    state::store_result<std::string> export_text(const state::version_ref& ref);
    state::store_result<ifc_client::settings_document> document(const state::version_ref& ref);

    state::store_result<std::vector<state::library_version>> list(const state::version_query& q) {
        return store_.list_versions(q);
    }
    state::store_result<state::library_version> show(const state::version_ref& ref) {
        return store_.find_version(ref);
    }
    // Hides the version; the logbook's entry keeps reason.
    state::store_result<state::library_version> hide(const state::version_ref& ref,
                                                     const state::actor& by,
                                                     const std::string& reason);

    // The values that differ between two versions (old: a's, new: b's).
    state::store_result<std::vector<ifc_client::difference>> compare(const state::version_ref& a,
                                                                     const state::version_ref& b);
    // Between a version and a machine's settings (old: the version's, new: the machine's).
    state::store_result<std::vector<ifc_client::difference>> compare(
        const state::version_ref& a, const ifc_client::settings_document& machine);

  private:
    state::store& store_;
};

// A version's stored text as a document (invalid when it cannot be read: a database written
// by hand).
state::store_result<ifc_client::settings_document> document_of(const state::library_version& v);

// Two machines (or any two documents): the values that differ (old: a's, new: b's).
inline std::vector<ifc_client::difference> compare_documents(
    const ifc_client::settings_document& a, const ifc_client::settings_document& b) {
    return ifc_client::diff_documents(a, b);
}

}  // namespace gateway::mill
