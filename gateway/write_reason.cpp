#include "gateway/write_reason.h"

namespace gateway {

ifc_client::result<std::string> take_reason(nlohmann::ordered_json& body) {
    const auto found = body.find("reason");
    if (found == body.end()) return std::string();
    if (found->is_null()) {
        body.erase(found);
        return std::string();
    }
    if (!found->is_string()) {
        return ifc_client::error{ifc_client::errc::bad_request, "\"reason\" must be a text"};
    }
    std::string reason = found->get<std::string>();
    if (reason.size() > max_reason_bytes) {
        return ifc_client::error{
            ifc_client::errc::bad_request,
            "\"reason\" is longer than " + std::to_string(max_reason_bytes) + " bytes"};
    }
    body.erase(found);
    return reason;
}

}  // namespace gateway
