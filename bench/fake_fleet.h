// Many controllers for the gateway's benchmarks, in one thread of one process: each on a
// loopback port of its own, speaking the request protocol and answering every read with what a
// real ifc-server answered once (writes are refused with ERR!). Hundreds of real servers would
// measure the machine's scheduler more than the gateway. It notes when each controller is
// connected to, for the poll interval's jitter.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/unique_fd.h"

namespace gateway_bench {

// Every read command's answer from the real server at server_path, started for it in a
// temporary directory and ended again; exits the program when it cannot be had.
std::map<std::string, std::string> answers_of_a_real_server(const std::string& server_path);

class fake_fleet {
  public:
    using clock = std::chrono::steady_clock;

    fake_fleet(std::map<std::string, std::string> answers, int count);
    ~fake_fleet();
    fake_fleet(const fake_fleet&) = delete;
    fake_fleet& operator=(const fake_fleet&) = delete;

    const std::vector<std::uint16_t>& ports() const { return ports_; }
    // When each controller accepted a connection, oldest first; forget() drops them.
    std::vector<std::vector<clock::time_point>> connection_times() const;
    void forget();

  private:
    struct client;
    void run();
    void accept_all(std::size_t controller);
    bool serve(client& c);

    const std::map<std::string, std::string> answers_;
    std::vector<ifc_client::unique_fd> listeners_;
    std::vector<std::uint16_t> ports_;
    ifc_client::unique_fd epoll_;
    ifc_client::unique_fd stop_event_;
    mutable std::mutex mutex_;
    std::vector<std::vector<clock::time_point>> connected_;
    std::thread thread_;
};

}  // namespace gateway_bench
