#include "gateway/version.h"

namespace gateway {

std::string_view gateway_version() {
    return IFC_VERSION;
}

}  // namespace gateway
