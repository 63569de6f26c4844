// The input of the gateway's fuzz target: the controller's answers to the reads of one poll, in
// the order the poll asks for them, separated by answer_separator. An answer that starts with
// failure_mark is a failed read instead: the next byte picks the kind of failure, the rest is
// its detail.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace gateway_answers_input {

inline constexpr char answer_separator = '\x1e';
inline constexpr char failure_mark = '\x1f';

inline std::string join(const std::vector<std::string>& answers) {
    std::string input;
    for (const std::string& answer : answers) {
        if (!input.empty()) input += answer_separator;
        input += answer;
    }
    return input;
}

inline std::vector<std::string_view> split(std::string_view input) {
    std::vector<std::string_view> answers;
    for (;;) {
        const auto end = input.find(answer_separator);
        answers.push_back(input.substr(0, end));
        if (end == std::string_view::npos) break;
        input.remove_prefix(end + 1);
    }
    return answers;
}

}  // namespace gateway_answers_input
