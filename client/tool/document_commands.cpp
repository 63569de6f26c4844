// export, diff and apply: the settings of a machine as a document, the comparison of two, and
// a document applied with proof.
#include <sys/stat.h>

#include "client/document_apply.h"
#include "client/document_diff.h"
#include "client/document_json.h"
#include "client/document_read.h"
#include "client/tool/document_reply.h"
#include "client/tool/handlers.h"
#include "client/tool/settings_directory.h"
#include "tools/text_file.h"

#ifndef IFC_VERSION
#define IFC_VERSION "unknown"
#endif

namespace ifc_tool {

namespace {

using ifc_client::settings_document;

reply document_failure(std::string message) {
    return failed(exit_status::document, std::move(message));
}

// A document from a file, or from standard input for "-".
ifc_client::result<settings_document> load_document(const std::string& path) {
    const auto file = read_text_file(path, ifc_client::largest_document);
    if (!file.text) return ifc_client::error{ifc_client::errc::bad_request, file.error};
    auto doc = ifc_client::parse_document(*file.text);
    if (!doc) {
        return ifc_client::error{
            ifc_client::errc::bad_request,
            (path == "-" ? std::string("standard input") : path) + ": " + doc.failure().detail};
    }
    return doc;
}

// "the first problem (and N more problems)"
std::string problems_text(const std::vector<std::string>& problems) {
    std::string text = problems.front();
    if (problems.size() > 1) {
        text += " (and " + std::to_string(problems.size() - 1) + " more)";
    }
    return text;
}

// What a word of diff names.
enum class side_kind { document, directory, controller };

side_kind kind_of(const std::string& word) {
    struct stat st {};
    if (word == "-") return side_kind::document;
    if (::stat(word.c_str(), &st) == 0) {
        return S_ISDIR(st.st_mode) ? side_kind::directory : side_kind::document;
    }
    // A path that is not there is still meant as a file: say that it is missing.
    if (word.find('/') != std::string::npos || word.ends_with(".json")) return side_kind::document;
    return side_kind::controller;
}

// HOST[:PORT] over the session's time-outs; nullopt for a word that is no address.
std::optional<ifc_client::endpoint> controller_of(const session& s, const std::string& word) {
    ifc_client::endpoint where = s.endpoint();
    where.port = protocol::server_port;
    const std::size_t colon = word.rfind(':');
    where.host = word.substr(0, colon);
    if (colon != std::string::npos) {
        const auto port = ifc_client::parse_int32(word.substr(colon + 1));
        if (!port || *port < 1 || *port > 65535) return std::nullopt;
        where.port = static_cast<std::uint16_t>(*port);
    }
    if (where.host.empty()) return std::nullopt;
    return where;
}

// One side of diff, or the reply that it cannot be had.
std::variant<settings_document, reply> load_side(const session& s, const std::string& word) {
    switch (kind_of(word)) {
        case side_kind::document: {
            auto doc = load_document(word);
            if (!doc) return document_failure(doc.failure().detail);
            return std::move(doc.value());
        }
        case side_kind::directory: {
            auto doc = read_settings_directory(word);
            if (!doc) return document_failure(doc.failure().detail);
            return std::move(doc.value());
        }
        case side_kind::controller:
            break;
    }
    const auto where = controller_of(s, word);
    if (!where) {
        return document_failure("usage: '" + word +
                                "' is no file, directory or server HOST[:PORT]");
    }
    auto conn = ifc_client::connection::open(*where);
    if (!conn) {
        return failed(exit_status::cannot_connect, "cannot connect: " + conn.failure().detail);
    }
    auto doc = ifc_client::read_document(conn.value());
    if (!doc) return failed(doc.failure());
    conn->disconnect();
    return std::move(doc.value());
}

ifc_client::document_scope scope_of(const request& r) {
    auto scope = ifc_client::parse_scope(r.document.only, r.document.colours);
    return scope ? scope.value() : ifc_client::document_scope{};  // checked when parsed
}

std::string address_of(const ifc_client::endpoint& where) {
    return where.host + ":" + std::to_string(where.port);
}

}  // namespace

reply run_export(session& s, const request& r) {
    return connected(s, [&](ifc_client::connection& conn) {
        auto doc = ifc_client::read_document(conn);
        if (!doc) return failed(doc.failure());
        if (const auto problems = ifc_client::check_document(doc.value()); !problems.empty()) {
            return document_failure(
                "the server holds values that no settings document may hold: " +
                problems_text(problems) +
                "; a settings file in its working directory may be damaged (ifc-settings "
                "check tells)");
        }
        doc->name = r.document.name;
        doc->note = r.document.note;
        doc->source.controller = s.endpoint().host;
        doc->source.address = conn.peer_address();
        doc->program = "ifc-client";
        doc->program_version = IFC_VERSION;
        const std::string text = ifc_client::format_document(doc.value());
        reply out;
        const std::string& output = r.document.output;
        if (output.empty() || output == "-") {
            out.table = text;
            out.answers.push_back(text);
            out.json = nlohmann::ordered_json::parse(text);
            return out;
        }
        if (const std::string error = write_text_file(output, text); !error.empty()) {
            return document_failure(error);
        }
        out.table = "exported the settings of " + address_of(s.endpoint()) + " to " + output + "\n";
        out.json = {{"command", "export"},
                    {"output", output},
                    {"controller", doc->source.controller},
                    {"address", doc->source.address},
                    {"taken_at", doc->taken_at}};
        return out;
    });
}

reply run_diff(session& s, const request& r) {
    // Either side may be the server of this session: it serves one connection at a time.
    s.close();
    auto a = load_side(s, r.words[0]);
    if (auto* failure = std::get_if<reply>(&a)) return std::move(*failure);
    auto b = load_side(s, r.words[1]);
    if (auto* failure = std::get_if<reply>(&b)) return std::move(*failure);
    const auto differences = ifc_client::diff_documents(
        std::get<settings_document>(a), std::get<settings_document>(b), scope_of(r));
    return diff_reply(r.words[0], r.words[1], differences);
}

reply run_apply(session& s, const request& r) {
    const std::string& path = r.words[0];
    auto doc = load_document(path);
    if (!doc) return document_failure(doc.failure().detail);
    s.close();
    const ifc_client::endpoint where = s.endpoint();
    const ifc_client::connector connect = [&where] { return ifc_client::connection::open(where); };
    auto report =
        ifc_client::apply_document(connect, doc.value(), {scope_of(r), r.document.dry_run});
    if (!report) {
        if (report.code() == ifc_client::errc::refused) {
            return failed(exit_status::cannot_connect,
                          "cannot connect: " + report.failure().detail);
        }
        if (report.code() == ifc_client::errc::bad_request) {
            return document_failure(path + ": " + report.failure().detail);
        }
        return failed(report.failure());
    }
    return apply_reply(path == "-" ? "standard input" : path, address_of(where), report.value());
}

}  // namespace ifc_tool
