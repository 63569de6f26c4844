// ifc-server's command line: no arguments serve on 9002 (the end-to-end tests), --port N
// serves elsewhere, --help and --version answer and exit, anything else is a usage error.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "client/connection.h"
#include "tests/support/case_names.h"
#include "tests/support/files.h"
#include "tests/support/server_process.h"
#include "tests/support/spawned_program.h"

namespace {

using namespace std::chrono_literals;

struct args_case {
    const char* name;
    std::vector<std::string> args;
    int status;
    const char* output_start;  // what the output (both streams) begins with
};

void PrintTo(const args_case& c, std::ostream* os) {
    *os << c.name;
}

class ServerArguments : public testing::TestWithParam<args_case> {};

TEST_P(ServerArguments, AnswerWithoutListening) {
    const args_case& c = GetParam();
    std::vector<std::string> argv{IFC_SERVER_PATH};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const auto run = test_support::run_command(argv, {}, 10s);
    EXPECT_EQ(run.status, c.status);
    EXPECT_TRUE(run.output.starts_with(c.output_start)) << run.output;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ServerArguments,
    testing::Values(
        args_case{"Help", {"--help"}, 0, "Usage: "}, args_case{"ShortHelp", {"-h"}, 0, "Usage: "},
        args_case{"Version", {"--version"}, 0, "ifc-server 1.0.0\n"},
        args_case{"UnknownOption",
                  {"--prot", "9100"},
                  2,
                  "ifc-server: unknown argument '--prot'\nUsage: "},
        args_case{"StrayWord", {"serve"}, 2, "ifc-server: unknown argument 'serve'\nUsage: "},
        args_case{"PortWithoutNumber",
                  {"--port"},
                  2,
                  "ifc-server: option '--port' needs a port number\nUsage: "},
        args_case{"PortZero", {"--port", "0"}, 2, "ifc-server: invalid port '0'"},
        args_case{"PortTooLarge", {"--port=65536"}, 2, "ifc-server: invalid port '65536'"},
        args_case{"PortNotANumber", {"--port", "90o2"}, 2, "ifc-server: invalid port '90o2'"},
        args_case{"PortNegative", {"--port", "-1"}, 2, "ifc-server: invalid port '-1'"}),
    test_support::case_name());

TEST(ServerPortOption, ServesOnTheGivenPort) {
    test_support::temp_dir workdir;
    for (const std::string form : {"separate", "joined"}) {
        const std::uint16_t port = test_support::free_port();
        const std::string number = std::to_string(port);
        const auto args = form == "separate" ? std::vector<std::string>{"--port", number}
                                             : std::vector<std::string>{"--port=" + number};
        test_support::spawned_program server(IFC_SERVER_PATH, workdir.path(), args);
        ASSERT_TRUE(server.wait_for_stdout("waiting... ", 10s)) << server.stderr_text();
        ifc_client::endpoint where;
        where.port = port;
        auto conn = ifc_client::connection::open(where);
        ASSERT_TRUE(conn.ok()) << form;
        auto status = conn->get("IFC_get_stat");
        ASSERT_TRUE(status.ok()) << form;
        EXPECT_EQ(status.value(), "color:1 mode:0 totw_sw:0 ");
        conn->disconnect();
    }
}

}  // namespace
