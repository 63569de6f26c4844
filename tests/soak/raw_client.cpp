#include "tests/soak/raw_client.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace soak {

raw_client::raw_client(std::uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

raw_client::~raw_client() {
    drop(false);
}

bool raw_client::send(std::string_view bytes) {
    return fd_ >= 0 && ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                           static_cast<ssize_t>(bytes.size());
}

void raw_client::drop(bool reset) {
    if (fd_ < 0) return;
    if (reset) {
        const linger abort_close{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort_close, sizeof abort_close);
    }
    ::close(fd_);
    fd_ = -1;
}

}  // namespace soak
