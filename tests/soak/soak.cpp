// The soak test: a long random mix of valid and invalid requests over many connections,
// against one server loop in a child process, with clients that vanish in the middle of a
// transfer, stall until the server gives up on them, send garbage or send a whole payload
// ahead of the server's "NEXT". Every settings answer is checked against a model of the
// settings as it goes; at the end the server must still answer, hold the descriptors and the
// resident memory it held after warming up (within a small tolerance), and store exactly the
// settings of the model in both files.
//
//   ifc_soak [--requests N] [--stalls N] [--seed N]
//
// N requests (default 5000) with N stalls among them (default 2); each stall waits out the
// server's 5-second limit. Exits 0 when every check holds, 1 otherwise.
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>

#include "protocol/protocol.h"
#include "tests/soak/raw_client.h"
#include "tests/soak/soak_requests.h"
#include "tests/support/files.h"
#include "tests/support/process_stats.h"
#include "tests/support/server_process.h"
#include "tests/support/settings_model.h"

namespace {

using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;
using soak::rng_type;
using test_support::settings_model;

struct options {
    long requests = 5000;
    int stalls = 2;
    std::uint64_t seed = std::random_device{}();
};

// Resident memory may grow by this much over the run (stdio and page-cache effects of the
// allocator are not leaks; a leak per request would be far above it).
constexpr long rss_tolerance_kib = 128;

options parse(int argc, char** argv) {
    options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string_view flag = argv[i];
        const char* value = argv[i + 1];
        if (flag == "--requests") {
            o.requests = std::atol(value);
        } else if (flag == "--stalls") {
            o.stalls = std::atoi(value);
        } else if (flag == "--seed") {
            o.seed = std::strtoull(value, nullptr, 10);
        } else {
            std::fprintf(stderr, "usage: %s [--requests N] [--stalls N] [--seed N]\n", argv[0]);
            std::exit(2);
        }
    }
    if (argc % 2 == 0) {
        std::fprintf(stderr, "usage: %s [--requests N] [--stalls N] [--seed N]\n", argv[0]);
        std::exit(2);
    }
    return o;
}

std::string header(std::string_view token, std::string_view rest) {
    std::string h(token);
    h += rest;
    h.resize(protocol::header_len, ' ');
    return h;
}

int pick(rng_type& rng, int n) {
    return static_cast<int>(rng() % static_cast<std::uint64_t>(n));
}

class soak_run {
  public:
    explicit soak_run(const options& o) : options_(o), rng_(o.seed) {}

    int run();

  private:
    [[noreturn]] void fail(const std::string& what);
    ifc_client::connection& conn();
    void end_session();
    void step();
    void count(const std::string& kind) {
        ++counts_[kind];
        recent_[recent_next_++ % recent_.size()] = kind;
    }

    void check_settings_read();
    void simulated_read();
    void put(const soak::planned_put& p);
    void put_ahead(const soak::planned_put& p);
    void put_refused();
    void ping();
    void closing_request();
    void vanish();
    void stall(int which);
    void warm_up();
    void check_final_state();
    // Descriptors and resident memory while the server serves one connection.
    std::pair<int, long> measure();

    const options options_;
    rng_type rng_;
    settings_model model_;
    test_support::server_process server_;
    std::optional<ifc_client::connection> conn_;
    std::map<std::string, long> counts_;
    long connections_ = 0;
    // The kinds of the last requests, for the report of a failure.
    std::array<std::string, 8> recent_;
    std::size_t recent_next_ = 0;
    long request_index_ = 0;
};

// Thrown out of the run, so that the server and its directories go with the run's objects.
void soak_run::fail(const std::string& what) {
    std::string report = "at request " + std::to_string(request_index_) + " (seed " +
                         std::to_string(options_.seed) + "): " + what +
                         "\nsoak: the last requests, oldest first:";
    for (std::size_t i = 0; i < recent_.size(); ++i) {
        report += " [" + recent_[(recent_next_ + i) % recent_.size()] + "]";
    }
    throw std::runtime_error(report);
}

