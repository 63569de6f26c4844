// A tiny stand-in for a controller, for tests of clients: it speaks the request protocol on a
// loopback port from a thread of the test, answers each GET from a table of answer texts and
// acknowledges each PUT without applying it (or, when asked, applies the writes of a whole
// settings line). It can drip every byte it sends, to show what a client does with a server
// that answers too slowly, and lose the end of every PUT.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/connection.h"
#include "client/unique_fd.h"

namespace test_support {

// What follows the payload of a PUT: "FIN", the connection closed (the controller vanished
// after applying it), or nothing until the client goes (it stalled before confirming).
enum class put_ending { fin, close, stall };

struct fake_controller_options {
    // GET name -> answer text; a name not in the table is answered as unknown.
    std::map<std::string, std::string> answers;
    // The pause before each byte the controller sends; zero sends each token at once.
    std::chrono::milliseconds drip{0};
    put_ending after_put = put_ending::fin;
    // A PUT of a whole line (status, targets, valves) becomes the answer of its read command.
    bool apply_line_writes = false;
};

// The answers of a controller with the default settings, for every read command.
std::map<std::string, std::string> default_answers();

class fake_controller {
  public:
    explicit fake_controller(fake_controller_options options);
    ~fake_controller();
    fake_controller(const fake_controller&) = delete;
    fake_controller& operator=(const fake_controller&) = delete;

    std::uint16_t port() const { return port_; }
    ifc_client::endpoint endpoint(std::chrono::milliseconds timeout,
                                  std::chrono::milliseconds deadline) const;
    // Connections accepted so far, and the PUT payloads received (name, NUL, argument).
    int connections() const { return connections_; }
    std::vector<std::string> payloads() const;

  private:
    void serve();
    void serve_client(int fd);
    bool send_all(int fd, std::string_view bytes);
    std::string answer_of(const std::string& name, bool& known) const;
    void apply(const std::string& payload);

    fake_controller_options options_;
    ifc_client::unique_fd listener_;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    mutable std::mutex mutex_;
    std::vector<std::string> payloads_;
    std::map<std::string, std::string> written_;  // read command -> answer, by apply_line_writes
    std::thread thread_;
};

}  // namespace test_support
