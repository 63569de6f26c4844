// The installation: cmake --install to a staging prefix, the files where a system and its
// service manager expect them, the service unit naming the installed binary, and the
// installed ifc-server serving on port 9002 from a fresh state directory.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "client/connection.h"
#include "tests/support/files.h"
#include "tests/support/server_process.h"
#include "tests/support/spawned_program.h"

namespace {

using namespace std::chrono_literals;
using test_support::file_exists;
using test_support::read_file;
using test_support::temp_dir;

constexpr const char* unit_relative = "lib/systemd/system/ifc-server.service";
constexpr const char* gateway_unit_relative = "lib/systemd/system/ifc-gateway.service";
constexpr const char* doc_relative = "share/doc/ifc-server";
constexpr const char* completions_relative = "share/bash-completion/completions";

// cmake --install of the build tree under test; its output on failure.
void install_to(const std::string& prefix, const std::vector<std::string>& environment = {}) {
    const auto result = test_support::run_command(
        {IFC_CMAKE_COMMAND, "--install", IFC_BINARY_DIR, "--prefix", prefix}, environment);
    ASSERT_EQ(result.status, 0) << result.output;
}

bool is_executable_file(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IXOTH) != 0;
}

// Every regular file under root, as paths relative to it.
std::vector<std::string> files_under(const std::string& root) {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (entry.is_regular_file()) {
            files.push_back(std::filesystem::relative(entry.path(), root).string());
        }
    }
    return files;
}

// The value of the first "Key=" line of a unit file.
std::optional<std::string> unit_setting(const std::string& unit, const std::string& key) {
    const std::string prefix = "\n" + key + "=";
    const std::size_t at = unit.find(prefix);
    if (at == std::string::npos) return std::nullopt;
    const std::size_t start = at + prefix.size();
    return unit.substr(start, unit.find('\n', start) - start);
}

// The installed server on port 9002. Another server on the machine may hold the port for a
// while (a developer's make run, another checkout's tests): the start is retried, bounded,
// until this one listens. "waiting... " is printed and flushed only once the port is bound.
std::unique_ptr<test_support::spawned_program> start_installed(const std::string& binary,
                                                               const std::string& state_dir) {
    const auto end = std::chrono::steady_clock::now() + 60s;
    while (std::chrono::steady_clock::now() < end) {
        auto server = std::make_unique<test_support::spawned_program>(binary, state_dir);
        if (server->wait_for_stdout("waiting... ", 5s)) return server;
        server->kill();
        std::this_thread::sleep_for(500ms);
    }
    return nullptr;
}

ifc_client::connection connect_9002() {
    auto opened = ifc_client::connection::open({"127.0.0.1", 9002, 5000ms});
    if (!opened) throw std::runtime_error("cannot connect: " + opened.failure().detail);
    return std::move(opened.value());
}

std::string answer(ifc_client::connection& conn, std::string_view name) {
    auto got = conn.get(name);
    EXPECT_TRUE(got.ok()) << name << ": " << (got.ok() ? "" : got.failure().detail);
    return got.ok() ? got.value() : "";
}

