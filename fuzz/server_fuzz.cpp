// Whole request streams into the server's connection handling: the input is everything one
// client sends (headers, acknowledgements, payloads, garbage), written into one end of a
// socket pair and followed by the end of the stream; the server serves the other end, exactly
// as it serves an accepted TCP connection, until the connection ends.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz/scratch_dir.h"
#include "server/tcp9002.h"

namespace {

// Room for every answer an input can ask for (each costs the input at least one header), so
// the server never finds its end of the pair full.
constexpr int send_room = 8 << 20;

void write_all(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t k = ::write(fd, data, size);
        if (k <= 0) std::abort();
        data += k;
        size -= static_cast<std::size_t>(k);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_support::enter_scratch_dir();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz_support::fresh_settings();
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) std::abort();
    const int server_end = pair[0];
    const int client_end = pair[1];
    ::setsockopt(server_end, SOL_SOCKET, SO_SNDBUFFORCE, &send_room, sizeof send_room);
    ::setsockopt(client_end, SOL_SOCKET, SO_SNDBUFFORCE, &send_room, sizeof send_room);
    write_all(client_end, data, size);
    // The client is done: every later read of the server sees the end of the stream at once
    // instead of waiting out its 5-second limit.
    ::shutdown(client_end, SHUT_WR);
    tcp9002_serve(server_end);  // closes server_end
    ::close(client_end);
    return 0;
}
