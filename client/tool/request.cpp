#include "client/tool/request.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <iostream>

namespace ifc_tool {

std::string request::command_text(std::string_view words) const {
    return (from == origin::prompt ? "" : "ifc-client ") + std::string(words);
}

ifc_client::endpoint global_options::endpoint() const {
    const auto millis = [](double seconds) {
        return std::chrono::milliseconds(std::max(0LL, std::llround(seconds * 1000)));
    };
    ifc_client::endpoint where{host, static_cast<std::uint16_t>(port),
                               std::max(std::chrono::milliseconds(1), millis(timeout_seconds))};
    where.queue_wait = millis(wait_seconds);
    // The notice names the true bound: the longer of --wait and --timeout.
    const bool timeout_longer = timeout_seconds > wait_seconds;
    where.on_queued = [timeout_longer](std::chrono::milliseconds patience) {
        std::cerr << "ifc-client: no answer yet: the server is serving another client or is not "
                     "answering; waiting at most "
                  << std::chrono::duration<double>(patience).count() << " s in all ("
                  << (timeout_longer ? "--timeout" : "--wait") << ")..." << std::endl;
    };
    return where;
}

}  // namespace ifc_tool
