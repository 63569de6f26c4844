// PUT payloads straight into the dispatcher: "name NUL argument" or anything else. The
// payload lies in a heap block with exactly one byte after it, the byte that a command may
// use for its terminating NUL, so AddressSanitizer sees any access beyond it. The seed corpus
// and the dictionary carry every command name, so every command is reached.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/scratch_dir.h"
#include "server/ether_parse.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_support::enter_scratch_dir();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The server runs the dispatcher only for a payload of at least one byte.
    if (size == 0) return 0;
    fuzz_support::fresh_settings();
    auto* payload = static_cast<char*>(std::malloc(size + 1));
    std::memcpy(payload, data, size);
    payload[size] = 'X';  // not a NUL: no command may rely on one being there already
    ether_put_data(payload, static_cast<int>(size));
    std::free(payload);
    return 0;
}
