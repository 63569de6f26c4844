// fake_fleet --count N: N controllers on loopback ports (see fake_fleet.h), for a benchmark in
// another program. Prints "ready" and the N ports, one line, then serves until its standard
// input ends or it is stopped.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "bench/fake_fleet.h"
#include "bench/gateway_bench_support.h"

int main(int argc, char** argv) {
    int count = 0;
    if (argc == 3 && std::string(argv[1]) == "--count") count = std::atoi(argv[2]);
    if (count < 1 || count > 5000) {
        std::fprintf(stderr, "usage: fake_fleet --count N (1..5000)\n");
        return 1;
    }
    signal(SIGPIPE, SIG_IGN);
    gateway_bench::fake_fleet fleet(gateway_bench::answers_of_a_real_server(IFC_SERVER_PATH),
                                    count);
    std::string line = "ready";
    for (const auto port : fleet.ports())
        line += " " + std::to_string(port);
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    for (std::string ignored; std::getline(std::cin, ignored);) {
    }
    return 0;
}
