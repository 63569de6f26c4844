// The server's working directory: one server per directory, settings files that are FIFOs,
// directories, devices or symbolic links, and temporary files left behind by dead processes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "ifc/ifc_net.h"
#include "tests/support/files.h"
#include "tests/support/server_process.h"
#include "tests/support/settings_model.h"
#include "tests/support/spawned_program.h"
#include "valve/vfp_ifc.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using test_support::read_file;
using test_support::server_process;

const std::string default_status = "color:1 mode:0 totw_sw:0 ";

// The real executable on a free port in dir.
struct running_server {
    explicit running_server(const std::string& dir)
        : port(test_support::free_port()),
          program(IFC_SERVER_PATH, dir, {"--port", std::to_string(port)}) {}
    bool listening() { return program.wait_for_stdout("waiting... ", 10s); }
    ifc_client::connection connect() const {
        ifc_client::endpoint where;
        where.port = port;
        auto conn = ifc_client::connection::open(where);
        if (!conn.ok()) throw std::runtime_error("cannot connect: " + conn.failure().detail);
        return std::move(conn.value());
    }
    std::uint16_t port;
    test_support::spawned_program program;
};

std::string real_path(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) != nullptr ? resolved : path;
}

std::string both_files(const test_support::temp_dir& dir) {
    return read_file(dir.file(ifc_net::settings_file)).value_or("") +
           read_file(dir.file(vfp_ifc::settings_file)).value_or("");
}

std::vector<std::string> names_in(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(WorkingDirectory, ASecondServerInTheSameDirectoryEndsAndTouchesNothing) {
    test_support::temp_dir dir;
    running_server first(dir.path());
    ASSERT_TRUE(first.listening());
    {
        auto conn = first.connect();
        ASSERT_TRUE(conn.put("IFC_set_on_off_6", "main_on:123 ").ok());
        ASSERT_TRUE(conn.get("IFC_get_stat").ok());
        conn.disconnect();
    }
    const std::string files_before = both_files(dir);

    // The second one, on a port of its own, in the same directory.
    const auto second =
        test_support::run_command({"/bin/sh", "-c",
                                   "cd '" + dir.path() + "' && exec '" IFC_SERVER_PATH "' --port " +
                                       std::to_string(test_support::free_port())},
                                  {}, 10s);
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(second.output, "server: the working directory " + real_path(dir.path()) +
                                 " is in use by another ifc-server; exiting\n");

    EXPECT_EQ(both_files(dir), files_before);
    auto conn = first.connect();
    auto valves = conn.get("IFC_get_on_off_6");
    ASSERT_TRUE(valves.ok());
    EXPECT_NE(valves->find(" main_on:123 "), std::string::npos);
    EXPECT_TRUE(first.program.running());
}

TEST(WorkingDirectory, TheLockCreatesNoFile) {
    test_support::temp_dir dir;
    running_server server(dir.path());
    ASSERT_TRUE(server.listening());
    EXPECT_TRUE(names_in(dir.path()).empty());
}

// Something other than a regular file under a settings file's name.
struct odd_file {
    const char* name;
    void (*make)(const std::string& path);
    bool (*still_there)(const std::string& path);
};

bool is_kind(const std::string& path, mode_t kind, bool follow = false) {
    struct stat st {};
    return (follow ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) == 0 &&
           (st.st_mode & S_IFMT) == kind;
}

const odd_file odd_files[] = {
    {"Fifo", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0); },
     [](const std::string& p) { return is_kind(p, S_IFIFO); }},
    {"Directory", [](const std::string& p) { ASSERT_EQ(::mkdir(p.c_str(), 0755), 0); },
     [](const std::string& p) { return is_kind(p, S_IFDIR); }},
    {"LinkToDevZero", [](const std::string& p) { ASSERT_EQ(::symlink("/dev/zero", p.c_str()), 0); },
     [](const std::string& p) { return is_kind(p, S_IFLNK) && is_kind(p, S_IFCHR, true); }},
    {"LinkToFifo",
     [](const std::string& p) {
         ASSERT_EQ(::mkfifo((p + ".fifo").c_str(), 0644), 0);
         ASSERT_EQ(::symlink((p + ".fifo").c_str(), p.c_str()), 0);
     },
     [](const std::string& p) { return is_kind(p, S_IFLNK) && is_kind(p, S_IFIFO, true); }},
};

class NotARegularFile : public testing::TestWithParam<odd_file> {};