// A package build stages the installation with DESTDIR and the final prefix /usr: the files
// land under the staging directory, while the paths written into them are the final ones.
TEST(Install, StagedWithDestdirForPrefixUsr) {
    temp_dir stage;
    install_to("/usr", {"DESTDIR=" + stage.path()});
    const std::string usr = stage.path() + "/usr/";

    EXPECT_TRUE(is_executable_file(usr + "bin/ifc-server"));
    // The client tools are installed beside the server wherever this build has them.
    for (const char* tool : {"client/ifc-client", "client/ifc-settings", "proxy/ifc-proxy"}) {
        const std::string name = std::string(tool).substr(std::string(tool).find('/') + 1);
        if (file_exists(std::string(IFC_BINARY_DIR) + "/" + tool)) {
            EXPECT_TRUE(is_executable_file(usr + "bin/" + name)) << tool;
        }
    }
    EXPECT_TRUE(is_executable_file(usr + "bin/ifc-gateway"));
    EXPECT_TRUE(is_executable_file(usr + "bin/ifc-proxy"));
    for (const char* doc : {"protocol.md", "operations.md", "client.md", "gateway.md", "proxy.md",
                            "proxy-rules/cut-answer.json", "proof.md", "README.md", "copyright",
                            "changelog.gz"}) {
        EXPECT_TRUE(file_exists(usr + doc_relative + "/" + doc)) << doc;
    }
    // README's links lead to the documents beside it.
    const std::string readme = read_file(usr + doc_relative + "/README.md").value_or("");
    EXPECT_NE(readme.find("](client.md)"), std::string::npos);
    EXPECT_EQ(readme.find("](docs/"), std::string::npos);
    for (const char* tool : {"ifc-client", "ifc-settings"}) {
        EXPECT_TRUE(file_exists(usr + completions_relative + "/" + tool)) << tool;
    }
    // Man pages where this build could make them (with help2man).
    for (const char* program :
         {"ifc-server", "ifc-client", "ifc-settings", "ifc-gateway", "ifc-proxy"}) {
        const std::string page = std::string("/packaging/man/") + program + ".1.gz";
        if (file_exists(std::string(IFC_BINARY_DIR) + page)) {
            EXPECT_TRUE(file_exists(usr + "share/man/man1/" + program + ".1.gz")) << program;
        }
    }
    // Nothing else: no test programs, libraries or headers come along.
    for (const auto& file : files_under(stage.path())) {
        const bool expected = file.starts_with("usr/bin/") ||
                              file == std::string("usr/") + unit_relative ||
                              file == std::string("usr/") + gateway_unit_relative ||
                              file == "etc/ifc-gateway.conf" ||
                              file.starts_with(std::string("usr/") + doc_relative + "/") ||
                              file.starts_with("usr/share/man/man1/") ||
                              file.starts_with(std::string("usr/") + completions_relative + "/");
        EXPECT_TRUE(expected) << file;
    }

    const std::string unit = read_file(usr + unit_relative).value_or("");
    EXPECT_EQ(unit_setting(unit, "ExecStart"), "/usr/bin/ifc-server");
    EXPECT_EQ(unit_setting(unit, "StateDirectory"), "ifc-server");
    EXPECT_EQ(unit_setting(unit, "WorkingDirectory"), "/var/lib/ifc-server");
    EXPECT_EQ(unit_setting(unit, "DynamicUser"), "yes");
    EXPECT_EQ(unit_setting(unit, "RestrictAddressFamilies"), "AF_INET");
    EXPECT_EQ(unit_setting(unit, "CapabilityBoundingSet"), "");
    EXPECT_NE(unit.find("file:/usr/share/doc/ifc-server/protocol.md"), std::string::npos);

    // The gateway: its unit reads the configuration from /etc and keeps its state in
    // /var/lib/ifc-gateway.
    const std::string gateway = read_file(usr + gateway_unit_relative).value_or("");
    EXPECT_EQ(unit_setting(gateway, "ExecStart"),
              "/usr/bin/ifc-gateway --config /etc/ifc-gateway.conf --state-dir "
              "/var/lib/ifc-gateway");
    EXPECT_EQ(unit_setting(gateway, "DynamicUser"), "yes");
    EXPECT_EQ(unit_setting(gateway, "StateDirectory"), "ifc-gateway");
    EXPECT_EQ(unit_setting(gateway, "CapabilityBoundingSet"), "");
    const std::string config = read_file(stage.path() + "/etc/ifc-gateway.conf").value_or("");
    EXPECT_NE(config.find("\nlisten = 127.0.0.1:8090\n"), std::string::npos);
}

// The unit of an installation under any prefix names the binary there, and the service
// manager's own check accepts it (where the machine has the tool).
TEST(Install, UnitOfPrefixPassesSystemdVerify) {
    temp_dir prefix;
    install_to(prefix.path());
    const std::string unit_path = prefix.file(unit_relative);
    const std::string unit = read_file(unit_path).value_or("");
    EXPECT_EQ(unit_setting(unit, "ExecStart"), prefix.file("bin/ifc-server"));

    const std::string gateway = read_file(prefix.file(gateway_unit_relative)).value_or("");
    EXPECT_EQ(unit_setting(gateway, "ExecStart"),
              prefix.file("bin/ifc-gateway") + " --config " + prefix.file("etc/ifc-gateway.conf") +
                  " --state-dir /var/lib/ifc-gateway");

    const std::string analyze = test_support::find_in_path("systemd-analyze");
    if (analyze.empty()) GTEST_SKIP() << "systemd-analyze is not installed";
    for (const std::string& path : {unit_path, prefix.file(gateway_unit_relative)}) {
        const auto verified = test_support::run_command({analyze, "verify", path});
        EXPECT_EQ(verified.status, 0) << verified.output;
        // Unknown keys and bad values are only warned about: any output is a fault.
        EXPECT_EQ(verified.output, "") << path;
    }
}

