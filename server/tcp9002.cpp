#include "server/tcp9002.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "lib/diag.h"
#include "lib/text_scan.h"
#include "protocol/protocol.h"
#include "server/ether_com.h"
#include "server/ether_parse.h"
#include "server/socket_io.h"
#include "server/workdir_lock.h"

std::int16_t deb_tcp9002 = 1;
int tcp9002_break = 0;

namespace {

// Every header, GET answer and PUT payload passes through this buffer. It has one byte more
// than the largest payload: a PUT command stores a NUL right after its argument, which for a
// full-size payload is the byte after it.
char ether_tcpc_data[protocol::max_payload + 1];

using protocol::header_kind;

// The header is the first header_len bytes of the transfer buffer.
header_kind classify(const char* header) {
    return protocol::classify_header(std::string_view(header, protocol::header_len));
}

void report(const char* message) {
    if (deb_tcp9002) diag::out_line(message);
}

void report_and_flush(const char* message) {
    report(message);
    diag::flush_out();
}

// Runs the named read command and sends its answer. false when the connection must close.
bool serve_get(int client) {
    // The answer is written over the header, so the name is copied out first: at most 20
    // characters, ending at the first NUL of the field.
    char name[protocol::name_field_len + 1] = {};
    const char* field = ether_tcpc_data + protocol::name_field_offset;
    for (int i = 0; i < protocol::name_field_len && field[i] != '\0'; ++i)
        name[i] = field[i];
    const int n = ether_get_data(name, ether_tcpc_data);
    // An unknown name gives n = -1: the client gets LEN-000000001, the send returns 0, and
    // the connection closes.
    return ether_send_all_data(client, ether_tcpc_data, n, protocol::transfer_seconds) == n;
}

// Receives a payload and runs the write command named in it. false when the connection must
// close.
bool serve_put(int client) {
    // The length text runs from byte 3 to the NUL stored after the header.
    const std::int32_t len = atoi32(ether_tcpc_data + protocol::put_token.size());
    // Compared as unsigned, a negative length is a huge one: "-1" is refused with the lengths
    // above the buffer, and no negative count ever reaches the receive.
    if (static_cast<std::uint32_t>(len) > static_cast<std::uint32_t>(protocol::max_payload)) {
        socket_send(client, protocol::err_token);
        report_and_flush("error: TOO BIG DATA");
        return true;
    }
    const int r = ether_recv_all_data(client, ether_tcpc_data, len, protocol::transfer_seconds);
    if (r > 0) ether_put_data(ether_tcpc_data, r);
    return r >= 0;
}

// Reads and serves request headers until the connection ends.
void serve_connection(int client) {
    for (;;) {
        const int n = ether_recv_unit_data(client, ether_tcpc_data, protocol::header_len,
                                           protocol::wait_seconds);
        if (tcp9002_break) return;
        if (n < 0) {
            report_and_flush("main(): ether_recv_unit_data");
            return;
        }
        // The echo shows the bytes of this header only: a short header is ended where it
        // stopped, so that nothing left in the buffer by an earlier request is printed.
        // Its control bytes are escaped: a header is one line of the log, whatever it holds.
        ether_tcpc_data[n] = '\0';
        if (deb_tcp9002) diag::out_line_escaped(ether_tcpc_data);
        if (n != protocol::header_len) {
            report_and_flush("error: command len");
            return;
        }
        switch (classify(ether_tcpc_data)) {
            case header_kind::get:
                if (!serve_get(client)) return;
                break;
            case header_kind::put:
                if (!serve_put(client)) return;
                break;
            case header_kind::ping:
                break;
            case header_kind::disconnect:
                return;
            case header_kind::unknown:
                report_and_flush("error: UNKNOWN COMMAND");
                return;
        }
    }
}

int accept_client(int listener) {
    for (;;) {
        // Diagnostics waiting for a slow reader are written while no client comes.
        socket_wait_connection(listener);
        const int fd = accept(listener, nullptr, nullptr);
        if (fd >= 0 || errno != EINTR) return fd;
    }
}

// Failures of accept that last while the process or the system has no descriptors or
// memory to spare: the waiting connection stays queued, and accepting again at once would
// only fail again.
bool out_of_resources(int error) {
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

// After a failed accept: waits before the next one, growing from 10 ms to 1 s while the
// failures last, and prints the perror line at most once a second with the count of those
// not printed. A failure of the connection itself (aborted by the client) is retried at once.
class accept_failures {
  public:
    void failed(int error) {
        if (!out_of_resources(error)) {
            if (deb_tcp9002) {
                errno = error;
                diag::err_perror("server: accept");
            }
            // A listening socket that keeps failing for another reason must not spin.
            if (error != ECONNABORTED && error != EPROTO && error != EPERM) pause_millis(1000);
            return;
        }
        const std::int64_t now = monotonic_millis();
        if (now - last_report_ms_ >= 1000) {
            if (deb_tcp9002) {
                if (unreported_ == 0) {
                    diag::err_printf("server: accept: %s\n", std::strerror(error));
                } else {
                    diag::err_printf("server: accept: %s (repeated %lu times)\n",
                                     std::strerror(error), unreported_ + 1);
                }
            }
            last_report_ms_ = now;
            unreported_ = 0;
        } else {
            ++unreported_;
        }
        delay_ms_ = std::clamp(delay_ms_ * 2, 10, 1000);
        pause_millis(delay_ms_);
    }
    void succeeded() { delay_ms_ = 0; }

  private:
    int delay_ms_ = 0;
    std::int64_t last_report_ms_ = -1000000;
    unsigned long unreported_ = 0;
};

// A server started with standard input, output or error closed would hand their numbers to
// its sockets: the listening socket would become descriptor 0 and each client descriptor 1,
// and the diagnostics would go into the clients' connections. They are opened on /dev/null
// before any socket exists.
void open_missing_standard_descriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int null_fd = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (null_fd >= 0 && null_fd != fd) {
            dup2(null_fd, fd);
            close(null_fd);
        }
    }
}

}  // namespace

int tcp9002_loop(std::uint16_t port) {
    open_missing_standard_descriptors();
    // A vanished reader of standard output must not end the server either; socket sends
    // never raise the signal in the first place.
    std::signal(SIGPIPE, SIG_IGN);

    int listener = -1;
    if (ether_init(&listener, port) != 1) {
        // "sever" is the message operators and scripts know; it stays as it is.
        diag::out_line("Can't initialize sever socket.");
        diag::flush_out();
        return -1;
    }
    // Only once the port is ours: a server that cannot listen fails as it always has.
    if (!lock_working_directory()) return -1;
    accept_failures failures;
    for (;;) {
        if (deb_tcp9002) diag::out("waiting... ");
        diag::flush_out();
        const int client = accept_client(listener);
        if (client < 0) {
            failures.failed(errno);
            continue;
        }
        failures.succeeded();
        if (deb_tcp9002) diag::out("connected... ");
        diag::flush_out();
        tcp9002_serve(client);
    }
}

void tcp9002_serve(int client) {
    // Every token goes out at once. With Nagle's algorithm a token sent while the one before
    // is not yet acknowledged waits for the client's delayed acknowledgement (about 40 ms):
    // a client that sends a payload ahead of the "NEXT"s waited that long for every "NEXT"
    // after the first and for the "FIN".
    const int on = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    int non_blocking = 1;
    ioctl(client, FIONBIO, &non_blocking);
    serve_connection(client);
    close(client);
}
