// The settings document reader on any bytes, as a document from anywhere may be (a file, a
// pipe, later a request to the gateway). It must never crash, and what it accepts must be
// sound: check_document finds nothing in it, and the writer's text of it reads back to the
// same document and the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "client/document_diff.h"
#include "client/document_json.h"

namespace {

void check(bool holds) {
    if (!holds) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto doc = ifc_client::parse_document(text);
    if (!doc) {
        check(doc.code() == ifc_client::errc::bad_request && !doc.failure().detail.empty());
        return 0;
    }
    check(ifc_client::check_document(doc.value()).empty());
    const std::string once = ifc_client::format_document(doc.value());
    const auto again = ifc_client::parse_document(once);
    check(again.ok());
    check(ifc_client::format_document(again.value()) == once);
    check(ifc_client::diff_documents(doc.value(), again.value()).empty());
    return 0;
}
