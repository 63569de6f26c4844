// The connection of a run of ifc-client, opened when a command needs it. The server serves
// one client at a time and drops a connection after 5 seconds without a request, so an idle
// connection is not kept: it is closed politely before a wait (the prompt, the pause of
// --interval) and opened afresh for the next command.
#pragma once

#include <chrono>
#include <optional>

#include "client/connection.h"

namespace ifc_tool {

class session {
  public:
    explicit session(ifc_client::endpoint where) : where_(std::move(where)) {}
    ~session() { close(); }
    session(const session&) = delete;
    session& operator=(const session&) = delete;

    const ifc_client::endpoint& endpoint() const { return where_; }
    // Changes the server to talk to; the next command connects there.
    void set_endpoint(const ifc_client::endpoint& where);

    // An open connection: the current one while it is fresh and open, else a new one.
    ifc_client::result<ifc_client::connection*> connection();
    // Sends DISCONNECT and closes; nothing when no connection is open.
    void close();

  private:
    ifc_client::endpoint where_;
    std::optional<ifc_client::connection> conn_;
    std::chrono::steady_clock::time_point last_use_{};
};

}  // namespace ifc_tool
