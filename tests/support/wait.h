// Bounded waiting for something another thread or process brings about: the tests never wait
// on a fixed sleep, and never without a limit.
#pragma once

#include <chrono>
#include <thread>

namespace test_support {

// Asks done() every 5 ms until it is true (then true) or limit has passed (then false).
template <class Done>
bool wait_until(Done done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace test_support
