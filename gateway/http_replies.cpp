#include "gateway/http_replies.h"

#include <nlohmann/json.hpp>

namespace gateway {

void send_json(httplib::Response& res, int status, const std::string& body) {
    res.status = status;
    res.set_header("Cache-Control", "no-store");
    res.set_content(body, json_type);
}

void send_error(httplib::Response& res, int status, const std::string& message) {
    send_json(res, status, nlohmann::ordered_json{{"message", message}}.dump());
}

void send_shared(httplib::Response& res, std::shared_ptr<const std::string> text,
                 const char* type) {
    const std::size_t size = text->size();
    res.set_content_provider(
        size, type, [text](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            sink.write(text->data() + offset, length);
            return true;
        });
}

}  // namespace gateway
