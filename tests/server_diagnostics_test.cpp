// What the server prints, byte for byte: progress lines, the header echo, error lines, their
// streams, their debug flags and the points where standard output is flushed.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <ostream>
#include <string>
#include <thread>

#include "server/ether_com.h"
#include "server/ether_parse.h"
#include "server/tcp9002.h"
#include "tests/support/server_process.h"
#include "tests/support/wire.h"

namespace {

using namespace std::chrono_literals;
using test_support::get_header;
using test_support::header;
using test_support::payload;
using test_support::put_raw;
using test_support::server_options;
using test_support::server_process;

const std::string probe_tail = "connected... DISCONNECT             \nwaiting... ";

// Runs one client session, then waits until the server has flushed what it printed during
// it (it flushes before accepting the next client) and returns all of its standard output.
std::string output_of_session(server_process& server,
                              const std::function<void(ifc_client::connection&)>& session) {
    {
        auto conn = server.connect();
        session(conn);
    }
    // The probe's own lines come last: once they are out, the session's are complete.
    auto probe = server.connect();
    probe.disconnect();
    const auto limit = std::chrono::steady_clock::now() + 10s;
    while (!server.stdout_text().ends_with(probe_tail) &&
           std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(5ms);
    }
    return server.stdout_text();
}

struct session_case {
    const char* title;
    std::function<void(ifc_client::connection&)> session;
    std::string printed;  // between "waiting... connected... " and the probe's lines
};

void PrintTo(const session_case& c, std::ostream* os) {
    *os << c.title;
}

class SessionOutput : public testing::TestWithParam<session_case> {};

TEST_P(SessionOutput, IsPrintedByteForByte) {
    server_process server;
    const std::string out = output_of_session(server, GetParam().session);
    EXPECT_EQ(out, "waiting... connected... " + GetParam().printed + "waiting... " + probe_tail);
    EXPECT_EQ(server.stderr_text(), "");
}

const session_case session_cases[] = {
    {"get_ping_disconnect",
     [](ifc_client::connection& c) {
         ASSERT_TRUE(c.get("IFC_get_stat").ok());
         ASSERT_TRUE(c.ping().ok());
         ASSERT_TRUE(c.disconnect().ok());
     },
     "GETIFC_get_stat        \nPING                   \nDISCONNECT             \n"},
    {"unknown_header",
     [](ifc_client::connection& c) {
         c.send_bytes(header("HELLO"));
         c.server_closed(3s);
     },
     "HELLO                  \nerror: UNKNOWN COMMAND\n"},
    {"short_header",
     [](ifc_client::connection& c) {
         c.send_bytes("GETIFC_get");
         c.close_sending();
         c.server_closed(3s);
     },
     "GETIFC_get\nerror: command len\n"},
    {"client_leaves_without_a_word", [](ifc_client::connection& c) { c.close(); },
     "\nerror: command len\n"},
    {"put_too_big",
     [](ifc_client::connection& c) {
         c.send_bytes(header("PUT256001"));
         c.recv_bytes(4);
         c.disconnect();
     },
     "PUT256001              \nerror: TOO BIG DATA\nDISCONNECT             \n"},
    {"put_payloads_that_run_nothing",
     [](ifc_client::connection& c) {
         put_raw(c, "no terminator", false);
         put_raw(c, payload("IFC_nothing", "x"), false);
         c.disconnect();
     },
     "PUT13                  \nCOMMAND END not found\nPUT13                  \nnot found\n"
     "DISCONNECT             \n"},
    {"unknown_get_name",
     [](ifc_client::connection& c) {
         c.send_bytes(get_header("IFC_get_nothing"));
         c.server_closed(3s);
     },
     "GETIFC_get_nothing     \n"},
    {"wrong_acknowledgement",
     [](ifc_client::connection& c) {
         c.send_bytes(get_header("IFC_get_stat") + "next");
         c.server_closed(3s);
     },
     "GETIFC_get_stat        \nether_send_all_data(): can't found \"NEXT\"\n"},
    {"let_off_button_and_histogram_lines",
     [](ifc_client::connection& c) {
         c.put("MLETOFF_set_btnstat", "1");
         c.put("IFC_hst_clear", "1 tw");
         c.put("IFC_hst_set", "1 tw 5 2 tbw 5 100");
         c.disconnect();
     },
     "PUT21                  \n1\nPUT18                  \nclear_histo: color=1, item_no=10\n"
     "PUT30                  \nset_histo(L c=1, i=10, t=5, R c=2, i=9, t=5, samp=100)\n"
     "DISCONNECT             \n"},
    // Bytes from a client never make lines of their own: control bytes are escaped.
    {"control_bytes_in_the_echo_and_the_let_off_text",
     [](ifc_client::connection& c) {
         ASSERT_TRUE(c.send_bytes("PING\nserver: bind: fake").ok());
         ASSERT_TRUE(c.put("MLETOFF_set_btnstat", "a\nb\x1b[31mc\x7f\t\xe4").ok());
         c.disconnect();
     },
     "PING\\x0aserver: bind: fake\nPUT32                  \n"
     "a\\x0ab\\x1b[31mc\\x7f\\x09\xe4\nDISCONNECT             \n"},
};

INSTANTIATE_TEST_SUITE_P(Sessions, SessionOutput, testing::ValuesIn(session_cases),
                         [](const auto& info) { return std::string(info.param.title); });

void all_flags_off() {
    deb_tcp9002 = 0;
    deb_ether_com = 0;
    deb_ether_parse = 0;
}

TEST(SilencedServer, PrintsOnlyWhatNoFlagGates) {
    server_process server(server_options{all_flags_off});
    {
        auto conn = server.connect();
        ASSERT_TRUE(conn.get("IFC_get_stat").ok());
        put_raw(conn, "no terminator", false);
        put_raw(conn, payload("IFC_nothing", "x"), false);
        conn.send_bytes(header("PUT-1"));
        conn.recv_bytes(4);
        ASSERT_TRUE(conn.put("MLETOFF_set_btnstat", "on").ok());
        ASSERT_TRUE(conn.put("IFC_hst_clear", "2 to").ok());
        conn.send_bytes(get_header("IFC_get_stat") + "nope");
        conn.server_closed(3s);
    }
    {
        auto conn = server.connect();
        conn.send_bytes(header("bogus"));
        conn.server_closed(3s);
    }
    auto probe = server.connect();
    probe.disconnect();
    // The let-off line and the histogram line are always printed; they reach the output when
    // the loop flushes before its next accept.
    ASSERT_TRUE(server.wait_for_stdout("item_no=0\n"));
    EXPECT_EQ(server.stdout_text(), "on\nclear_histo: color=2, item_no=0\n");
    EXPECT_EQ(server.stderr_text(), "");
}

TEST(BreakFlag, ClosesTheConnectionRightAfterEachHeader) {
    server_process server(server_options{[] { tcp9002_break = 1; }});
    auto conn = server.connect();
    ASSERT_TRUE(conn.send_bytes(get_header("IFC_get_stat")).ok());
    EXPECT_TRUE(conn.server_closed(3s));
    EXPECT_EQ(conn.recv_available(0ms), "");
    ASSERT_TRUE(server.wait_for_stdout("waiting... connected... waiting... "));
    EXPECT_EQ(server.stdout_text(), "waiting... connected... waiting... ");
}

}  // namespace
