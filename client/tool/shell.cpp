#include "client/tool/shell.h"

#include <editline/readline.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <thread>

#include "client/tool/run_command.h"
#include "client/tool/words.h"

namespace {

volatile std::sig_atomic_t interrupted = 0;

void on_interrupt(int) {
    interrupted = 1;
}

// Ctrl-C ends a repetition instead of the program while it is installed.
class interrupt_guard {
  public:
    interrupt_guard() {
        interrupted = 0;
        previous_ = std::signal(SIGINT, on_interrupt);
    }
    ~interrupt_guard() { std::signal(SIGINT, previous_); }
    interrupt_guard(const interrupt_guard&) = delete;
    interrupt_guard& operator=(const interrupt_guard&) = delete;

  private:
    void (*previous_)(int);
};

// Sleeps for seconds in short steps, so that Ctrl-C ends the wait at once.
void pause_for(double seconds) {
    using namespace std::chrono;
    const auto end =
        steady_clock::now() + duration_cast<steady_clock::duration>(duration<double>(seconds));
    while (!interrupted && steady_clock::now() < end) {
        std::this_thread::sleep_for(
            std::min<steady_clock::duration>(milliseconds(100), end - steady_clock::now()));
    }
}

std::string clock_text() {
    const std::time_t now = std::time(nullptr);
    char text[32];
    std::strftime(text, sizeof text, "%H:%M:%S", std::localtime(&now));
    return text;
}

enum class line_kind { command, skip, quit };

// Runs one line of a batch or the prompt; status through out-parameter.
line_kind run_line(session& s, const global_options& defaults, const std::string& line,
                   const std::string& error_prefix, int& status) {
    status = exit_status::ok;
    const auto words = split_words(line);
    if (!words) {
        std::cerr << "ifc-client: " << error_prefix << "usage: a quote is not closed\n";
        status = exit_status::usage;
        return line_kind::command;
    }
    if (words->empty() || words->front().starts_with('#')) return line_kind::skip;
    if (words->front() == "quit" || words->front() == "exit") return line_kind::quit;
    if (words->front() == "help") {
        std::cout << help_text();
        return line_kind::command;
    }
    const parse_result parsed = parse_arguments(*words, defaults, std::cout);
    if (!parsed.line) {
        if (parsed.status != exit_status::ok) {
            std::cerr << "ifc-client: " << error_prefix << parsed.error << '\n';
        }
        status = parsed.status;
        return line_kind::command;
    }
    if (!parsed.line->command) {
        std::cerr << "ifc-client: " << error_prefix << "usage: no command (type help)\n";
        status = exit_status::usage;
        return line_kind::command;
    }
    s.set_endpoint(parsed.line->options.endpoint());
    status = run_repeated(s, parsed.line->options, *parsed.line->command, error_prefix);
    return line_kind::command;
}

}  // namespace

int run_repeated(session& s, const global_options& options, const request& r,
                 const std::string& error_prefix) {
    const bool repeat = options.interval_seconds > 0;
    if (repeat && !is_read_only(r)) {
        std::cerr << "ifc-client: " << error_prefix
                  << "usage: --interval repeats read commands only\n";
        return exit_status::usage;
    }
    interrupt_guard guard;
    int status = exit_status::ok;
    for (int round = 1; !interrupted; ++round) {
        if (repeat && options.format == output_format::table) {
            std::cout << "--- " << clock_text() << " ---\n";
        }
        reply result = run_command(s, r);
        if (!result.error.empty()) result.error = error_prefix + result.error;
        print_reply(result, options.format);
        status = result.status;
        if (!repeat || status != exit_status::ok) break;
        if (options.count > 0 && round >= options.count) break;
        if (options.format == output_format::raw) std::cout << '\n';
        // Nobody else can reach the server while this connection is open.
        s.close();
        pause_for(options.interval_seconds);
    }
    return status;
}

int run_batch(session& s, const global_options& defaults, std::istream& in) {
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        int status = exit_status::ok;
        const auto kind =
            run_line(s, defaults, line, "line " + std::to_string(number) + ": ", status);
        if (kind == line_kind::quit) break;
        if (status != exit_status::ok) return status;
    }
    return exit_status::ok;
}

int run_prompt(session& s, const global_options& defaults) {
    const char* home = std::getenv("HOME");
    const std::string history = home != nullptr ? std::string(home) + "/.ifc_client_history" : "";
    using_history();
    stifle_history(1000);
    if (!history.empty()) read_history(history.c_str());
    const std::string prompt = "ifc " + defaults.host + ":" + std::to_string(defaults.port) + "> ";
    std::cout << "ifc-client: type a command (help lists them, quit leaves)\n";
    for (;;) {
        char* input = readline(prompt.c_str());
        if (input == nullptr) break;
        const std::string line(input);
        std::free(input);
        if (line.find_first_not_of(" \t") != std::string::npos) add_history(line.c_str());
        int status = exit_status::ok;
        if (run_line(s, defaults, line, "", status) == line_kind::quit) break;
        // The server serves one client at a time: free it while the operator types.
        s.close();
    }
    if (!history.empty()) write_history(history.c_str());
    std::cout << '\n';
    return exit_status::ok;
}
