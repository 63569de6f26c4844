#include "tests/support/proxy_process.h"

#include <csignal>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "tests/support/server_process.h"
#include "tests/support/wait.h"

namespace test_support {

namespace {

using namespace std::chrono_literals;

}  // namespace

proxy_process::proxy_process(std::uint16_t controller_port, proxy_options options) {
    std::vector<std::string> args;
    if (!options.rules_json.empty()) {
        rules_path_ = dir_.file("rules.json");
        write_file(rules_path_, options.rules_json);
        args.insert(args.end(), {"--rules", rules_path_});
    }
    if (options.journal) {
        journal_path_ = dir_.file("journal.jsonl");
        args.insert(args.end(), {"--journal", journal_path_});
    }
    args.insert(args.end(), {"--to", "127.0.0.1:" + std::to_string(controller_port)});
    args.insert(args.end(), options.args.begin(), options.args.end());
    // A port found free can be taken before the proxy binds it: then it ends, and another
    // port is tried.
    for (int attempt = 0; attempt < 10; ++attempt) {
        port_ = free_port();
        std::vector<std::string> with_port = args;
        with_port.insert(with_port.end(), {"--listen", "127.0.0.1:" + std::to_string(port_)});
        program_ = std::make_unique<spawned_program>(IFC_PROXY_PATH, dir_.path(), with_port,
                                                     options.stdout_fd);
        const auto end = std::chrono::steady_clock::now() + 10s;
        while (std::chrono::steady_clock::now() < end) {
            if (!program_->running()) break;
            if (port_is_listening(port_)) return;
            std::this_thread::sleep_for(5ms);
        }
    }
    throw std::runtime_error("ifc-proxy did not start listening: " + program_->stderr_text());
}

proxy_process::~proxy_process() {
    program_->kill();
}

ifc_client::endpoint proxy_process::endpoint() const {
    return ifc_client::endpoint{"127.0.0.1", port_, std::chrono::milliseconds(8000)};
}

ifc_client::connection proxy_process::connect() const {
    auto opened = ifc_client::connection::open(endpoint());
    if (!opened) throw std::runtime_error("cannot connect: " + opened.failure().detail);
    return std::move(opened.value());
}

journal_lines proxy_process::journal() const {
    journal_lines lines;
    std::ifstream in(journal_path_);
    std::string text;
    while (std::getline(in, text)) {
        // A line still being written has no line end yet; every complete line parses.
        if (in.eof()) break;
        lines.push_back(nlohmann::json::parse(text));
    }
    return lines;
}

journal_lines proxy_process::requests() const {
    return lines_of_event(journal(), "request");
}

journal_lines proxy_process::wait_for(const std::string& event, std::size_t count,
                                      std::chrono::milliseconds limit) const {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        journal_lines lines = lines_of_event(journal(), event);
        if (lines.size() >= count || std::chrono::steady_clock::now() >= end) return lines;
        std::this_thread::sleep_for(5ms);
    }
}

bool proxy_process::wait_for_stderr(const std::string& needle, std::chrono::milliseconds limit) {
    return wait_until([&] { return program_->stderr_text().find(needle) != std::string::npos; },
                      limit);
}

int proxy_process::terminate() {
    program_->signal(SIGTERM);
    return program_->wait_exit(10s);
}

journal_lines lines_of_event(const journal_lines& journal, const std::string& event) {
    journal_lines lines;
    for (const auto& line : journal) {
        if (line.value("event", "") == event) lines.push_back(line);
    }
    return lines;
}

command_result run_proxy(const std::vector<std::string>& args) {
    std::vector<std::string> argv{IFC_PROXY_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_command(argv, {}, std::chrono::seconds(30));
}

}  // namespace test_support
