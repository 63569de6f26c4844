#include "gateway/mill/direct_machine_access.h"

#include "client/document_read.h"

namespace gateway::mill {

ifc_client::result<ifc_client::endpoint> direct_machine_access::endpoint_of(
    const std::string& controller) const {
    const auto found = machines_.find(controller);
    if (found == machines_.end()) {
        return ifc_client::error{ifc_client::errc::bad_request, "no controller " + controller};
    }
    return found->second;
}

ifc_client::result<ifc_client::settings_document> direct_machine_access::read(
    const std::string& controller) {
    auto where = endpoint_of(controller);
    if (!where) return where.failure();
    auto conn = ifc_client::connection::open(where.value());
    if (!conn) return conn.failure();
    auto doc = ifc_client::read_document(conn.value());
    conn->disconnect();
    if (!doc) return doc.failure();
    doc->source = {controller, where->host + ":" + std::to_string(where->port), {}};
    return doc;
}

ifc_client::result<ifc_client::apply_report> direct_machine_access::apply(
    const std::string& controller, const ifc_client::settings_document& wanted,
    const ifc_client::apply_options& options) {
    auto where = endpoint_of(controller);
    if (!where) return where.failure();
    const ifc_client::endpoint to = where.value();
    return ifc_client::apply_document([to] { return ifc_client::connection::open(to); }, wanted,
                                      options);
}

}  // namespace gateway::mill
