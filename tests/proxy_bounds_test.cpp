// What the proxy does at its bounds: a journal whose reader stops reading, a journal on a full
// disk, more terminals than --max-connections, a terminal it has no thread for. Past each
// bound the relay goes on, a stop still stops, and the journal's lines are whole.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/unique_fd.h"
#include "tests/support/files.h"
#include "tests/support/proxy_process.h"
#include "tests/support/server_process.h"
#include "tests/support/small_disk.h"
#include "tests/support/tool_process.h"
#include "tests/support/wait.h"
#include "tests/support/wire.h"

namespace {

using namespace std::chrono_literals;
using ifc_client::unique_fd;
using nlohmann::json;

// A PUT whose journal line, with --text-max 1048576, takes a quarter of the journal's buffer.
const std::string big_payload =
    test_support::payload("MLETOFF_set_btnstat", std::string(255000, 'x'));

struct pipe_ends {
    unique_fd read;
    unique_fd write;
};

pipe_ends make_pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    return {unique_fd(fds[0]), unique_fd(fds[1])};
}

// A proxy whose journal is its standard output, the write end of pipe.
std::unique_ptr<test_support::proxy_process> proxy_on(std::uint16_t controller, int pipe_write) {
    test_support::proxy_options options;
    options.journal = false;
    options.args = {"--journal", "-", "--text-max", "1048576"};
    options.stdout_fd = pipe_write;
    return std::make_unique<test_support::proxy_process>(controller, options);
}

// Big PUTs through the proxy until far more journal lines than its buffer holds are written;
// each must be relayed whole.
void fill_the_journal(const test_support::proxy_process& proxy) {
    for (int i = 0; i < 12; ++i) {
        auto c = proxy.connect();
        ASSERT_TRUE(c.put_payload(big_payload).ok()) << "PUT " << i;
        c.disconnect();
    }
}

// Whether a terminal that connects now gets an answer (a terminal turned away may see its
// reset while it connects, or at its first request).
bool served(const test_support::proxy_process& proxy) {
    auto opened = ifc_client::connection::open(proxy.endpoint());
    return opened && opened.value().get("IFC_get_stat").ok();
}

std::size_t count_of(const std::string& text, std::string_view needle) {
    std::size_t n = 0;
    for (std::size_t at = 0; (at = text.find(needle, at)) != std::string::npos; ++at)
        ++n;
    return n;
}

std::vector<json> parse_lines(const std::string& text) {
    std::vector<json> lines;
    for (const std::string& line : test_support::lines_of(text)) {
        lines.push_back(json::parse(line, nullptr, false));
        EXPECT_FALSE(lines.back().is_discarded()) << "not a whole line: " << line.substr(0, 80);
    }
    return lines;
}

TEST(JournalOnAPipe, ThatNobodyReadsHoldsNeitherTheRelayNorTheStop) {
    test_support::server_process server;
    pipe_ends journal = make_pipe();
    const auto proxy = proxy_on(server.port(), journal.write.get());
    journal.write.reset();
    fill_the_journal(*proxy);
    auto c = proxy->connect();
    ASSERT_TRUE(c.get("IFC_get_stat").ok());
    EXPECT_EQ(proxy->terminate(), 0);
    EXPECT_NE(proxy->stderr_text().find(" journal lines were dropped in all"), std::string::npos)
        << proxy->stderr_text();
}

TEST(JournalOnAPipe, SaysHowManyLinesWereDroppedWhereTheyWere) {
    test_support::server_process server;
    pipe_ends journal = make_pipe();
    const auto proxy = proxy_on(server.port(), journal.write.get());
    journal.write.reset();
    fill_the_journal(*proxy);

    // A reader comes at last, and one more terminal.
    std::mutex mutex;
    std::string text;
    std::thread reader([&] {
        char buffer[65536];
        for (ssize_t n; (n = ::read(journal.read.get(), buffer, sizeof buffer)) > 0;) {
            const std::lock_guard lock(mutex);
            text.append(buffer, static_cast<std::size_t>(n));
        }
    });
    {
        auto c = proxy->connect();
        ASSERT_TRUE(c.get("IFC_get_stat").ok());
        c.disconnect();
    }
    // Every terminal's connection has ended (its close line is in) before the proxy stops.
    EXPECT_TRUE(test_support::wait_until(
        [&] {
            const std::lock_guard lock(mutex);
            return count_of(text, "\"event\":\"close\"") == 13;
        },
        10s));
    EXPECT_EQ(proxy->terminate(), 0);
    reader.join();

    // Every line is whole, and every line the proxy made is there or counted where it is not:
    // the start, four per terminal (open, its requests, close) and the stop.
    const std::vector<json> lines = parse_lines(text);
    std::size_t present = 0;
    std::size_t counted = 0;
    for (const json& line : lines) {
        if (line.value("event", "") == "dropped") {
            counted += line["lines"].get<std::size_t>();
        } else {
            ++present;
        }
    }
    EXPECT_GT(counted, 0u);
    EXPECT_EQ(present + counted, 1 + 4 * 13 + 1u);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back()["event"], "stop");
}