// The installed gateway with the installed example configuration serves its panel.
TEST(Install, InstalledGatewayServesItsPanel) {
    temp_dir prefix;
    install_to(prefix.path());
    const auto port = test_support::free_port();
    temp_dir workdir;
    test_support::spawned_program gateway(prefix.file("bin/ifc-gateway"), workdir.path(),
                                          {"--config", prefix.file("etc/ifc-gateway.conf"),
                                           "--listen", "127.0.0.1:" + std::to_string(port)});
    ASSERT_TRUE(gateway.wait_for_stdout("listening on http://127.0.0.1:", 10s))
        << gateway.stderr_text();
    EXPECT_NE(gateway.stdout_text().find("1 controller(s)"), std::string::npos);
    const auto page =
        test_support::run_command({"bash", "-c",
                                   "exec 3<>/dev/tcp/127.0.0.1/" + std::to_string(port) +
                                       " && printf 'GET / HTTP/1.0\\r\\nHost: 127.0.0.1\\r\\n\\r\\n' >&3 && cat <&3"});
    EXPECT_NE(page.output.find("200 OK"), std::string::npos) << page.output.substr(0, 200);
    EXPECT_NE(page.output.find("fleet.js"), std::string::npos);
}

// The installed completion offers the installed client's words to bash.
TEST(Install, BashCompletesTheClientsWords) {
    temp_dir prefix;
    install_to(prefix.path());
    const std::string bash = test_support::find_in_path("bash");
    if (bash.empty()) GTEST_SKIP() << "bash is not installed";
    const std::string script = "PATH=" + prefix.file("bin") + ":$PATH; source " +
                               prefix.file(std::string(completions_relative) + "/ifc-client") +
                               "; COMP_WORDS=(ifc-client valves 3 main_o); COMP_CWORD=3; "
                               "_ifc_client; echo \"${COMPREPLY[*]}\"";
    const auto completed = test_support::run_command({bash, "-c", script});
    EXPECT_EQ(completed.status, 0) << completed.output;
    EXPECT_EQ(completed.output, "main_on= main_off=\n");
}

// The installed program, run from the staging prefix in an empty state directory, serves
// the protocol, writes its settings files there and keeps them over a restart.
TEST(Install, InstalledServerServesFromStateDirectory) {
    temp_dir prefix;
    install_to(prefix.path());
    const std::string binary = prefix.file("bin/ifc-server");
    temp_dir state;

    auto server = start_installed(binary, state.path());
    ASSERT_NE(server, nullptr) << "the installed server did not start listening on port 9002";
    {
        auto conn = connect_9002();
        EXPECT_EQ(answer(conn, "IFC_get_stat"), "color:1 mode:0 totw_sw:0 ");
        ASSERT_TRUE(conn.put("IFC_set_to_tw_2", "to:95 tw:245").ok());
        EXPECT_EQ(answer(conn, "IFC_get_Tot_Twt_2"), "to:95 tw:245 ");
        EXPECT_EQ(answer(conn, "IFC_get_on_off_1").substr(0, 25), "ATC_TO_DELAY:0 pin_on:70 ");
        EXPECT_TRUE(conn.disconnect().ok());
    }
    const auto ifc = read_file(state.file("ifc_set.set"));
    ASSERT_TRUE(ifc.has_value());
    EXPECT_EQ(ifc->size(), 800u);
    EXPECT_EQ(test_support::int32_at(*ifc, test_support::slot_offset(0, 2)), 95);   // "Tot"
    EXPECT_EQ(test_support::int32_at(*ifc, test_support::slot_offset(1, 2)), 245);  // "Twt"
    EXPECT_EQ(read_file(state.file("valve_fp.set")).value_or("").size(), 8960u);
    EXPECT_EQ(files_under(state.path()).size(), 2u) << "only the two settings files";
    EXPECT_TRUE(server->wait_for_stdout("DISCONNECT", 5s)) << server->stdout_text();
    EXPECT_EQ(server->stderr_text(), "");

    server->kill();
    server = start_installed(binary, state.path());
    ASSERT_NE(server, nullptr) << "the installed server did not start again";
    auto conn = connect_9002();
    EXPECT_EQ(answer(conn, "IFC_get_Tot_Twt_2"), "to:95 tw:245 ");
}

}  // namespace
