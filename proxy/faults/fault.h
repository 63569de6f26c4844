// A fault action of ifc-proxy behind one small interface: it reads its settings from a rule,
// says itself in words and in the journal, decides what it does before a request's bytes move
// on, acts on those bytes as they pass, and says why it was missed. Each action is one file in
// proxy/faults/ and one line of proxy/faults/fault_list.def; nothing else names it.
//
// A fault reaches the exchange only through the controls the relay gives it (request_controls,
// fragment_controls): it never sees a socket or a queue.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "proxy/exchange.h"
#include "proxy/journal_line.h"
#include "proxy/rule.h"
#include "proxy/tracker.h"

namespace proxy {

class rule_reader;

// A rule that fires on a request, as the rule engine planned it.
struct planned_fault {
    std::size_t index = 0;     // the rule's position in the file (rules[index])
    rule rule_copy;            // a copy: a reload leaves a planned fault as it was
    long long match = 0;       // the request's number among those the rule matched (1: the first)
    double seconds = 0;        // the rule's seconds; drawn within its range when it has one
    double position_draw = 0;  // a fraction drawn from the seed, for a position drawn later
};

// A fault as the journal shows it: the rule, its settings (seconds as drawn), what it did and
// whether its point came.
struct fault_report : fault_settings {
    std::size_t rule = 0;
    std::string label;
    action what{};
    int from = 0;  // a changed byte: before and after
    int to = 0;
    bool applied = false;
    std::string missed;  // why it was not applied
};
// The report of a planned fault before it acts.
fault_report report_of(const planned_fault& fault);

// A fault at work on the request at hand.
struct active_fault {
    planned_fault plan;  // a setting found for the request (a drawn position) is kept in its rule
    fault_report report;
    bool resolved = false;  // applied, or its point passed: it acts no more
};

// What a fault may do at the decision on a request, before the request's bytes move on. The
// relay carries it out.
class request_controls {
  public:
    // The terminal's bytes of the request from here on wait this long before they go on.
    virtual void hold(double seconds) = 0;
    // The request's bytes pass both ways at this rate until it is over.
    virtual void throttle(double bytes_per_second) = 0;
    // New terminal connections are refused for this long (rule: its index, for the journal).
    virtual void refuse_connections(std::size_t rule, double seconds) = 0;
    // Some bytes of the request's header have gone on to the controller already.
    virtual bool header_relayed() const = 0;
    // ERR! goes back to the terminal in place of the controller's answer, and the header is not
    // relayed: the controller never sees the request.
    virtual void answer_err(std::size_t rule) = 0;

  protected:
    ~request_controls() = default;
};

// A run of bytes of the request at hand as it passes (a fragment of the tracker's), and what
// a fault may do to it. The relay carries it out.
class fragment_controls {
  public:
    // Where a marker goes: before the run's bytes or after them.
    enum class place : std::uint8_t { before, after };

    side from() const { return from_; }
    const fragment& what() const { return what_; }
    // The run's bytes, which a fault may change.
    std::string& bytes() { return bytes_; }

    // Nothing moves either way for this long.
    virtual void stall(double seconds, place where) = 0;
    // Both connections end, with a reset or an end of stream; detail says where.
    virtual void cut(bool reset, std::string detail, place where) = 0;
    // The run's bytes never reach the other side.
    virtual void drop() = 0;

  protected:
    fragment_controls(side from, const fragment& what, std::string& bytes)
        : from_(from), what_(what), bytes_(bytes) {}
    ~fragment_controls() = default;

  private:
    side from_;
    const fragment& what_;
    std::string& bytes_;
};

class fault_action {
  public:
    virtual ~fault_action() = default;

    // The fields of a rule with this action besides those every rule has.
    virtual std::vector<std::string_view> fields() const = 0;
    // Reads them into r (the fields every rule has are read already); a field that is not
    // sound throws field_error (proxy/rule_fields.h) with the action's own words.
    virtual void read(const rule_reader& in, rule& r) const = 0;
    // The settings in words, after the action's name: " 7 s after_chunk 2"; empty when none.
    virtual std::string words(const rule& r) const = 0;
    // The settings and results in the journal's entry of the fault, after "action".
    virtual void journal_fields(const fault_report& f, journal_line& entry) const = 0;

    // Its rules are decided when a request's header is complete, before any of it is relayed
    // (a PUT header then waits in the proxy until it is whole); other rules are decided where
    // the request's command becomes known.
    virtual bool decided_at_header() const { return false; }
    // At the decision, before the request's bytes move on.
    virtual void decide(active_fault& /*f*/, request_controls& /*relay*/) const {}
    // On each run of bytes of the request while the fault is not resolved.
    virtual void act(active_fault& /*f*/, fragment_controls& /*run*/) const {}
    // Why its point never came in a request that went through (an outcome of ok); empty: the
    // request ended before it.
    virtual std::string missed(const rule& /*r*/, const request_record& /*record*/) const {
        return "";
    }
};

// "0.5 s": seconds in words.
std::string seconds_words(double seconds);

// The actions, one per file of this folder.
namespace faults {
#define PROXY_FAULT(name) const fault_action& name();
#include "proxy/faults/fault_list.def"
#undef PROXY_FAULT
}  // namespace faults

}  // namespace proxy
