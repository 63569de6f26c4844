// Typed outcomes of the client side of the wire.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace ifc_client {

enum class errc {
    refused,          // nobody listens at the address (or it cannot be reached)
    timeout,          // a wait for the server passed the client's time-out
    unknown_command,  // GET of a name no command has: the server answered LEN-000000001
    rejected,         // PUT length refused: the server answered "ERR!"
    closed,           // the server closed the connection before the exchange was complete
    protocol,         // the server sent bytes the protocol does not allow here
    bad_request,      // the request cannot be put on the wire (name longer than 20, ...)
    io,               // any other failure of a system call
};

std::string_view errc_name(errc code);

struct error {
    errc code;
    std::string detail;
    // A write whose request went out whole but whose end did not come back: the server's "FIN"
    // or the read-back after it is missing (the server vanished after applying it, or stalled
    // before confirming). The server may or may not hold the new values.
    bool outcome_unknown = false;
};

// A value or an error.
template <class T>
class result {
  public:
    result(T value) : state_(std::move(value)) {}
    result(error failure) : state_(std::move(failure)) {}

    explicit operator bool() const { return state_.index() == 0; }
    bool ok() const { return state_.index() == 0; }
    T& value() { return std::get<0>(state_); }
    const T& value() const { return std::get<0>(state_); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    const error& failure() const { return std::get<1>(state_); }
    errc code() const { return failure().code; }

  private:
    std::variant<T, error> state_;
};

struct done {};
using status = result<done>;

}  // namespace ifc_client
