// The whole server under crashes and faults: killed at random moments while a client writes
// valve lines, a full disk under its working directory, and settings files replaced by random
// bytes while it serves.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "protocol/protocol.h"
#include "tests/support/files.h"
#include "tests/support/server_process.h"
#include "tests/support/settings_model.h"
#include "tests/support/small_disk.h"

namespace {

using namespace std::chrono_literals;
using test_support::read_file;
using test_support::server_process;
using test_support::settings_file;
using test_support::settings_model;
using test_support::slot_write;
using test_support::token_list;
using test_support::write_file;

constexpr std::size_t interface_size = ifc_net::image_size;
constexpr std::size_t valve_size = vfp_ifc::image_size;

// A write request and the slot writes the server must make for it, in order.
struct write_request {
    std::string name;
    std::string argument;
    std::vector<slot_write> writes;
};

write_request valve_line(int colour, std::int32_t base) {
    token_list tokens;
    for (const std::string& key : test_support::valve_keys()) {
        tokens.emplace_back(key, base + static_cast<std::int32_t>(tokens.size()));
    }
    return {"IFC_set_on_off_" + std::to_string(colour), test_support::token_line(tokens),
            test_support::on_off_writes(colour, tokens)};
}

write_request targets(int colour, std::int32_t to, std::int32_t tw) {
    return {"IFC_set_to_tw_" + std::to_string(colour),
            "to:" + std::to_string(to) + " tw:" + std::to_string(tw) + " ",
            {{settings_file::interface, "Tot", colour, to},
             {settings_file::interface, "Twt", colour, tw}}};
}

std::string payload_of(const write_request& r) {
    return r.name + std::string(1, '\0') + r.argument;
}

std::string header(std::string_view token, std::string_view rest) {
    std::string h(token);
    h += rest;
    h.resize(protocol::header_len, ' ');
    return h;
}

// Both settings files of a server, one after the other ("" for a missing one).
std::string both_files(const std::string& ifc, const std::string& vfp) {
    return read_file(ifc).value_or("") + read_file(vfp).value_or("");
}

void expect_served(ifc_client::connection& conn, const settings_model& model) {
    for (int colour = 1; colour <= 6; ++colour) {
        auto on_off = conn.get("IFC_get_on_off_" + std::to_string(colour));
        ASSERT_TRUE(on_off.ok()) << on_off.failure().detail;
        EXPECT_EQ(on_off.value(), model.on_off_answer(colour));
        auto to_tw = conn.get("IFC_get_Tot_Twt_" + std::to_string(colour));
        ASSERT_TRUE(to_tw.ok()) << to_tw.failure().detail;
        EXPECT_EQ(to_tw.value(), model.targets_answer(colour));
    }
}

// SIGKILL at random moments while a client writes whole valve lines (45 values) and now and
// then the targets of a colour (a TO/TW pair). The client follows every exchange by hand: the
// server runs a write after its "FIN" and before it reads the next header, so the "NEXT" for
// the payload of request r proves that request r - 1 has run to the end. After each kill both
// files must be complete and hold exactly the requests that had run, plus either all of the
// one request that may have been under way or none of it: never a part of a line or a pair.
TEST(ServerCrash, KilledWhileWritingValveLinesKeepsCompleteFilesOfOldOrNewValues) {
    constexpr int rounds = 20;
    server_process server;
    const std::string ifc = server.workfile(ifc_net::settings_file);
    const std::string vfp = server.workfile(vfp_ifc::settings_file);
    settings_model model;
    // How long a valve line takes here (each save is flushed to the disk, whose speed varies
    // a lot): the kills are spread over the time of a few requests. Both files exist before
    // the first kill.
    std::chrono::microseconds line_time{};
    {
        auto conn = server.connect();
        ASSERT_TRUE(conn.get("IFC_get_stat").ok());
        line_time = std::chrono::hours(1);
        for (std::int32_t value : {70, 80, 90}) {
            const write_request line = valve_line(1, value);
            const auto start = std::chrono::steady_clock::now();
            ASSERT_TRUE(conn.put(line.name, line.argument).ok());
            ASSERT_TRUE(conn.get("IFC_get_on_off_1").ok());
            line_time = std::min(line_time, std::chrono::duration_cast<std::chrono::microseconds>(
                                                std::chrono::steady_clock::now() - start));
            model.apply(line.writes);
        }
    }
    ASSERT_EQ(both_files(ifc, vfp), model.images());

    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    std::int32_t next_value = 1000;
    int kills_under_way = 0;
    int requests_run = 0;
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::vector<write_request> requests;
        for (int r = 0; r < 400; ++r) {
            const int colour = 1 + static_cast<int>(rng() % 6);
            requests.push_back(r % 4 == 3 ? targets(colour, next_value, -next_value)
                                          : valve_line(colour, next_value));
            next_value += 64;
        }
        // The last request known to have run to the end, and the last one sent.
        std::atomic<int> done{-1};
        std::atomic<int> sent{-1};
        std::thread client([&] {
            // The kill may come before the connection is made.
            auto opened = ifc_client::connection::open(server.endpoint());
            if (!opened) return;
            ifc_client::connection& conn = opened.value();
            for (int r = 0; r < static_cast<int>(requests.size()); ++r) {
                const std::string payload = payload_of(requests[r]);
                if (!conn.send_bytes(header(protocol::put_token, std::to_string(payload.size())))
                         .ok()) {
                    return;
                }
                auto next = conn.recv_bytes(protocol::next_token.size());
                if (!next.ok() || next.value() != protocol::next_token) return;
                done = r - 1;
                if (!conn.send_bytes(payload).ok()) return;
                sent = r;
                auto fin = conn.recv_bytes(protocol::fin_token.size());
                if (!fin.ok()) return;
            }
        });
        // Past the connection's set-up, and over the time of a few dozen requests.
        const auto window = 1000 + 30 * line_time.count();
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % window));
        server.kill();
        client.join();

        // The state after the requests that ran, then each prefix of the writes of the next.
        for (int r = 0; r <= done; ++r)
            model.apply(requests[r].writes);
        requests_run += done + 1;
        const std::string found = both_files(ifc, vfp);
        ASSERT_EQ(found.size(), interface_size + valve_size)
            << "ifc_set.set " << read_file(ifc).value_or("").size() << " bytes, valve_fp.set "
            << read_file(vfp).value_or("").size() << " bytes";
        bool matched = found == model.images();
        if (sent > done) {
            ++kills_under_way;
            settings_model whole = model;
            whole.apply(requests[done + 1].writes);
            if (!matched && found == whole.images()) {
                matched = true;
                model = whole;
            }
        }
        ASSERT_TRUE(matched) << "the files hold neither the requests that ran, nor those and "
                                "the whole of the next one; "
                             << done + 1 << " requests had run";

        server.restart();
        auto conn = server.connect();
        expect_served(conn, model);
        if (HasFailure()) return;
    }
    std::cout << rounds << " kills after " << requests_run << " requests (a valve line took "
              << line_time.count() / 1000 << " ms); " << kills_under_way
              << " kills while a request was under way\n";
}

