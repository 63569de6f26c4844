// A bare TCP client for the clients of the soak test that misbehave below the protocol:
// bytes and then silence, or a connection dropped in the middle of an exchange (closed
// normally or reset).
#pragma once

#include <cstdint>
#include <string_view>

namespace soak {

class raw_client {
  public:
    explicit raw_client(std::uint16_t port);
    ~raw_client();
    raw_client(const raw_client&) = delete;
    raw_client& operator=(const raw_client&) = delete;

    bool connected() const { return fd_ >= 0; }
    bool send(std::string_view bytes);
    // Closes the connection; with reset, the peer gets a reset instead of an end of stream.
    void drop(bool reset);

  private:
    int fd_ = -1;
};

}  // namespace soak
