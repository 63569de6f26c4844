#include "tests/support/raw_http.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <string_view>

namespace test_support {

ifc_client::unique_fd connect_loopback(std::uint16_t port, const char* source) {
    ifc_client::unique_fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) return fd;
    if (source != nullptr) {
        sockaddr_in from{};
        from.sin_family = AF_INET;
        ::inet_pton(AF_INET, source, &from.sin_addr);
        if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) return {};
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return {};
    return fd;
}

std::string read_answer(int fd, std::chrono::milliseconds wait) {
    const auto end = std::chrono::steady_clock::now() + wait;
    std::string answer;
    char buffer[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        pollfd pfd{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) break;
        const ssize_t k = ::recv(fd, buffer, sizeof buffer, 0);
        if (k <= 0) break;
        answer.append(buffer, static_cast<std::size_t>(k));
        const auto head_end = answer.find("\r\n\r\n");
        if (head_end == std::string::npos) continue;
        const auto length = answer.find("Content-Length: ");
        const std::size_t body =
            length == std::string::npos ? 0 : std::stoul(answer.substr(length + 16));
        if (answer.size() >= head_end + 4 + body) {
            answer.resize(head_end + 4 + body);  // not what may follow it
            break;
        }
    }
    return answer;
}

std::string raw_exchange(std::uint16_t port, const std::string& bytes,
                         std::chrono::milliseconds wait) {
    const auto fd = connect_loopback(port);
    if (!fd) return "";
    std::string_view rest = bytes;
    while (!rest.empty()) {
        pollfd pfd{fd.get(), POLLOUT, 0};
        if (::poll(&pfd, 1, 1000) <= 0) break;  // the server stopped reading
        const ssize_t k = ::send(fd.get(), rest.data(), rest.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (k <= 0) break;
        rest.remove_prefix(static_cast<std::size_t>(k));
    }
    return read_answer(fd.get(), wait);
}

int status_of(const std::string& answer) {
    if (!answer.starts_with("HTTP/1.1 ") || answer.size() < 12) return 0;
    return std::stoi(answer.substr(9, 3));
}

}  // namespace test_support
