#include "gateway/http_server.h"

#include <sys/socket.h>

#include <array>
#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

namespace gateway {

namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using error_code = boost::system::error_code;

// Bytes read ahead of the parser: a little more than the largest header.
constexpr std::size_t read_buffer_bytes = max_header_bytes + 8 * 1024;
// After an answer that closes the connection, what the client still sends is read and dropped
// for a while, so that its unread bytes do not make the kernel reset the connection before the
// client has read the answer.
constexpr std::chrono::milliseconds linger_time{1000};
constexpr std::size_t linger_bytes = 256 * 1024;
// How long to wait before accepting again when the process is out of descriptors.
constexpr std::chrono::milliseconds accept_pause{100};

// "HTTP/1.1 200 OK\r\n...\r\n": the status line and the header fields of an answer.
std::string head_of(const http_response& response, std::size_t content_length, bool close) {
    const auto reason = http::obsolete_reason(static_cast<http::status>(response.status));
    std::string head = "HTTP/1.1 " + std::to_string(response.status) + " ";
    head.append(reason.data(), reason.size());
    head += "\r\n";
    for (const auto& [name, value] : response.headers) {
        head += name;
        head += ": ";
        head += value;
        head += "\r\n";
    }
    head += "Content-Length: " + std::to_string(content_length) + "\r\n";
    if (close) head += "Connection: close\r\n";
    head += "\r\n";
    return head;
}

// The address of a peer; an IPv4 client of an IPv6 listener as IPv4.
std::string address_of(const tcp::socket& socket) {
    error_code ec;
    const auto endpoint = socket.remote_endpoint(ec);
    if (ec) return "";
    auto address = endpoint.address();
    if (address.is_v6() && address.to_v6().is_v4_mapped()) {
        address = net::ip::make_address_v4(net::ip::v4_mapped, address.to_v6());
    }
    return address.to_string();
}

}  // namespace

class session;

// The connections open, in all and per address, and a way to reach each one to stop it.
class connection_registry {
  public:
    enum class admission { admitted, full, address_full, stopping };

    connection_registry(int total_limit, int address_limit)
        : total_limit_(total_limit), address_limit_(address_limit) {}

    admission admit(const std::string& address) {
        std::lock_guard lock(mutex_);
        if (stopping_) return admission::stopping;
        if (total_ >= total_limit_) return admission::full;
        const auto known = per_address_.find(address);
        if (known != per_address_.end() && known->second >= address_limit_) {
            return admission::address_full;
        }
        ++per_address_[address];
        ++total_;
        return admission::admitted;
    }
    void enter(const std::shared_ptr<session>& s) {
        std::lock_guard lock(mutex_);
        sessions_[s.get()] = s;
    }
    void leave(const session* s, const std::string& address) {
        std::lock_guard lock(mutex_);
        sessions_.erase(s);
        --total_;
        if (auto it = per_address_.find(address); it != per_address_.end() && --it->second == 0) {
            per_address_.erase(it);
        }
    }
    // Marks the registry stopping and gives every open session.
    std::vector<std::shared_ptr<session>> stop() {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        return live();
    }
    std::vector<std::shared_ptr<session>> live() const {
        std::vector<std::shared_ptr<session>> all;
        for (const auto& [pointer, weak] : sessions_) {
            if (auto s = weak.lock()) all.push_back(std::move(s));
        }
        return all;
    }
    bool stopping() const {
        std::lock_guard lock(mutex_);
        return stopping_;
    }
    int total() const {
        std::lock_guard lock(mutex_);
        return total_;
    }

  private:
    const int total_limit_;
    const int address_limit_;
    mutable std::mutex mutex_;
    int total_ = 0;
    std::map<std::string, int> per_address_;
    std::map<const session*, std::weak_ptr<session>> sessions_;
    bool stopping_ = false;
};

// One client connection: requests read one after the other, each answered before the next is
// read. Everything runs on the connection's strand.
class session : public std::enable_shared_from_this<session> {
  public:
    session(tcp::socket socket, std::string address, const http_settings& settings,
            const http_handlers& handlers, connection_registry& registry)
        : stream_(std::move(socket)),
          buffer_(read_buffer_bytes),
          address_(std::move(address)),
          settings_(settings),
          handlers_(handlers),
          registry_(registry),
          request_timer_(stream_.get_executor()) {}
    ~session() { registry_.leave(this, address_); }

