// The faults at work on the request at hand of one connection: started when the rule engine
// has decided the rules on the request, placed at their points as its bytes pass, reported
// once it is over. No I/O: what the faults do reaches the relay through its controls.
#pragma once

#include <vector>

#include "proxy/faults/fault.h"

namespace proxy {

class request_faults {
  public:
    // The rules that fire at a decision on the request, in rule order: each does what it does
    // before the request's bytes move on. The decision at a header begins a new request, and
    // the faults of the one before are done with.
    void start(const pending_request& request, std::vector<planned_fault> plans,
               request_controls& relay);
    // The request at hand: its number on the connection.
    int seq() const { return seq_; }
    // Some fault still waits for its point among the request's bytes.
    bool waiting() const;
    // A run of the request's bytes passes: each fault that waits acts on it.
    void pass(fragment_controls& run);
    // The reports of the faults of the request the record is of (none for another): a fault
    // whose point never came says why.
    std::vector<fault_report> reports(const request_record& record);

  private:
    int seq_ = 0;
    std::vector<active_fault> faults_;
};

}  // namespace proxy
