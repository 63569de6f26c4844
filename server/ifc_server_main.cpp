// ifc-server: the weft-insertion operator-interface server on TCP port 9002 (or --port N). It
// keeps its settings files in the working directory.
#include <cstdio>
#include <cstdlib>
#include <span>

#include "server/server_args.h"
#include "server/tcp9002.h"

int main(int argc, char** argv) {
    const auto options = parse_server_args(
        std::span<const char* const>(argv + (argc > 0 ? 1 : 0), argc > 0 ? argc - 1 : 0));
    switch (options.what) {
        case server_args::action::help:
            std::fputs(server_help().c_str(), stdout);
            return EXIT_SUCCESS;
        case server_args::action::version:
            std::fputs(server_version().c_str(), stdout);
            return EXIT_SUCCESS;
        case server_args::action::usage_error:
            std::fprintf(stderr, "ifc-server: %s\n%s", options.error.c_str(),
                         server_usage().c_str());
            return 2;
        case server_args::action::serve:
            break;
    }
    tcp9002_loop(options.port);
    // Only a listening socket that cannot be set up ends the server.
    return EXIT_FAILURE;
}
