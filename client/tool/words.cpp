#include "client/tool/words.h"

namespace ifc_tool {

std::optional<std::vector<std::string>> split_words(std::string_view line) {
    std::vector<std::string> words;
    std::string word;
    bool in_word = false;
    char quote = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quote != 0) {
            if (c == quote) {
                quote = 0;
            } else if (c == '\\' && quote == '"' && i + 1 < line.size()) {
                word += line[++i];
            } else {
                word += c;
            }
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (in_word) words.push_back(std::move(word));
            word.clear();
            in_word = false;
        } else if (c == '\'' || c == '"') {
            quote = c;
            in_word = true;
        } else if (c == '\\' && i + 1 < line.size()) {
            word += line[++i];
            in_word = true;
        } else {
            word += c;
            in_word = true;
        }
    }
    if (quote != 0) return std::nullopt;
    if (in_word) words.push_back(std::move(word));
    return words;
}

}  // namespace ifc_tool
