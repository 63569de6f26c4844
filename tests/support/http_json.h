// JSON requests to a gateway in a test: the status and the body parsed, and bounded waits
// for an answer to come to a state (a roll-out's progress, a drift after the next poll).
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include <httplib.h>
#include <nlohmann/json.hpp>

namespace test_support {

struct json_answer {
    int status = 0;  // 0: no answer at all
    nlohmann::json body;
    std::string text;
    httplib::Headers headers;
};

json_answer get_json(httplib::Client& client, const std::string& path,
                     const httplib::Headers& headers = {});
// POST (or PATCH, DELETE) with a JSON body; an empty body is sent as none.
json_answer send_json(httplib::Client& client, const std::string& method, const std::string& path,
                      const std::string& body, const httplib::Headers& headers = {});
inline json_answer post_json(httplib::Client& client, const std::string& path,
                             const nlohmann::json& body, const httplib::Headers& headers = {}) {
    return send_json(client, "POST", path, body.is_null() ? "" : body.dump(), headers);
}

// GETs path every 20 ms until done(answer) is true or limit passed; the last answer.
json_answer wait_json(httplib::Client& client, const std::string& path,
                      const std::function<bool(const json_answer&)>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(15));

}  // namespace test_support