TEST_P(NotARegularFile, IsServedFromTheDefaultsNeverWrittenAndNeverBlocks) {
    server_process server;
    const std::string path = server.workfile(ifc_net::settings_file);
    GetParam().make(path);
    auto conn = server.connect();
    auto status = conn.get("IFC_get_stat");
    ASSERT_TRUE(status.ok()) << status.failure().detail;
    EXPECT_EQ(status.value(), default_status);
    ASSERT_TRUE(conn.put("IFC_set_stat", "color:2 mode:1 totw_sw:1 ").ok());
    EXPECT_EQ(conn.get("IFC_get_stat").value(), default_status);
    // The other file is not held up.
    ASSERT_TRUE(conn.put("IFC_set_on_off_2", "main_on:99 ").ok());
    EXPECT_NE(conn.get("IFC_get_on_off_2").value().find(" main_on:99 "), std::string::npos);
    EXPECT_TRUE(GetParam().still_there(path));
    EXPECT_TRUE(server.wait_for_stderr(
        "server: ifc_set.set: not a regular file; using the default settings, not saving them\n"));

    // Once it is gone, the next change makes a settings file again.
    std::error_code ignored;
    fs::remove(path, ignored);
    fs::remove(path + ".fifo", ignored);
    ASSERT_TRUE(conn.put("IFC_set_stat", "color:2 mode:1 totw_sw:1 ").ok());
    EXPECT_EQ(conn.get("IFC_get_stat").value(), "color:2 mode:1 totw_sw:1 ");
    EXPECT_TRUE(is_kind(path, S_IFREG));
}

INSTANTIATE_TEST_SUITE_P(Kinds, NotARegularFile, testing::ValuesIn(odd_files),
                         [](const testing::TestParamInfo<odd_file>& info) {
                             return std::string(info.param.name);
                         });

// A settings file that is a symbolic link, relative or absolute, dangling at first: the
// file it names is created and replaced, the link stays a link.
TEST(SymbolicLink, SavesGoToTheFileItNamesAndTheLinkStays) {
    test_support::temp_dir elsewhere;
    for (const bool relative : {true, false}) {
        SCOPED_TRACE(relative ? "relative link" : "absolute link");
        server_process server;
        const std::string link = server.workfile(vfp_ifc::settings_file);
        std::string target;
        if (relative) {
            fs::create_directory(server.workfile("store"));
            target = server.workfile("store/valve.set");
            ASSERT_EQ(::symlink("store/valve.set", link.c_str()), 0);
        } else {
            target = elsewhere.file("valve.set");
            ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
        }
        auto conn = server.connect();
        ASSERT_TRUE(conn.get("IFC_get_on_off_1").ok());
        test_support::settings_model model;
        EXPECT_EQ(read_file(target), model.valve_image());
        ASSERT_TRUE(conn.put("IFC_set_on_off_1", "main_on:111 ").ok());
        ASSERT_TRUE(conn.get("IFC_get_stat").ok());
        model.apply({test_support::settings_file::valve, "VAL_main_on", 1, 111});
        EXPECT_EQ(read_file(target), model.valve_image());
        EXPECT_TRUE(is_kind(link, S_IFLNK));
        const std::string target_dir = fs::path(target).parent_path().string();
        EXPECT_EQ(names_in(target_dir).size(), 1u) << "no temporary file left";
        fs::remove(target);
    }
}

pid_t dead_pid() {
    const pid_t pid = ::fork();
    if (pid == 0) _exit(0);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return pid;
}

TEST(TemporaryFiles, ThoseOfDeadProcessesAreRemovedAtStartAndNoneBlocksSaving) {
    test_support::temp_dir dir;
    const std::string live = "ifc_set.set.tmp." + std::to_string(::getpid()) + ".3";
    const std::string dead = "valve_fp.set.tmp." + std::to_string(dead_pid()) + ".0";
    const std::string legacy = "ifc_set.set.tmp";
    for (const std::string& name : {live, dead, legacy, std::string("valve_fp.set.tmp.x")})
        test_support::write_file(dir.file(name), "left behind");
    // The name of the versions before, as a directory: it cannot be removed.
    fs::create_directory(dir.file("valve_fp.set.tmp"));

    running_server server(dir.path());
    ASSERT_TRUE(server.listening());
    EXPECT_EQ(names_in(dir.path()),
              (std::vector<std::string>{live, "valve_fp.set.tmp", "valve_fp.set.tmp.x"}));
    auto conn = server.connect();
    ASSERT_TRUE(conn.put("IFC_set_on_off_3", "sub2_on:5 ").ok());
    ASSERT_TRUE(conn.put("IFC_set_to_tw_3", "to:80 tw:200 ").ok());
    EXPECT_NE(conn.get("IFC_get_on_off_3").value().find(" sub2_on:5 "), std::string::npos);
    EXPECT_EQ(conn.get("IFC_get_Tot_Twt_3").value(), "to:80 tw:200 ");
    EXPECT_EQ(names_in(dir.path()),
              (std::vector<std::string>{"ifc_set.set", live, "valve_fp.set", "valve_fp.set.tmp",
                                        "valve_fp.set.tmp.x"}));
}

}  // namespace
