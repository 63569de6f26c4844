// ifc-proxy: relays operator terminals to the controller, journals every exchange and applies
// fault rules; or summarises a journal, or checks a rules file.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <exception>
#include <fstream>
#include <iostream>
#include <memory>
#include <random>

#include "protocol/protocol.h"
#include "proxy/journal.h"
#include "proxy/program/arguments.h"
#include "proxy/program/defaults.h"
#include "proxy/program/diagnostics.h"
#include "proxy/program/journal_writer.h"
#include "proxy/program/listener.h"
#include "proxy/program/services.h"
#include "proxy/rules.h"
#include "proxy/summary.h"

namespace {

int fail(int status, const std::string& message) {
    std::cerr << "ifc-proxy: " << message << '\n';
    return status;
}

int print_summary(const std::string& file) {
    std::ifstream journal(file);
    if (!journal) return fail(proxy_exit::failure, file + ": cannot read");
    std::cout << proxy::render_summary(proxy::summarize(journal), file);
    return proxy_exit::ok;
}

int check_rules(const std::string& file) {
    const proxy::parsed_rules parsed = proxy::load_rules(file);
    if (!parsed.ok()) return fail(proxy_exit::usage, parsed.error);
    std::cout << file << ": " << parsed.rules.size()
              << (parsed.rules.size() == 1 ? " rule" : " rules") << '\n';
    for (std::size_t i = 0; i < parsed.rules.size(); ++i)
        std::cout << "  rules[" << i << "]: " << proxy::describe(parsed.rules[i]) << '\n';
    return proxy_exit::ok;
}

// A standard descriptor that is closed is opened on /dev/null, so that no socket or file of the
// proxy takes its number (and gets the journal of "-" or the messages meant for it).
// Returns whether standard output was open.
bool open_standard_descriptors() {
    bool stdout_open = true;
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        if (fd == STDOUT_FILENO) stdout_open = false;
        const int null_fd = ::open("/dev/null", O_RDWR);
        if (null_fd >= 0 && null_fd != fd) {
            ::dup2(null_fd, fd);
            ::close(null_fd);
        }
    }
    return stdout_open;
}

// Each terminal takes two descriptors (its own and the controller's): the soft limit is raised
// toward the hard one so that --max-connections can be reached; short of it, the proxy says so.
void make_room_for(std::size_t connections, diagnostics& diag) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
    const rlim_t needed = 2 * static_cast<rlim_t>(connections) + 32;
    if (limit.rlim_cur >= needed) return;
    rlimit raised = limit;
    raised.rlim_cur = std::min(needed, limit.rlim_max);
    if (::setrlimit(RLIMIT_NOFILE, &raised) != 0) raised = limit;
    if (raised.rlim_cur < needed) {
        diag.say("the descriptor limit (" + std::to_string(raised.rlim_cur) +
                 ") leaves room for about " + std::to_string((raised.rlim_cur - 32) / 2) +
                 " terminals, fewer than --max-connections " + std::to_string(connections));
    }
}

// The proxy's messages on standard error. Never destroyed: a journal writer left behind at a
// stop (in a write to a file system that hangs) may still report through it.
diagnostics& messages() {
    static diagnostics* const diag = new diagnostics();
    return *diag;
}

