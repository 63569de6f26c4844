#include "client/tool/session.h"

#include "protocol/protocol.h"

namespace {

using clock_type = std::chrono::steady_clock;

// Well inside the server's wait for the next header, so that a reused connection cannot be
// dropped by the server while a request is on its way.
constexpr auto reuse_limit = std::chrono::seconds(protocol::wait_seconds) / 2;

}  // namespace

namespace ifc_tool {

void session::set_endpoint(const ifc_client::endpoint& where) {
    if (where.host == where_.host && where.port == where_.port && where.timeout == where_.timeout &&
        where.queue_wait == where_.queue_wait) {
        return;
    }
    close();
    where_ = where;
}

ifc_client::result<ifc_client::connection*> session::connection() {
    const auto now = clock_type::now();
    const bool fresh = conn_ && conn_->is_open() && now - last_use_ < reuse_limit &&
                       !conn_->server_closed(std::chrono::milliseconds(0));
    if (!fresh) {
        close();
        auto opened = ifc_client::connection::open(where_);
        if (!opened) return opened.failure();
        conn_.emplace(std::move(opened.value()));
    }
    last_use_ = now;
    return &*conn_;
}

void session::close() {
    if (conn_ && conn_->is_open()) conn_->disconnect();
    conn_.reset();
}

}  // namespace ifc_tool