// A full disk under the server's working directory: a small tmpfs of this test process
// alone, which the server's process inherits.
using FullDisk = test_support::small_disk_test;

TEST_F(FullDisk, WritesAreRefusedWhileItIsFullAndTheServerKeepsServing) {
    const std::string dir = disk.path();
    server_process server({.child_setup = [dir] {
        if (::chdir(dir.c_str()) != 0) _exit(124);
    }});
    const std::string ifc = disk.file(ifc_net::settings_file);
    const std::string vfp = disk.file(vfp_ifc::settings_file);
    settings_model model;
    auto conn = server.connect();
    const auto put = [&](const write_request& r) {
        ASSERT_TRUE(conn.put(r.name, r.argument).ok());
    };
    // A request whose writes must be stored.
    const auto store = [&](const write_request& r) {
        put(r);
        model.apply(r.writes);
    };
    store(valve_line(2, 500));
    store(targets(2, 111, 222));
    expect_served(conn, model);
    ASSERT_EQ(both_files(ifc, vfp), model.images());

    ASSERT_TRUE(disk.fill_up());
    put(valve_line(2, 900));
    put(targets(2, 333, 444));
    put(valve_line(3, 900));
    expect_served(conn, model);
    EXPECT_EQ(both_files(ifc, vfp), model.images());
    // Every failed save says so, and leaves no temporary file behind.
    EXPECT_TRUE(
        server.wait_for_stderr("server: valve_fp.set: cannot save: No space left on "
                               "device\nserver: ifc_set.set: cannot save: No space left "
                               "on device\nserver: valve_fp.set: cannot save: No space "
                               "left on device\n"))
        << server.stderr_text();
    for (const auto& entry : std::filesystem::directory_iterator(disk.path())) {
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
    }

    ASSERT_TRUE(disk.make_room());
    store(valve_line(3, 700));
    store(targets(3, 555, 666));
    expect_served(conn, model);
    EXPECT_EQ(both_files(ifc, vfp), model.images());
    EXPECT_TRUE(server.running());
}

