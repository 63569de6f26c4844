// Rules in words, as ifc-proxy --check-rules shows them.
#include <sstream>
#include <string>

#include "proxy/byte_text.h"
#include "proxy/faults/registry.h"
#include "proxy/rules.h"

namespace proxy {

namespace {

std::string ordinal(long long n) {
    const long long tens = n % 100;
    const long long ones = n % 10;
    const char* suffix = "th";
    if (tens < 11 || tens > 13) {
        if (ones == 1) suffix = "st";
        if (ones == 2) suffix = "nd";
        if (ones == 3) suffix = "rd";
    }
    return std::to_string(n) + suffix;
}

}  // namespace

std::string describe(const rule& r) {
    std::string text;
    switch (r.when) {
        case occurrence::every:
            text = "every";
            break;
        case occurrence::nth:
            text = "the " + ordinal(r.n);
            break;
        case occurrence::every_kth:
            text = r.n == 1 ? "every" : "every " + ordinal(r.n);
            break;
        case occurrence::probability: {
            std::ostringstream p;
            p << "with probability " << r.p << ", each";
            text = p.str();
            break;
        }
    }
    text += " " + (r.kind ? std::string(kind_name(*r.kind)) : std::string("request"));
    if (!r.command.empty()) text += " of " + shown_text(r.command);
    if (r.limit > 0) text += " (at most " + std::to_string(r.limit) + " times)";
    text += ": " + std::string(action_name(r.what)) + fault_of(r.what).words(r);
    if (!r.label.empty()) text += "  [" + shown_text(r.label) + "]";
    return text;
}

}  // namespace proxy
