// The ifc-gateway executable: how it starts, stops and fails.
#include <gtest/gtest.h>
#include <signal.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "tests/support/fake_controller.h"
#include "tests/support/files.h"
#include "tests/support/loopback.h"
#include "tests/support/raw_http.h"
#include "tests/support/server_process.h"
#include "tests/support/spawned_program.h"
#include "tests/support/wait.h"

namespace {

using namespace std::chrono_literals;

TEST(GatewayProcess, StopsCleanlyOnSigterm) {
    test_support::temp_dir dir;
    test_support::spawned_program gateway(
        IFC_GATEWAY_PATH, dir.path(),
        {"--listen", "127.0.0.1:" + std::to_string(test_support::free_port()), "--controller",
         "gone=127.0.0.1:" + std::to_string(test_support::free_port()), "--poll", "0.1"});
    ASSERT_TRUE(gateway.wait_for_stdout("controller gone", 10s)) << gateway.stdout_text();
    ::kill(gateway.pid(), SIGTERM);
    for (int round = 0; round < 500 && gateway.running(); ++round)
        std::this_thread::sleep_for(10ms);
    EXPECT_FALSE(gateway.running());
    // Printed only on the way to exit status 0.
    EXPECT_NE(gateway.stdout_text().find("ifc-gateway: stopped\n"), std::string::npos);
}

// A stop is a stop, whatever the clients do: clients that drip their requests are closed,
// writes waiting for a controller that drips its answers are answered, and the gateway is gone
// within about one exchange deadline (the figure is the benchmark's).
TEST(GatewayProcess, StopsOnSigtermWithSlowClientsAndASlowController) {
    test_support::fake_controller slow({test_support::default_answers(), 100ms});
    test_support::temp_dir dir;
    const auto port = test_support::free_port();
    test_support::spawned_program gateway(
        IFC_GATEWAY_PATH, dir.path(),
        {"--listen", "127.0.0.1:" + std::to_string(port), "--controller",
         "slow=127.0.0.1:" + std::to_string(slow.port()), "--timeout", "0.5", "--deadline", "1",
         "--write-deadline", "6"});
    ASSERT_TRUE(gateway.wait_for_stdout("listening", 10s)) << gateway.stderr_text();
    std::vector<ifc_client::unique_fd> dripping, writing;
    const std::string half_request = "GET / HTTP/1.1\r\nHost: 127.0";
    for (int i = 0; i < 10; ++i) {
        dripping.push_back(test_support::connect_loopback(port));
        ::send(dripping.back().get(), half_request.data(), half_request.size(), MSG_NOSIGNAL);
    }
    const std::string write =
        "PATCH /api/controllers/slow/targets/1 HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
        "application/json\r\nContent-Length: 9\r\n\r\n{\"to\":95}";
    for (int i = 0; i < 3; ++i) {
        writing.push_back(test_support::connect_loopback(port));
        ::send(writing.back().get(), write.data(), write.size(), MSG_NOSIGNAL);
    }
    std::this_thread::sleep_for(300ms);  // the writes are queued or under way
    const auto start = std::chrono::steady_clock::now();
    gateway.signal(SIGTERM);
    EXPECT_EQ(gateway.wait_exit(20s), 0);
    // 2 s and one exchange deadline is the promise; the bound here leaves room for a loaded
    // machine.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 8s);
    for (const auto& fd : writing) {
        const int status = test_support::status_of(test_support::read_answer(fd.get(), 2s));
        EXPECT_TRUE(status == 503 || status == 504 || status == 502) << status;
    }
}

// Standard output that nobody reads (a full pipe) holds up nothing: the gateway polls, serves
// and stops as ever; its lines wait, or are dropped and counted.
TEST(GatewayProcess, StandardOutputNobodyReadsHoldsUpNothing) {
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    ::fcntl(out[1], F_SETFL, O_NONBLOCK);
    const std::string filler(4096, 'x');
    while (::write(out[1], filler.data(), filler.size()) > 0) {
    }
    ::fcntl(out[1], F_SETFL, 0);  // full, and blocking as a stalled reader's pipe is
    const auto port = test_support::free_port();
    const std::string listen = "127.0.0.1:" + std::to_string(port);
    const std::string controller = "gone=127.0.0.1:" + std::to_string(test_support::free_port());
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::execl(IFC_GATEWAY_PATH, IFC_GATEWAY_PATH, "--listen", listen.c_str(), "--controller",
                controller.c_str(), "--poll", "0.1", static_cast<char*>(nullptr));
        _exit(127);
    }
    ::close(out[1]);
    const auto get = [&] {
        return test_support::status_of(test_support::raw_exchange(
            port, "GET /api/controllers/gone HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 2s));
    };
    EXPECT_TRUE(test_support::wait_until([&] { return get() == 200; }, 10s));
    ::kill(pid, SIGTERM);
    int status = -1;
    EXPECT_TRUE(
        test_support::wait_until([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 10s));
    if (status == -1) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    ::close(out[0]);
}

TEST(GatewayProcess, PortTakenIsExitStatusTwo) {
    const auto taken = test_support::listen_on_loopback();
    const auto run = test_support::run_command(
        {IFC_GATEWAY_PATH, "--listen", "127.0.0.1:" + std::to_string(taken.port)}, {}, 10s);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(
        run.output.find("ifc-gateway: cannot listen on 127.0.0.1:" + std::to_string(taken.port)),
        std::string::npos)
        << run.output;
}

TEST(GatewayProcess, UsageErrorIsExitStatusOneWithoutListening) {
    const auto port = test_support::free_port();
    const auto run = test_support::run_command(
        {IFC_GATEWAY_PATH, "--listen", "127.0.0.1:" + std::to_string(port), "--poll", "-1"}, {},
        10s);
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.output.starts_with("ifc-gateway: ")) << run.output;
    EXPECT_FALSE(test_support::port_is_listening(port));
}

}  // namespace