ifc_client::connection& soak_run::conn() {
    if (!conn_ || !conn_->is_open()) {
        auto opened = ifc_client::connection::open(server_.endpoint());
        if (!opened) fail("cannot connect: " + opened.failure().detail);
        conn_.emplace(std::move(opened.value()));
        ++connections_;
    }
    return *conn_;
}

// Ends the current connection politely or by just closing it.
void soak_run::end_session() {
    if (!conn_) return;
    if (pick(rng_, 2) == 0) conn_->disconnect();
    conn_.reset();
}

void soak_run::check_settings_read() {
    const int colour = 1 + pick(rng_, 6);
    std::string name;
    std::string expected;
    switch (pick(rng_, 5)) {
        case 0:
            name = "IFC_get_stat";
            expected = model_.stat_answer();
            break;
        case 1:
            name = "IFC_get_select_item";
            expected = model_.select_answer();
            break;
        case 2:
            name = "IFC_get_Tot_Twt_" + std::to_string(colour);
            expected = model_.targets_answer(colour);
            break;
        case 3:
            name = "IFC_get_on_off_" + std::to_string(colour);
            expected = model_.on_off_answer(colour);
            break;
        default:
            name = "IFC_get_hst_select";
            expected = model_.hst_select_answer();
            break;
    }
    count("get settings");
    auto answer = conn().get(name);
    if (!answer) fail("GET " + name + ": " + answer.failure().detail);
    if (answer.value() != expected) {
        fail("GET " + name + " answered \"" + answer.value() + "\", the model says \"" + expected +
             "\"");
    }
}

void soak_run::simulated_read() {
    static const char* const names[] = {"IFC_get_To_Tw_", "IFC_get_histo_ave_",
                                        "IFC_get_hist_cntdatL", "IFC_get_hist_cntdatR"};
    const int which = pick(rng_, 4);
    std::string name = names[which];
    if (which < 2) name += std::to_string(1 + pick(rng_, 6));
    count("get simulated");
    auto answer = conn().get(name);
    if (!answer) fail("GET " + name + ": " + answer.failure().detail);
    if (answer.value().empty()) fail("GET " + name + " gave an empty answer");
}

void soak_run::put(const soak::planned_put& p) {
    count(p.kind);
    auto sent = conn().put_payload(p.payload);
    if (!sent) fail("PUT " + p.kind + ": " + sent.failure().detail);
    model_.apply(p.writes);
}

// The whole payload at once, ahead of the server's "NEXT"s; then every "NEXT" and the "FIN".
void soak_run::put_ahead(const soak::planned_put& p) {
    count("payload ahead");
    auto& c = conn();
    if (!c.send_bytes(header(protocol::put_token, std::to_string(p.payload.size())) + p.payload)) {
        fail("sending a payload ahead");
    }
    for (std::size_t got = 0; got < p.payload.size(); got += protocol::chunk_size) {
        auto next = c.recv_bytes(protocol::next_token.size());
        if (!next || next.value() != protocol::next_token) fail("no NEXT for a payload ahead");
    }
    auto fin = c.recv_bytes(protocol::fin_token.size());
    if (!fin || fin.value() != protocol::fin_token) fail("no FIN for a payload ahead");
    model_.apply(p.writes);
}

// Lengths the server refuses ("ERR!") or that carry nothing ("FIN" alone): the connection
// stays open.
void soak_run::put_refused() {
    static const char* const lengths[] = {"256001", "-1", "2147483648", "0", "x"};
    const int which = pick(rng_, 5);
    count("put refused or empty");
    auto& c = conn();
    if (!c.send_bytes(header(protocol::put_token, lengths[which]))) fail("sending a PUT header");
    const std::string_view reply = which < 3 ? protocol::err_token : protocol::fin_token;
    auto got = c.recv_bytes(reply.size());
    if (!got || got.value() != reply) fail("PUT " + std::string(lengths[which]) + " not refused");
}

void soak_run::ping() {
    count("ping");
    if (!conn().ping()) fail("PING");
}