class JournalOnAFullDisk : public test_support::small_disk_test {};

TEST_F(JournalOnAFullDisk, KeepsItsLinesWholeAndWritesThemOnceThereIsRoom) {
    test_support::server_process server;
    const std::string path = disk.file("journal.jsonl");
    test_support::proxy_options options;
    options.journal = false;
    options.args = {"--journal", path};
    test_support::proxy_process proxy(server.port(), options);
    ASSERT_TRUE(test_support::wait_until(
        [&] {
            return test_support::read_file(path).value_or("").find("start") != std::string::npos;
        },
        10s));
    ASSERT_TRUE(disk.fill_up());

    // Their lines fill most of the disk's 64 KiB once there is room again.
    constexpr int sessions = 40;
    for (int i = 0; i < sessions; ++i) {
        auto c = proxy.connect();
        ASSERT_TRUE(c.get("IFC_get_stat").ok()) << "session " << i;
        c.disconnect();
    }
    EXPECT_TRUE(
        proxy.wait_for_stderr("journal " + path + ": cannot write: No space left on device"))
        << proxy.stderr_text();

    ASSERT_TRUE(disk.make_room());
    const auto closes = [&] {
        return count_of(test_support::read_file(path).value_or(""), "\"event\":\"close\"");
    };
    EXPECT_TRUE(test_support::wait_until([&] { return closes() == sessions; }, 10s)) << closes();
    EXPECT_TRUE(proxy.wait_for_stderr("journal " + path + ": written again"));
    const std::vector<json> lines = parse_lines(test_support::read_file(path).value_or(""));
    EXPECT_EQ(lines.size(), 1 + 4 * static_cast<std::size_t>(sessions));  // start; open, 2, close
}

TEST(ProxyMaxConnections, TurnsAwayTheTerminalPastThemAndServesTheOthers) {
    test_support::server_process server;
    test_support::proxy_process proxy(server.port(),
                                      test_support::proxy_options{"", {"--max-connections", "2"}});
    auto first = proxy.connect();
    ASSERT_TRUE(first.get("IFC_get_stat").ok());
    auto second = proxy.connect();
    ASSERT_EQ(proxy.wait_for("open", 2).size(), 2u);

    EXPECT_FALSE(served(proxy));
    const auto turned_away = proxy.wait_for("turned_away", 1);
    ASSERT_EQ(turned_away.size(), 1u);
    EXPECT_EQ(turned_away[0]["reason"], "2 connections, as many as --max-connections allows");
    EXPECT_TRUE(proxy.wait_for_stderr("new ones are turned away until one leaves"));

    EXPECT_TRUE(first.get("IFC_get_stat").ok());
    first.disconnect();
    ASSERT_EQ(proxy.wait_for("close", 1).size(), 1u);
    // A place is free again; the server serves the second terminal once the first has gone.
    auto fourth = proxy.connect();
    EXPECT_TRUE(second.get("IFC_get_stat").ok());
    second.disconnect();
    EXPECT_TRUE(fourth.get("IFC_get_stat").ok());
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool address_sanitizer = true;
#else
constexpr bool address_sanitizer = false;
#endif

// The proxy's address space in bytes, as the kernel counts it for RLIMIT_AS.
rlim_t address_space_of(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string word;
    while (status >> word) {
        if (word == "VmSize:") {
            rlim_t kib = 0;
            status >> kib;
            return kib * 1024;
        }
    }
    return 0;
}

TEST(ProxyWithoutAThread, ForATerminalTurnsItAwayAloneAndTheProxyGoesOn) {
    if (address_sanitizer) GTEST_SKIP() << "the sanitizer's own mappings need the address space";
    test_support::server_process server;
    test_support::proxy_process proxy(server.port());
    auto first = proxy.connect();
    ASSERT_TRUE(first.get("IFC_get_stat").ok());

    // Room for a little more memory, but not for the stack of another thread.
    const rlim_t used = address_space_of(proxy.pid());
    ASSERT_GT(used, 0u);
    rlimit tight{used + 2 * 1024 * 1024, RLIM_INFINITY};
    rlimit before{};
    ASSERT_EQ(::prlimit(proxy.pid(), RLIMIT_AS, &tight, &before), 0);
    EXPECT_FALSE(served(proxy));
    const auto turned_away = proxy.wait_for("turned_away", 1);
    ASSERT_EQ(::prlimit(proxy.pid(), RLIMIT_AS, &before, nullptr), 0);
    ASSERT_EQ(turned_away.size(), 1u) << proxy.stderr_text();
    EXPECT_EQ(turned_away[0]["reason"].get<std::string>().find("no thread for it: "), 0u)
        << turned_away[0]["reason"];

    EXPECT_TRUE(proxy.running());
    EXPECT_TRUE(first.get("IFC_get_stat").ok());
    first.disconnect();
    auto next = proxy.connect();
    EXPECT_TRUE(next.get("IFC_get_stat").ok());
}

}  // namespace