    void start() {
        net::dispatch(stream_.get_executor(), [self = shared_from_this()] { self->read_head(); });
    }
    // On stopping: a connection waiting for a request is closed at once.
    void stop_if_waiting() {
        net::post(stream_.get_executor(), [self = shared_from_this()] {
            if (self->phase_ == phase::reading) self->close_now();
        });
    }
    void close_now() {
        net::post(stream_.get_executor(), [self = shared_from_this()] {
            self->phase_ = phase::closed;
            error_code ignored;
            self->stream_.socket().close(ignored);
        });
    }
    // An answer is being made or sent.
    bool busy() const {
        const phase now = phase_;
        return now == phase::handling || now == phase::sending;
    }

  private:
    enum class phase { reading, handling, sending, closing, closed };

    void read_head() {
        if (registry_.stopping()) return close_now();
        phase_ = phase::reading;
        head_only_ = false;
        parser_.emplace();
        parser_->header_limit(static_cast<std::uint32_t>(max_header_bytes));
        parser_->body_limit(max_body_bytes);
        start_request_deadline();
        http::async_read_header(
            stream_, buffer_, *parser_,
            [self = shared_from_this()](error_code ec, std::size_t) { self->on_head(ec); });
    }

    // The whole request must arrive within the deadline. Its own timer rather than the
    // stream's, which would close the socket: a request that is late gets 408.
    void start_request_deadline() {
        timed_out_ = false;
        stream_.expires_never();
        request_timer_.expires_after(settings_.request_deadline);
        // A time-out already on its way when the request arrived is for an earlier request.
        const unsigned request = ++requests_;
        request_timer_.async_wait([self = shared_from_this(), request](error_code ec) {
            if (ec || request != self->requests_ || self->phase_ != phase::reading) return;
            self->timed_out_ = true;
            error_code ignored;
            self->stream_.socket().cancel(ignored);
        });
    }

    void on_head(error_code ec) {
        if (ec) return refuse_after(ec);
        const auto& head = parser_->get();
        request_ = http_request{};
        request_.method = std::string(head.method_string());
        request_.target = std::string(head.target());
        for (const auto& field : head) {
            request_.headers.emplace_back(std::string(field.name_string()),
                                          std::string(field.value()));
        }
        request_.peer = address_;
        head_only_ = request_.method == "HEAD";
        keep_alive_ = head.keep_alive();
        if (!parse_target(request_)) {
            return answer(handlers_.refusal(400, "the request target is not a path"), true);
        }
        // The chunked coding is the only transfer coding taken: another (gzip, say) would be a
        // compressed body, and "gzip, chunked" one too.
        if (request_.has_header("Transfer-Encoding") &&
            !same_token(request_.header("Transfer-Encoding"), "chunked")) {
            return answer(handlers_.refusal(501, "no transfer coding but chunked is taken"), true);
        }
        const bool has_body = parser_->chunked() || parser_->content_length().value_or(0) > 0;
        if (auto refusal = handlers_.check_head(request_)) {
            // The body is left unread: the connection cannot go on after it.
            return answer(std::move(*refusal), has_body);
        }
        if (!has_body) return on_body({});
        if (same_token(request_.header("Expect"), "100-continue")) {
            static constexpr std::string_view go_on = "HTTP/1.1 100 Continue\r\n\r\n";
            net::async_write(stream_, net::buffer(go_on.data(), go_on.size()),
                             [self = shared_from_this()](error_code write_ec, std::size_t) {
                                 if (write_ec) return self->finish();
                                 self->read_body();
                             });
            return;
        }
        read_body();
    }

    void read_body() {
        http::async_read(
            stream_, buffer_, *parser_,
            [self = shared_from_this()](error_code ec, std::size_t) { self->on_body(ec); });
    }

    void on_body(error_code ec) {
        if (ec) return refuse_after(ec);
        request_timer_.cancel();
        if (timed_out_) return refuse_after(beast::error::timeout);
        request_.body = std::move(parser_->get().body());
        phase_ = phase::handling;
        // The request is whole: no time limit while the routes work (they bound their own).
        auto self = shared_from_this();
        handlers_.handle(std::move(request_), [self](http_response response) {
            net::post(self->stream_.get_executor(),
                      [self, response = std::move(response)]() mutable {
                          self->answer(std::move(response), !self->keep_alive_);
                      });
        });
    }

