// The proxy's protocol tracker, fed random steps from either side (fuzz/proxy_tracker_input.h)
// the way the relay feeds it: bytes the tracker holds wait and are fed again once the other
// side has moved. It must never crash, and never lose track silently:
//   - every classified byte is in exactly one fragment, and feed consumes no more than it got;
//   - the controller's bytes are never held (nothing the terminal sends can make them wait);
//   - when the tracker stops following, a violation (lost_track) or an end says why;
//   - once both sides have ended, no request is left open.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/proxy_tracker_input.h"
#include "proxy/tracker.h"

namespace {

using proxy::side;

void check(bool holds) {
    if (!holds) std::abort();
}

class relay_model {
  public:
    relay_model() : tracker_(64, proxy::time_point{}) {}

    void bytes(side from, std::string_view data) {
        if (ended_[index(from)]) return;  // nothing comes after the end of a stream
        held(from).append(data.data(), data.size());
        drain();
    }
    void end(side who, bool reset) {
        drain();
        ended_[index(who)] = true;
        tracker_.end(who, reset, now());
        take();
        if (ended_[0] && ended_[1]) check(!tracker_.in_request() && !tracker_.following());
    }
    // The next PUT header is answered ERR! by the proxy, as an err rule does.
    void arm_err() { err_armed_ = true; }
    void finish() {
        // The controller's bytes are never held.
        check(held(side::controller).empty());
        if (!tracker_.following()) check(explained());
    }

  private:
    static int index(side s) { return s == side::terminal ? 0 : 1; }
    std::string& held(side s) { return held_[index(s)]; }
    proxy::time_point now() { return proxy::time_point{} + std::chrono::milliseconds(++clock_); }

    void drain() {
        for (bool moved = true; moved;) {
            moved = false;
            for (const side s : {side::controller, side::terminal}) {
                std::string& bytes = held(s);
                while (!bytes.empty() && !ended_[index(s)]) {
                    std::vector<proxy::fragment> out;
                    const proxy::feed_result r = tracker_.feed(s, bytes, now(), out);
                    check(r.consumed <= bytes.size());
                    std::size_t sum = 0;
                    for (const proxy::fragment& f : out) {
                        check(f.size > 0);
                        sum += f.size;
                    }
                    check(sum == r.consumed);
                    bytes.erase(0, r.consumed);
                    take();
                    if (err_armed_ && r.why == proxy::stop::decision &&
                        tracker_.pending().kind == proxy::request_kind::put &&
                        tracker_.pending().point == proxy::decision_point::header) {
                        err_armed_ = false;
                        tracker_.answer_err(now(), "fuzz");
                        take();
                    }
                    if (r.why == proxy::stop::held) check(s == side::terminal);
                    if (r.consumed == 0) break;
                    moved = true;
                }
            }
        }
    }
    void take() {
        for (const proxy::request_record& r : tracker_.take_finished()) {
            check(r.seq > last_seq_);
            last_seq_ = r.seq;
            if (r.result == proxy::outcome::violation_by_terminal ||
                r.result == proxy::outcome::violation_by_controller) {
                check(!r.detail.empty());
            }
        }
    }
    // Not following any more: a violation says why, or the connection has ended.
    bool explained() const { return !tracker_.lost_track().empty() || ended_[0] || ended_[1]; }

    proxy::tracker tracker_;
    std::string held_[2];
    bool ended_[2] = {false, false};
    bool err_armed_ = false;
    int last_seq_ = 0;
    long clock_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using proxy_tracker_input::step;
    relay_model relay;
    std::size_t at = 0;
    while (at < size) {
        const std::uint8_t tag = data[at++];
        const side who = (tag & 1) != 0 ? side::controller : side::terminal;
        switch (static_cast<step>((tag >> 1) & 3)) {
            case step::bytes: {
                const std::size_t length = at < size ? data[at++] : 0;
                const std::size_t n = std::min(length, size - at);
                relay.bytes(who, std::string_view(reinterpret_cast<const char*>(data + at), n));
                at += n;
                break;
            }
            case step::end:
                relay.end(who, false);
                break;
            case step::reset:
                relay.end(who, true);
                break;
            case step::answer_err:
                relay.arm_err();
                break;
        }
    }
    relay.finish();
    return 0;
}
