// What a call to the gateway's state answers: a value, or why there is none. The state never
// throws at its callers: a database that cannot be read or written is an answer
// (store_errc::unavailable, with the reason), not an exception.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace gateway::state {

enum class store_errc {
    unavailable,  // the database cannot be read or written now: reason says why
    not_found,    // no such style, version, roll-out, ...
    conflict,     // the request does not fit the state: a hidden version, a roll-out running
    invalid,      // the request itself is wrong: a bad name, a document that does not pass
};

// "unavailable", "not found", "conflict", "invalid"
const char* errc_text(store_errc code);

struct store_error {
    store_errc code = store_errc::unavailable;
    std::string reason;
};

template <class T>
class store_result {
  public:
    store_result(T value) : state_(std::move(value)) {}
    store_result(store_error failure) : state_(std::move(failure)) {}

    explicit operator bool() const { return state_.index() == 0; }
    bool ok() const { return state_.index() == 0; }
    T& value() { return std::get<0>(state_); }
    const T& value() const { return std::get<0>(state_); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    const store_error& failure() const { return std::get<1>(state_); }
    store_errc code() const { return failure().code; }

  private:
    std::variant<T, store_error> state_;
};

struct done {};
using store_status = store_result<done>;

inline store_error unavailable(std::string reason) {
    return {store_errc::unavailable, std::move(reason)};
}
inline store_error not_found(std::string reason) {
    return {store_errc::not_found, std::move(reason)};
}
inline store_error conflict(std::string reason) {
    return {store_errc::conflict, std::move(reason)};
}
inline store_error invalid(std::string reason) {
    return {store_errc::invalid, std::move(reason)};
}

}  // namespace gateway::state
