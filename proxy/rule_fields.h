// Reading the fields of one rule object of a rules file, and refusing a rule that is not sound
// with the field and what it should have held. The rules file's reader uses it for the fields
// every rule has, each fault action (proxy/faults/) for its own.
#pragma once

#include <initializer_list>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "proxy/rule.h"

namespace proxy {

// A rule that is not sound: the field and what it should have held. The rules file's reader
// puts the file and the rule's index before it.
struct field_error {
    std::string field;
    std::string expected;
};

[[noreturn]] void reject(std::string_view field, std::string expected);
// expected, then the value the file gave.
[[noreturn]] void reject_value(std::string_view field, std::string_view expected,
                               const nlohmann::json& got);
// A value as the file wrote it, cut when long.
std::string shown_value(const nlohmann::json& value);
// "a, b, c".
std::string list_of(const std::vector<std::string_view>& words);

// The longest delay, stall or refusal a rule may ask for: more is a slip (milliseconds
// written as seconds) rather than a test.
inline constexpr double max_seconds = 3600;

// Refuses the field unless the rule is for one of kinds: "WHAT needs "kind": GET or PUT".
void need_kind(const rule& r, std::string_view field, std::string_view what,
               std::initializer_list<request_kind> kinds);

// Reads the fields of one rule object; a field that is not as expected is refused.
class rule_reader {
  public:
    explicit rule_reader(const nlohmann::json& object) : object_(object) {}

    bool has(std::string_view field) const { return object_.contains(field); }
    const nlohmann::json& at(std::string_view field) const { return object_.at(field); }

    // A text that is not empty.
    std::string text(std::string_view field, std::string_view expected) const;
    // A whole number within low..high.
    long long integer(std::string_view field, long long low, long long high,
                      std::string_view expected) const;
    // A finite number within low..high (above low, when low_open).
    double number(std::string_view field, double low, double high, bool low_open,
                  std::string_view expected) const;
    // The same of a value within the field (an element of a list).
    static double number_of(const nlohmann::json& v, std::string_view field, double low,
                            double high, bool low_open, std::string_view expected);

  private:
    const nlohmann::json& object_;
};

}  // namespace proxy
