// ifc-proxy: relays operator terminals to the controller, journals every exchange and applies
// fault rules; or summarises a journal, or checks a rules file.
#include <fstream>
#include <iostream>
#include <memory>
#include <random>

#include "protocol/protocol.h"
#include "proxy/journal.h"
#include "proxy/program/arguments.h"
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

int relay(const proxy_arguments& args) {
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

    std::unique_ptr<proxy::journal_writer> journal =
        args.journal ? std::make_unique<proxy::journal_writer>(*args.journal)
                     : std::make_unique<proxy::journal_writer>();
    if (!journal->error().empty())
        return fail(proxy_exit::failure, "--journal: " + journal->error());

    block_proxy_signals();
    const int listen_fd =
        proxy_net::listen_on(settings.listen_address, protocol::listen_backlog, error);
    if (listen_fd < 0) {
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
    std::cerr << "ifc-proxy: listening on " << settings.listen.text() << ", controller "
              << settings.to.text() << ", " << rule_count << (rule_count == 1 ? " rule" : " rules")
              << ", seed " << settings.seed << std::endl;
    listener main_loop(settings, listen_fd, *journal, holder);
    return main_loop.run();
}

}  // namespace

int main(int argc, char** argv) {
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
    return relay(*parsed.args);
}