    // A request that could not be read whole: refused with a status where one is owed.
    void refuse_after(error_code ec) {
        request_timer_.cancel();
        if (timed_out_) ec = beast::error::timeout;
        if (ec == http::error::header_limit || ec == http::error::buffer_overflow) {
            const bool in_body = parser_->is_header_done();
            return answer(handlers_.refusal(in_body ? 413 : 431,
                                            in_body ? "request body too large (at most " +
                                                          std::to_string(max_body_bytes) + " bytes)"
                                                    : "request header fields too large (at most " +
                                                          std::to_string(max_header_bytes) +
                                                          " bytes in all)"),
                          true);
        }
        if (ec == http::error::body_limit) {
            return answer(handlers_.refusal(413, "request body too large (at most " +
                                                     std::to_string(max_body_bytes) + " bytes)"),
                          true);
        }
        if (ec == beast::error::timeout) {
            // A connection that sent nothing is only closed.
            if (!parser_->got_some() && buffer_.size() == 0) return finish();
            return answer(handlers_.refusal(
                              408, "the request did not arrive whole within " +
                                       std::to_string(settings_.request_deadline.count()) + " ms"),
                          true);
        }
        if (ec.category() == http::make_error_code(http::error::bad_method).category() &&
            ec != http::error::end_of_stream && ec != http::error::partial_message) {
            return answer(handlers_.refusal(400, "bad request: " + ec.message()), true);
        }
        finish();  // the client went away, or the connection failed
    }

    void answer(http_response response, bool close) {
        request_timer_.cancel();
        if (phase_ == phase::closed) return;
        phase_ = phase::sending;
        response_ = std::move(response);
        close_after_ = close || response_.close || registry_.stopping();
        const std::string_view body = response_.body();
        const bool send_body = !head_only_;
        head_ = head_of(response_, body.size(), close_after_);
        const std::array<net::const_buffer, 2> parts{
            net::buffer(head_), net::buffer(body.data(), send_body ? body.size() : 0)};
        stream_.expires_after(settings_.request_deadline);
        net::async_write(stream_, parts, [self = shared_from_this()](error_code ec, std::size_t) {
            self->response_ = http_response{};  // shared texts are let go at once
            if (ec || self->close_after_) return self->finish();
            self->read_head();
        });
    }

    // Ends the connection: no more sending, what the client still sends read and dropped for a
    // while, then closed.
    void finish() {
        if (phase_ == phase::closing || phase_ == phase::closed) return;
        phase_ = phase::closing;
        error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
        stream_.expires_after(linger_time);
        drain();
    }

    void drain() {
        stream_.async_read_some(net::buffer(scratch_),
                                [self = shared_from_this()](error_code ec, std::size_t n) {
                                    self->drained_ += n;
                                    if (ec || self->drained_ >= linger_bytes) {
                                        self->phase_ = phase::closed;
                                        error_code ignored;
                                        self->stream_.socket().close(ignored);
                                        return;
                                    }
                                    self->drain();
                                });
    }

    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    const std::string address_;
    const http_settings& settings_;
    const http_handlers& handlers_;
    connection_registry& registry_;
    std::atomic<phase> phase_{phase::reading};
    std::optional<http::request_parser<http::string_body>> parser_;
    http_request request_;
    bool keep_alive_ = true;
    bool head_only_ = false;  // a HEAD request: the answer without its body
    http_response response_;
    std::string head_;
    bool close_after_ = false;
    net::steady_timer request_timer_;
    unsigned requests_ = 0;  // requests begun on the connection
    bool timed_out_ = false;
    std::array<char, 4096> scratch_{};
    std::size_t drained_ = 0;
};

class http_server::impl {
  public:
    impl(const http_settings& settings, http_handlers handlers)
        : settings_(settings),
          handlers_(std::move(handlers)),
          registry_(settings.max_connections, settings.max_connections_per_address),
          io_(std::max(1, settings.threads)),
          acceptor_(net::make_strand(io_)),
          pause_(acceptor_.get_executor()),
          stop_timer_(acceptor_.get_executor()) {}

    bool listen(const std::string& host, std::uint16_t port, std::string& why) {
        error_code ec;
        tcp::resolver resolver(io_);
        const auto found =
            resolver.resolve(host, std::to_string(port), tcp::resolver::numeric_service, ec);
        if (ec || found.empty()) {
            why = ec ? ec.message() : "no such address";
            return false;
        }
        const tcp::endpoint where = found.begin()->endpoint();
        if (acceptor_.open(where.protocol(), ec) ||
            acceptor_.set_option(net::socket_base::reuse_address(true), ec) ||
            acceptor_.bind(where, ec) ||
            acceptor_.listen(net::socket_base::max_listen_connections, ec)) {
            why = ec.message();
            error_code ignored;
            acceptor_.close(ignored);
            return false;
        }
        return true;
    }

    std::uint16_t port() const {
        error_code ec;
        return acceptor_.local_endpoint(ec).port();
    }