// Requests after which the server closes the connection.
void soak_run::closing_request() {
    auto& c = conn();
    switch (pick(rng_, 3)) {
        case 0: {
            count("unknown get");
            auto answer = c.get("IFC_get_nothing");
            if (answer || answer.code() != ifc_client::errc::unknown_command) {
                fail("GET of an unknown name not refused");
            }
            break;
        }
        case 1: {
            count("garbage header");
            std::string bytes(protocol::header_len, '\0');
            for (char& ch : bytes)
                ch = static_cast<char>(rng_());
            bytes[0] = '~';  // no kind of header begins with it
            if (!c.send_bytes(bytes)) fail("sending a garbage header");
            break;
        }
        default: {
            count("bad acknowledgement");
            if (!c.send_bytes(header(protocol::get_token, "IFC_get_stat"))) fail("sending GET");
            if (!c.recv_bytes(protocol::len_header_len)) fail("no LEN header");
            if (!c.send_bytes("next")) fail("sending a bad acknowledgement");
            break;
        }
    }
    if (!c.server_closed(3s)) fail("the server kept a connection it had to close");
    conn_.reset();
}

// A client that goes away in the middle of an exchange, with an end of stream or a reset.
void soak_run::vanish() {
    count("vanished client");
    // The server serves one connection at a time: with a connection of this test still open,
    // the vanishing clients would queue up behind it, and once the queue is full their
    // connects would wait for retries long enough for the open connection to time out.
    end_session();
    soak::raw_client c(server_.port());
    if (!c.connected()) fail("cannot connect a raw client");
    ++connections_;
    const soak::planned_put p = soak::valid_put(rng_);
    const std::string put_header = header(protocol::put_token, std::to_string(p.payload.size()));
    switch (pick(rng_, 4)) {
        case 0:
            c.send(put_header.substr(0, 1 + pick(rng_, protocol::header_len - 1)));
            break;
        case 1:
            c.send(put_header + p.payload.substr(0, pick(rng_, p.payload.size())));
            break;
        case 2:
            c.send(header(protocol::get_token, "IFC_get_on_off_2"));
            break;
        default:
            c.send(header(protocol::ping_token, "") + header(protocol::get_token, "IFC_get_"));
            break;
    }
    c.drop(pick(rng_, 2) == 0);
}

// A client that stops sending and waits for the server to give up on it.
void soak_run::stall(int which) {
    count("stall");
    ifc_client::connection& c = conn();
    switch (which % 3) {
        case 0:
            break;  // connected, nothing sent
        case 1: {
            const soak::planned_put p = soak::valid_put(rng_);
            const std::string h = header(protocol::put_token, std::to_string(p.payload.size()));
            if (!c.send_bytes(h) || !c.recv_bytes(protocol::next_token.size()) ||
                !c.send_bytes(p.payload.substr(0, p.payload.size() / 2))) {
                fail("starting a stalled payload");
            }
            break;
        }
        default:
            if (!c.send_bytes(header(protocol::get_token, "IFC_get_select_item")) ||
                !c.recv_bytes(protocol::len_header_len)) {
                fail("starting a stalled answer");
            }
            break;
    }
    const auto start = clock_type::now();
    if (!c.server_closed(8s)) fail("a stalled client was not dropped within 8 s");
    const auto waited = clock_type::now() - start;
    if (waited < 4s) fail("a stalled client was dropped before the 5-second limit");
    conn_.reset();
}

void soak_run::step() {
    const int roll = pick(rng_, 100);
    if (roll < 30) {
        check_settings_read();
    } else if (roll < 35) {
        simulated_read();
    } else if (roll < 65) {
        put(soak::valid_put(rng_));
    } else if (roll < 75) {
        put(soak::no_effect_put(rng_));
    } else if (roll < 78) {
        put_ahead(soak::long_valve_line(rng_, 1000 + pick(rng_, 5000)));
    } else if (roll < 82) {
        put_refused();
    } else if (roll < 86) {
        ping();
    } else if (roll < 92) {
        closing_request();
    } else {
        vanish();
    }
    if (pick(rng_, 12) == 0) end_session();
}

