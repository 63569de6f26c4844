// The gateway's version, as --version and the build-info metric give it.
#pragma once

#include <string_view>

namespace gateway {

std::string_view gateway_version();  // "1.0.0": the project's version

}  // namespace gateway