const std::vector<std::string> settings_reads{
    "IFC_get_select_item", "IFC_get_stat",       "IFC_get_Tot_Twt_1",    "IFC_get_To_Tw_2",
    "IFC_get_histo_ave_3", "IFC_get_hst_select", "IFC_get_hist_cntdatL", "IFC_get_hist_cntdatR",
    "IFC_get_on_off_1",    "IFC_get_on_off_4",   "IFC_get_on_off_6"};

// Every read, and the writes fed with their read twins' answers, as a terminal does.
void exercise(ifc_client::connection& conn) {
    for (const std::string& name : settings_reads) {
        auto answer = conn.get(name);
        ASSERT_TRUE(answer.ok()) << name << ": " << answer.failure().detail;
        ASSERT_LE(answer.value().size(), static_cast<std::size_t>(protocol::max_payload));
    }
    for (const auto& [get, put] : {std::pair{"IFC_get_stat", "IFC_set_stat"},
                                   std::pair{"IFC_get_Tot_Twt_5", "IFC_set_to_tw_5"},
                                   std::pair{"IFC_get_on_off_5", "IFC_set_on_off_5"}}) {
        auto answer = conn.get(get);
        ASSERT_TRUE(answer.ok()) << get << ": " << answer.failure().detail;
        ASSERT_TRUE(conn.put(put, answer.value()).ok()) << put;
    }
    ASSERT_TRUE(conn.put("IFC_set_select_item", "sub4:1").ok());
    ASSERT_TRUE(conn.put("IFC_hst_select_item", "RIGHT 2 tb3").ok());
    // The server runs a write after its "FIN": a read after it is the sign that it is done.
    ASSERT_TRUE(conn.get("IFC_get_hst_select").ok());
}

// Random bytes of every interesting length in place of a settings file, between requests:
// the server serves on. A file shorter than its image is replaced by the defaults at the next
// access; a longer one is cut to the image at the next write that changes it, and left as it
// is by requests that change nothing.
TEST(ServerFaults, SettingsFilesReplacedByRandomBytesBetweenRequests) {
    server_process server;
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    auto conn = server.connect();
    const settings_model defaults;
    for (const std::size_t size :
         {0ul, 1ul, 79ul, 799ul, 800ul, 801ul, 8959ul, 8960ul, 8961ul, 100000ul, 8960ul, 800ul}) {
        for (const bool valve : {false, true}) {
            const std::size_t image = valve ? valve_size : interface_size;
            SCOPED_TRACE(std::to_string(size) + " random bytes in " +
                         (valve ? "valve_fp.set" : "ifc_set.set"));
            std::string bytes(size, '\0');
            for (char& c : bytes)
                c = static_cast<char>(rng());
            const std::string path =
                server.workfile(valve ? vfp_ifc::settings_file : ifc_net::settings_file);
            write_file(path, bytes);
            // A read leaves a file of full size alone and replaces a shorter one by the
            // defaults.
            ASSERT_TRUE(conn.get(valve ? "IFC_get_on_off_3" : "IFC_get_stat").ok());
            const std::string fresh = valve ? defaults.valve_image() : defaults.interface_image();
            EXPECT_TRUE(read_file(path) == (size < image ? fresh : bytes))
                << read_file(path).value_or("").size() << " bytes";
            exercise(conn);
            if (HasFailure()) return;
            const std::string after = read_file(path).value_or("");
            EXPECT_TRUE(after.size() == image || after == bytes) << after.size() << " bytes";
        }
    }
    EXPECT_TRUE(server.running());
}

// The same while another program keeps rewriting both files with random bytes as fast as it
// can, so that the server also meets files in the middle of being written.
TEST(ServerFaults, SettingsFilesRewrittenWithRandomBytesDuringRequests) {
    server_process server;
    std::atomic<bool> stop{false};
    std::thread vandal([&] {
        std::mt19937 rng(12345);
        const std::string files[] = {server.workfile(ifc_net::settings_file),
                                     server.workfile(vfp_ifc::settings_file)};
        while (!stop) {
            std::string bytes(rng() % 10000, '\0');
            for (char& c : bytes)
                c = static_cast<char>(rng());
            write_file(files[rng() % 2], bytes);
        }
    });
    const auto end = std::chrono::steady_clock::now() + 3s;
    int rounds = 0;
    while (std::chrono::steady_clock::now() < end && !HasFailure()) {
        auto conn = server.connect();
        exercise(conn);
        ++rounds;
    }
    stop = true;
    vandal.join();
    EXPECT_TRUE(server.running());
    auto conn = server.connect();
    ASSERT_TRUE(conn.get("IFC_get_stat").ok());
    std::cout << rounds << " rounds of requests against files rewritten at random\n";
}

}  // namespace