    void run() {
        // Work that keeps the loop running until stop() is done with it.
        work_.emplace(net::make_work_guard(io_));
        net::post(acceptor_.get_executor(), [this] { accept(); });
        std::vector<std::thread> helpers;
        for (int i = 1; i < settings_.threads; ++i) {
            try {
                helpers.emplace_back([this] { serve(); });
            } catch (const std::system_error&) {
                break;  // fewer threads serve
            }
        }
        serve();
        for (auto& helper : helpers)
            helper.join();
    }

    void stop(std::chrono::milliseconds grace) {
        if (stop_asked_.exchange(true)) return;
        for (const auto& s : registry_.stop())
            s->stop_if_waiting();
        net::post(acceptor_.get_executor(), [this, grace] {
            error_code ignored;
            acceptor_.close(ignored);
            pause_.cancel();
            stop_by_ = std::chrono::steady_clock::now() + grace;
            wait_for_answers();
        });
    }

    int open_connections() const { return registry_.total(); }

  private:
    // Runs the loop until it is stopped. A handler that throws (out of memory, most likely)
    // loses its connection, not the server.
    void serve() {
        for (;;) {
            try {
                io_.run();
                return;
            } catch (const std::exception&) {
            }
        }
    }

    void accept() {
        acceptor_.async_accept(net::make_strand(io_), [this](error_code ec, tcp::socket socket) {
            if (ec == net::error::operation_aborted || !acceptor_.is_open()) return;
            if (ec) {
                // Out of descriptors, most likely: try again in a moment rather than spin.
                pause_.expires_after(accept_pause);
                pause_.async_wait([this](error_code wait_ec) {
                    if (!wait_ec) accept();
                });
                return;
            }
            admit(std::move(socket));
            accept();
        });
    }

    void admit(tcp::socket socket) {
        std::string address = address_of(socket);
        switch (registry_.admit(address)) {
            case connection_registry::admission::admitted: {
                error_code ignored;
                socket.set_option(tcp::no_delay(true), ignored);
                auto s = std::make_shared<session>(std::move(socket), std::move(address), settings_,
                                                   handlers_, registry_);
                registry_.enter(s);
                s->start();
                return;
            }
            case connection_registry::admission::full:
                return refuse(socket, "too many connections to the gateway (at most " +
                                          std::to_string(settings_.max_connections) + ")");
            case connection_registry::admission::address_full:
                return refuse(socket, "too many connections from " + address + " (at most " +
                                          std::to_string(settings_.max_connections_per_address) +
                                          ")");
            case connection_registry::admission::stopping:
                return refuse(socket, "the gateway is stopping");
        }
    }

    // A connection past a limit: 503 in one send that never waits, and closed.
    void refuse(tcp::socket& socket, const std::string& message) {
        const http_response response = handlers_.refusal(503, message);
        const std::string bytes =
            head_of(response, response.body().size(), true) + std::string(response.body());
        ::send(socket.native_handle(), bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        error_code ignored;
        socket.shutdown(tcp::socket::shutdown_send, ignored);
        socket.close(ignored);
    }

    // Until no answer is under way, or the grace is over; then everything is closed.
    void wait_for_answers() {
        const auto open = registry_.live();
        const bool answering =
            std::any_of(open.begin(), open.end(), [](const auto& s) { return s->busy(); });
        if (answering && std::chrono::steady_clock::now() < stop_by_) {
            stop_timer_.expires_after(std::chrono::milliseconds(20));
            stop_timer_.async_wait([this](error_code) { wait_for_answers(); });
            return;
        }
        for (const auto& s : open)
            s->close_now();
        work_.reset();
        // Closing posts work of its own; the loop ends once that is done.
        net::post(acceptor_.get_executor(), [this] { io_.stop(); });
    }

    const http_settings settings_;
    const http_handlers handlers_;
    connection_registry registry_;
    net::io_context io_;
    tcp::acceptor acceptor_;
    net::steady_timer pause_;
    net::steady_timer stop_timer_;
    std::optional<net::executor_work_guard<net::io_context::executor_type>> work_;
    std::atomic<bool> stop_asked_{false};
    std::chrono::steady_clock::time_point stop_by_;
};

http_server::http_server(const http_settings& settings, http_handlers handlers)
    : impl_(std::make_unique<impl>(settings, std::move(handlers))) {}

http_server::~http_server() = default;

bool http_server::listen(const std::string& host, std::uint16_t port, std::string& why) {
    return impl_->listen(host, port, why);
}

std::uint16_t http_server::port() const {
    return impl_->port();
}

void http_server::run() {
    impl_->run();
}

void http_server::stop(std::chrono::milliseconds grace) {
    impl_->stop(grace);
}

int http_server::open_connections() const {
    return impl_->open_connections();
}

}  // namespace gateway
