#include "client/tool/shell.h"

#include <editline/readline.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <thread>

#include "client/tool/run_command.h"
#include "client/tool/words.h"

namespace ifc_tool {

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
line_kind run_line(session& s, const global_options& defaults, const std::string& line, origin from,
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
    const parse_result parsed = parse_arguments(*words, defaults, from, std::cout);
    if (!parsed.line) {
        if (parsed.status != exit_status::ok) {
            std::cerr << "ifc-client: " << error_prefix << parsed.error << '\n';
        }
        status = parsed.status;
        return line_kind::command;
    }
    if (!parsed.line->command) {
        std::cerr << "ifc-client: " << error_prefix << "usage: no command (type 'help')\n";
        status = exit_status::usage;
        return line_kind::command;
    }
    s.set_endpoint(parsed.line->options.endpoint());
    status = run_repeated(s, parsed.line->options, *parsed.line->command, error_prefix);
    return line_kind::command;
}

// Tab at the prompt: the words that may follow, as the shell's completion offers them.
std::vector<std::string> prompt_matches;

char* next_match(const char*, int state) {
    static std::size_t next = 0;
    if (state == 0) next = 0;
    if (next >= prompt_matches.size()) return nullptr;
    return ::strdup(prompt_matches[next++].c_str());
}

char** complete_at_prompt(const char* text, int start, int) {
    rl_attempted_completion_over = 1;  // never file names
    const auto before =
        split_words(std::string_view(rl_line_buffer, static_cast<std::size_t>(start)));
    prompt_matches = before ? completions(*before, text) : std::vector<std::string>{};
    // A key is followed by its value, not by a blank.
    const bool key = prompt_matches.size() == 1 && prompt_matches.front().ends_with('=');
    rl_completion_append_character = key ? '\0' : ' ';
    return rl_completion_matches(text, next_match);
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
    bool raw_printed = false;
    for (int round = 1; !interrupted; ++round) {
        const std::string time = clock_text();
        if (repeat && options.format == output_format::table) {
            std::cout << "--- " << time << " ---\n";
        }
        reply result = run_command(s, r);
        if (!result.error.empty()) {
            result.error = error_prefix + (repeat ? time + ": " : "") + result.error;
        }
        // Raw answers of several rounds are separated by a line feed (at a terminal every
        // answer ends with one already).
        const bool raw_answer = options.format == output_format::raw && !result.answers.empty();
        if (raw_answer && raw_printed && !stdout_is_terminal()) std::cout << '\n';
        raw_printed |= raw_answer;
        print_reply(result, options.format);
        if (result.status != exit_status::ok) status = result.status;
        // A usage error would fail every round alike.
        if (!repeat || result.status == exit_status::usage) break;
        if (options.count > 0 && round >= options.count) break;
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
        const auto kind = run_line(s, defaults, line, origin::command_line,
                                   "line " + std::to_string(number) + ": ", status);
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
    rl_attempted_completion_function = complete_at_prompt;
    // Words are separated by blanks only: "main_on=" is one word.
    static char word_breaks[] = " \t\n";
    rl_completer_word_break_characters = word_breaks;
    rl_basic_word_break_characters = word_breaks;
    const std::string prompt = "ifc " + defaults.host + ":" + std::to_string(defaults.port) + "> ";
    std::cout << "ifc-client: type a command (Tab completes, help lists them, quit leaves)\n";
    for (;;) {
        char* input = readline(prompt.c_str());
        if (input == nullptr) break;
        const std::string line(input);
        std::free(input);
        if (line.find_first_not_of(" \t") != std::string::npos) add_history(line.c_str());
        int status = exit_status::ok;
        if (run_line(s, defaults, line, origin::prompt, "", status) == line_kind::quit) break;
        // The server serves one client at a time: free it while the operator types.
        s.close();
    }
    if (!history.empty()) write_history(history.c_str());
    std::cout << '\n';
    return exit_status::ok;
}

}  // namespace ifc_tool