int relay(const proxy_arguments& args, bool stdout_open) {
    proxy_settings settings;
    std::string error;
    if (!proxy_net::parse_address(args.listen, settings.listen, error) ||
        !proxy_net::resolve(settings.listen, settings.listen_address, error)) {
        return fail(proxy_exit::usage, "--listen: " + error);
    }
    if (!proxy_net::parse_address(args.to, settings.to, error) ||
        !proxy_net::resolve(settings.to, settings.controller, error)) {
        return fail(proxy_exit::usage, "--to: " + error);
    }
    settings.text_max = args.text_max;
    settings.max_connections = args.max_connections;
    settings.rules_file = args.rules;
    settings.seed = args.seed ? *args.seed : std::random_device{}();
    std::vector<proxy::rule> rules;
    if (args.rules) {
        proxy::parsed_rules parsed = proxy::load_rules(*args.rules);
        if (!parsed.ok()) return fail(proxy_exit::usage, parsed.error);
        rules = std::move(parsed.rules);
    }
    const std::size_t rule_count = rules.size();
    rules_holder holder(std::make_shared<proxy::rule_engine>(std::move(rules), settings.seed));
    if (args.journal && *args.journal == "-" && !stdout_open) {
        return fail(proxy_exit::failure, "--journal: standard output is closed");
    }

    // Before any thread starts: the writers of the journal and of the messages are threads.
    block_proxy_signals();
    diagnostics& diag = messages();
    std::unique_ptr<proxy::journal_writer> journal =
        args.journal ? std::make_unique<proxy::journal_writer>(*args.journal, diag)
                     : std::make_unique<proxy::journal_writer>();
    if (!journal->error().empty()) {
        diag.finish(std::chrono::steady_clock::now());
        return fail(proxy_exit::failure, "--journal: " + journal->error());
    }
    make_room_for(settings.max_connections, diag);
    const int listen_fd =
        proxy_net::listen_on(settings.listen_address, protocol::listen_backlog, error);
    if (listen_fd < 0) {
        journal->finish(std::chrono::steady_clock::now());
        diag.finish(std::chrono::steady_clock::now() + proxy_defaults::stop_drain);
        return fail(proxy_exit::failure,
                    "cannot listen on " + settings.listen.text() + ": " + error);
    }
    if (journal->enabled()) {
        proxy::start_facts facts;
        facts.version = IFC_PROXY_VERSION;
        facts.listen = settings.listen.text();
        facts.to = settings.to.text();
        facts.seed = settings.seed;
        facts.rules_file = settings.rules_file;
        facts.rule_count = rule_count;
        facts.text_max = settings.text_max;
        journal->write(proxy::start_line(facts));
    }
    diag.say("listening on " + settings.listen.text() + ", controller " + settings.to.text() +
             ", " + std::to_string(rule_count) + (rule_count == 1 ? " rule" : " rules") +
             ", seed " + std::to_string(settings.seed));
    int status = proxy_exit::failure;
    try {
        listener main_loop(settings, listen_fd, *journal, diag, holder);
        status = main_loop.run();
    } catch (const std::exception& e) {
        // A failure of the proxy's own (no memory, say): its connections are closed, and it
        // ends saying why rather than aborting.
        diag.say(std::string("stopped by a failure of its own: ") + e.what());
    }
    // The readers get a moment to take what waits for them; then the proxy ends regardless.
    const std::uint64_t lost =
        journal->finish(std::chrono::steady_clock::now() + proxy_defaults::stop_drain);
    if (lost > 0) {
        diag.say(std::to_string(lost) +
                 " journal lines were dropped in all (its reader did not keep up, or it could "
                 "not be written)");
    }
    diag.finish(std::chrono::steady_clock::now() + proxy_defaults::stop_drain);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    const bool stdout_open = open_standard_descriptors();
    const parsed_arguments parsed = parse_arguments(argc, argv);
    if (!parsed.args) {
        if (parsed.status == proxy_exit::ok) {
            std::cout << parsed.text;
        } else {
            std::cerr << "ifc-proxy: " << parsed.text << '\n';
        }
        return parsed.status;
    }
    switch (parsed.args->what) {
        case proxy_arguments::job::summary:
            return print_summary(parsed.args->file);
        case proxy_arguments::job::check_rules:
            return check_rules(parsed.args->file);
        case proxy_arguments::job::relay:
            break;
    }
    try {
        return relay(*parsed.args, stdout_open);
    } catch (const std::exception& e) {
        // Before the relay runs (no thread or no memory at the start, no source of a seed).
        return fail(proxy_exit::failure, std::string("cannot start: ") + e.what());
    }
}
