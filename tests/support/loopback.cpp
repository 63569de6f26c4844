#include "tests/support/loopback.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <stdexcept>

namespace test_support {

loopback_listener listen_on_loopback() {
    loopback_listener listener;
    listener.fd.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (!listener.fd ||
        ::bind(listener.fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener.fd.get(), 1) != 0 ||
        ::getsockname(listener.fd.get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        throw std::runtime_error("cannot listen on a loopback port");
    }
    listener.port = ntohs(addr.sin_port);
    return listener;
}

}  // namespace test_support