std::pair<int, long> soak_run::measure() {
    end_session();
    // The server has closed every earlier connection once it answers on a new one.
    auto answer = conn().get("IFC_get_stat");
    if (!answer) fail("the server does not answer");
    return {process_stats::open_descriptors(server_.pid()),
            process_stats::status_kib(server_.pid(), "VmRSS")};
}

// Every path once, the largest payload among them, so that what the server touches only on
// first use (the whole transfer buffer, the output buffer, the settings files) is in place
// before the baseline is taken.
void soak_run::warm_up() {
    put_ahead(soak::long_valve_line(rng_, protocol::max_payload));
    for (int i = 0; i < 200; ++i)
        step();
    counts_.clear();
    connections_ = 0;
}

void soak_run::check_final_state() {
    end_session();
    auto& c = conn();
    const auto expect = [&](const std::string& name, const std::string& expected) {
        auto answer = c.get(name);
        if (!answer) fail("final GET " + name + ": " + answer.failure().detail);
        if (answer.value() != expected) {
            fail("final GET " + name + " answered \"" + answer.value() + "\", the model says \"" +
                 expected + "\"");
        }
    };
    expect("IFC_get_stat", model_.stat_answer());
    expect("IFC_get_select_item", model_.select_answer());
    expect("IFC_get_hst_select", model_.hst_select_answer());
    for (int colour = 1; colour <= 6; ++colour) {
        expect("IFC_get_Tot_Twt_" + std::to_string(colour), model_.targets_answer(colour));
        expect("IFC_get_on_off_" + std::to_string(colour), model_.on_off_answer(colour));
    }
    const auto ifc = test_support::read_file(server_.workfile(ifc_net::settings_file));
    const auto vfp = test_support::read_file(server_.workfile(vfp_ifc::settings_file));
    if (ifc != model_.interface_image()) fail("ifc_set.set differs from the model");
    if (vfp != model_.valve_image()) fail("valve_fp.set differs from the model");
}

int soak_run::run() {
    const auto start = clock_type::now();
    std::printf("soak: seed %llu, %ld requests, %d stalls, server pid %d\n",
                static_cast<unsigned long long>(options_.seed), options_.requests, options_.stalls,
                static_cast<int>(server_.pid()));
    std::fflush(stdout);
    warm_up();
    const auto [fds_before, rss_before] = measure();

    int stalls_done = 0;
    for (request_index_ = 0; request_index_ < options_.requests; ++request_index_) {
        // Stalls spread evenly over the run.
        if (stalls_done < options_.stalls &&
            request_index_ >= options_.requests * (stalls_done + 1) / (options_.stalls + 1)) {
            stall(stalls_done++);
        }
        step();
    }
    check_final_state();
    const auto [fds_after, rss_after] = measure();
    const long hwm = process_stats::status_kib(server_.pid(), "VmHWM");
    const double seconds = std::chrono::duration<double>(clock_type::now() - start).count();

    std::printf("soak: %ld requests over %ld connections in %.1f s\n", options_.requests,
                connections_, seconds);
    for (const auto& [kind, n] : counts_)
        std::printf("soak:   %-22s %7ld\n", kind.c_str(), n);
    std::printf(
        "soak: open descriptors %d -> %d; resident memory %ld KiB -> %ld KiB (peak %ld "
        "KiB, tolerance %ld KiB)\n",
        fds_before, fds_after, rss_before, rss_after, hwm, rss_tolerance_kib);
    if (fds_after != fds_before) fail("the server holds other descriptors than at the start");
    if (rss_after > rss_before + rss_tolerance_kib) fail("the server's resident memory grew");
    std::printf("soak: every setting equals the model; both settings files equal its images\n");
    std::printf("soak: ok\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const options o = parse(argc, argv);
    try {
        soak_run run(o);
        return run.run();
    } catch (const std::exception& e) {
        std::printf("soak: FAILED: %s\n", e.what());
        return 1;
    }
}
