#include "proxy/faults/fault.h"

#include <sstream>

namespace proxy {

fault_report report_of(const planned_fault& fault) {
    fault_report r;
    static_cast<fault_settings&>(r) = fault.rule_copy;
    r.seconds = fault.seconds;
    r.rule = fault.index;
    r.label = fault.rule_copy.label;
    r.what = fault.rule_copy.what;
    return r;
}

std::string seconds_words(double seconds) {
    std::ostringstream out;
    out << seconds << " s";
    return out.str();
}

}  // namespace proxy
