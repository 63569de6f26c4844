// Bounded reading of numbers and words from argument texts, with the meaning of the C
// library's atoi and sscanf conversions but without their undefined cases: a number beyond
// the 32-bit signed range reads as the nearest limit, and words are views into the text
// rather than copies into fixed buffers, so no length of argument can overrun anything.
#pragma once

#include <cstdint>
#include <string_view>

// As atoi: leading white space, an optional sign, decimal digits up to the first other
// character; no digits read as 0. Beyond the int32 range: the nearest limit.
std::int32_t atoi32(const char* text);
std::int32_t atoi32(std::string_view text);

// Reads a text the way an sscanf pattern does, one directive at a time. Each read returns
// false when its directive does not match; the scanner then stays where it was.
class text_scanner {
  public:
    explicit text_scanner(std::string_view text) : text_(text) {}

    // A blank in a pattern: skips any white space, also none.
    void skip_space();
    // Ordinary pattern characters: must match exactly, with no white space skipped first.
    bool literal(std::string_view word);
    // "%d": skips white space, then an optional sign and at least one digit. A value beyond
    // the int32 range reads as the nearest limit.
    bool read_int(std::int32_t& out);
    // "%s": skips white space, then a run of characters that are not white space.
    bool read_word(std::string_view& out);

    std::string_view rest() const { return text_.substr(pos_); }

  private:
    std::string_view text_;
    std::size_t pos_ = 0;
};
