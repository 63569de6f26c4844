#include "tests/support/fake_controller.h"

#include <poll.h>
#include <sys/socket.h>

#include <charconv>
#include <cstdio>

#include "client/commands.h"
#include "protocol/protocol.h"
#include "tests/support/loopback.h"
#include "tests/support/settings_model.h"

namespace test_support {

namespace {

using namespace std::chrono_literals;

// Waits (in short steps, so that a stopping controller is not held up) until fd is readable.
bool readable(int fd, const std::atomic<bool>& stopping) {
    for (int step = 0; step < 200 && !stopping; ++step) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 50) > 0) return true;
    }
    return false;
}

bool recv_exactly(int fd, std::string& bytes, std::size_t count,
                  const std::atomic<bool>& stopping) {
    bytes.assign(count, '\0');
    std::size_t got = 0;
    while (got < count) {
        if (!readable(fd, stopping)) return false;
        const ssize_t k = ::recv(fd, bytes.data() + got, count - got, 0);
        if (k <= 0) return false;
        got += static_cast<std::size_t>(k);
    }
    return true;
}

std::string trimmed_name(std::string_view header) {
    std::string_view name = header.substr(protocol::name_field_offset);
    while (!name.empty() && name.back() == ' ')
        name.remove_suffix(1);
    return std::string(name);
}

}  // namespace

std::map<std::string, std::string> default_answers() {
    namespace cmd = ifc_client::commands;
    std::map<std::string, std::string> answers;
    // The settings of a fresh installation, from the tests' own statement of the defaults.
    const settings_model defaults;
    answers[std::string(cmd::get_status)] = defaults.stat_answer();
    answers[std::string(cmd::get_selection)] = defaults.select_answer();
    for (int colour = cmd::first_colour; colour <= cmd::last_colour; ++colour) {
        answers[cmd::get_targets(colour)] = defaults.targets_answer(colour);
        answers[cmd::get_valves(colour)] = defaults.on_off_answer(colour);
        answers[cmd::get_timing(colour)] = "to:92 tw:242 ";
        answers[cmd::get_averages(colour)] =
            "to:92 tb1:128 tb2:164 tb3:190 tb4:0 tb5:0 tb6:0 tb7:0 tb8:0 tbw:224 tw:242 ";
    }
    const std::string bins =
        " 0 0 0 0 0 0 0 0 0 0 0 0 0 0 10 30 50 120 160 210 250 280 290 300 290 280 250 210 160 "
        "120 50 30 10 0 0 0 0 0 0 0 0 0 0 0 0 0";
    answers[std::string(cmd::get_histogram_left)] = "234 500 4.65 190 500" + bins;
    answers[std::string(cmd::get_histogram_right)] = "234 500 4.52 190 500" + bins;
    answers[std::string(cmd::get_histogram_selection)] = defaults.hst_select_answer();
    return answers;
}

fake_controller::fake_controller(fake_controller_options options) : options_(std::move(options)) {
    auto listener = listen_on_loopback();
    listener_ = std::move(listener.fd);
    port_ = listener.port;
    thread_ = std::thread([this] { serve(); });
}

fake_controller::~fake_controller() {
    stopping_ = true;
    thread_.join();
}

ifc_client::endpoint fake_controller::endpoint(std::chrono::milliseconds timeout,
                                               std::chrono::milliseconds deadline) const {
    return ifc_client::endpoint{"127.0.0.1", port_, timeout, deadline};
}

std::vector<std::string> fake_controller::payloads() const {
    std::lock_guard lock(mutex_);
    return payloads_;
}

void fake_controller::serve() {
    while (!stopping_) {
        pollfd pfd{listener_.get(), POLLIN, 0};
        if (::poll(&pfd, 1, 50) <= 0) continue;
        ifc_client::unique_fd client(::accept(listener_.get(), nullptr, nullptr));
        if (!client) continue;
        ++connections_;
        serve_client(client.get());
    }
}

bool fake_controller::send_all(int fd, std::string_view bytes) {
    if (options_.drip.count() == 0) {
        return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    for (char byte : bytes) {
        for (auto waited = 0ms; waited < options_.drip && !stopping_; waited += 10ms) {
            std::this_thread::sleep_for(10ms);
        }
        if (stopping_ || ::send(fd, &byte, 1, MSG_NOSIGNAL) != 1) return false;
    }
    return true;
}

std::string fake_controller::answer_of(const std::string& name, bool& known) const {
    std::lock_guard lock(mutex_);
    if (const auto written = written_.find(name); written != written_.end()) {
        known = true;
        return written->second;
    }
    const auto found = options_.answers.find(name);
    known = found != options_.answers.end();
    return known ? found->second : std::string();
}

void fake_controller::apply(const std::string& payload) {
    namespace cmd = ifc_client::commands;
    const auto nul = payload.find('\0');
    if (nul == std::string::npos) return;
    const std::string name = payload.substr(0, nul);
    std::map<std::string, std::string> read_of{{std::string(cmd::set_status),
                                                std::string(cmd::get_status)}};
    for (int colour = cmd::first_colour; colour <= cmd::last_colour; ++colour) {
        read_of[cmd::set_targets(colour)] = cmd::get_targets(colour);
        read_of[cmd::set_valves(colour)] = cmd::get_valves(colour);
    }
    if (const auto read = read_of.find(name); read != read_of.end()) {
        std::lock_guard lock(mutex_);
        written_[read->second] = payload.substr(nul + 1);
    }
}

void fake_controller::serve_client(int fd) {
    std::string header;
    while (recv_exactly(fd, header, protocol::header_len, stopping_)) {
        if (header.starts_with(protocol::get_token)) {
            bool known = false;
            const std::string answer = answer_of(trimmed_name(header), known);
            if (!known) {
                send_all(fd, "LEN-000000001");
                return;
            }
            char len[32];
            std::snprintf(len, sizeof len, "LEN%010d", static_cast<int>(answer.size()));
            if (!send_all(fd, len)) return;
            for (std::size_t sent = 0; sent < answer.size(); sent += protocol::chunk_size) {
                std::string next;
                if (!recv_exactly(fd, next, protocol::next_token.size(), stopping_)) return;
                if (!send_all(fd, std::string_view(answer).substr(sent, protocol::chunk_size))) {
                    return;
                }
            }
        } else if (header.starts_with(protocol::put_token)) {
            std::size_t length = 0;
            const char* digits = header.data() + protocol::put_token.size();
            std::from_chars(digits, header.data() + header.size(), length);
            std::string payload;
            while (payload.size() < length) {
                if (!send_all(fd, protocol::next_token)) return;
                std::string chunk;
                const std::size_t size =
                    std::min<std::size_t>(length - payload.size(), protocol::chunk_size);
                if (!recv_exactly(fd, chunk, size, stopping_)) return;
                payload += chunk;
            }
            {
                std::lock_guard lock(mutex_);
                payloads_.push_back(payload);
            }
            if (options_.apply_line_writes) apply(payload);
            switch (options_.after_put) {
                case put_ending::fin:
                    if (!send_all(fd, protocol::fin_token)) return;
                    break;
                case put_ending::close:
                    return;
                case put_ending::stall: {
                    // Until the client goes away (it reads end of stream only when we close).
                    std::string rest;
                    while (recv_exactly(fd, rest, 1, stopping_)) {
                    }
                    return;
                }
            }
        } else if (!header.starts_with(protocol::ping_token)) {
            return;  // DISCONNECT or anything else ends the connection
        }
    }
}

}  // namespace test_support
