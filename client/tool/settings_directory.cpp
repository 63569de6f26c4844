#include "client/tool/settings_directory.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

#include "client/document_json.h"

extern char** environ;

namespace ifc_tool {

namespace {

// ifc-settings reads two small files: far less than this, unless something is wrong.
constexpr auto longest_run = std::chrono::seconds(30);
constexpr std::size_t most_error_text = 4096;

ifc_client::error refused(std::string detail) {
    return ifc_client::error{ifc_client::errc::bad_request, std::move(detail)};
}

// The ifc-settings beside this program (as installed, and in the build tree), else the name
// for a look-up in PATH.
std::string settings_program() {
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        std::string path(self, static_cast<std::size_t>(n));
        path = path.substr(0, path.rfind('/') + 1) + "ifc-settings";
        if (::access(path.c_str(), X_OK) == 0) return path;
    }
    return "ifc-settings";
}

struct finished {
    int status = -1;
    std::string out;
    std::string err;
    std::string failure;  // the program could not be run to its end
};

// Runs argv with its output and error collected (bounded), at most longest_run.
finished run(const std::vector<std::string>& argv) {
    finished result;
    int out_pipe[2], err_pipe[2];
    if (::pipe2(out_pipe, O_CLOEXEC) != 0) return {-1, "", "", std::strerror(errno)};
    if (::pipe2(err_pipe, O_CLOEXEC) != 0) {
        ::close(out_pipe[0]);
        ::close(out_pipe[1]);
        return {-1, "", "", std::strerror(errno)};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], STDERR_FILENO);
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    if (spawned != 0) {
        ::close(out_pipe[0]);
        ::close(err_pipe[0]);
        result.failure = "cannot run " + argv[0] + ": " + std::strerror(spawned);
        return result;
    }
    const auto end = std::chrono::steady_clock::now() + longest_run;
    std::array<pollfd, 2> fds{{{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}}};
    std::array<std::string*, 2> into{&result.out, &result.err};
    std::array<std::size_t, 2> limits{ifc_client::largest_document + 1, most_error_text};
    int open = 2;
    while (open > 0 && result.failure.empty()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.failure =
                argv[0] + " did not finish within " + std::to_string(longest_run.count()) + " s";
            break;
        }
        const int ready = ::poll(fds.data(), fds.size(), static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR) result.failure = std::strerror(errno);
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[8192];
            const ssize_t k = ::read(fds[i].fd, buffer, sizeof buffer);
            if (k < 0 && errno == EINTR) continue;
            if (k <= 0) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
                continue;
            }
            if (into[i]->size() < limits[i]) into[i]->append(buffer, static_cast<std::size_t>(k));
        }
    }
    for (const pollfd& p : fds) {
        if (p.fd >= 0) ::close(p.fd);
    }
    if (!result.failure.empty()) ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace

ifc_client::result<ifc_client::settings_document> read_settings_directory(const std::string& dir) {
    const finished done = run({settings_program(), "export", "--", dir});
    if (!done.failure.empty()) return refused(done.failure);
    if (done.status != 0) {
        // "ifc-settings: cannot open ...": its own words, without its name.
        std::string message = done.err.substr(0, done.err.find('\n'));
        if (message.starts_with("ifc-settings: ")) message = message.substr(14);
        return refused(dir + ": " + (message.empty() ? "ifc-settings export failed" : message));
    }
    auto doc = ifc_client::parse_document(done.out);
    if (!doc) return refused(dir + ": ifc-settings export: " + doc.failure().detail);
    return doc;
}

}  // namespace ifc_tool
