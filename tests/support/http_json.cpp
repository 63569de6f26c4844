#include "tests/support/http_json.h"

#include <thread>

namespace test_support {

namespace {

json_answer answer_of(const httplib::Result& r) {
    json_answer a;
    if (!r) return a;
    a.status = r->status;
    a.text = r->body;
    a.headers = r->headers;
    a.body = nlohmann::json::parse(r->body, nullptr, false);
    return a;
}

}  // namespace

json_answer get_json(httplib::Client& client, const std::string& path,
                     const httplib::Headers& headers) {
    return answer_of(client.Get(path, headers));
}

json_answer send_json(httplib::Client& client, const std::string& method, const std::string& path,
                      const std::string& body, const httplib::Headers& headers) {
    constexpr const char* type = "application/json";
    if (method == "PATCH") return answer_of(client.Patch(path, headers, body, type));
    if (method == "DELETE") return answer_of(client.Delete(path, headers, body, type));
    if (body.empty()) {
        httplib::Headers with_type = headers;
        with_type.emplace("Content-Type", type);
        return answer_of(client.Post(path, with_type));
    }
    return answer_of(client.Post(path, headers, body, type));
}

json_answer wait_json(httplib::Client& client, const std::string& path,
                      const std::function<bool(const json_answer&)>& done,
                      std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        json_answer a = get_json(client, path);
        if (done(a) || std::chrono::steady_clock::now() >= end) return a;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace test_support
