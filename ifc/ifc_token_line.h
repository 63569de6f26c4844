// Text helpers shared by the weft-insertion commands: answers built in the transfer buffer,
// write-command arguments, and token lines ("key:value " items) tied to interface slots.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace ifc_text {

// The answer of a read command, written from the start of the transfer buffer and kept
// NUL-terminated (the NUL is not counted).
class answer {
  public:
    explicit answer(char* buf) : buf_(buf) { buf_[0] = '\0'; }
    // Appends printf-formatted text; what would not fit in the buffer is dropped.
    void add(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Appends one token-line item: the key, a colon, the value in decimal and one blank.
    void item(std::string_view key, std::int32_t value);
    int length() const { return len_; }

  private:
    char* buf_;
    int len_ = 0;
};

// Stores the NUL after a write command's argument (the byte after it is the handler's) and
// returns the argument as C text: it ends at its first NUL. A negative length gives an empty
// text and writes nothing.
std::string_view terminate(char* arg, int len);

// Replaces the first count colons among the len bytes of arg with blanks, one after another.
// false when there are fewer than count colons.
bool colons_to_blanks(char* arg, int len, int count);

// The value in a slot of an interface record; fallback when it cannot be read (only possible
// with a settings file whose records differ from the defaults).
std::int32_t read_slot(const char* record, int slot, std::int32_t fallback = 0);

// One item of a token line and the interface slot that holds its value.
struct slot_item {
    std::string_view key;
    const char* record;
    int slot;
};

// Reads every item's slot and prints the items in order; returns the answer length.
int print_token_line(char* buf, std::span<const slot_item> items);

// Applies a token line "key1:v1 key2:v2 ..." with the keys of items in order: the argument
// needs one colon per item, and is then read as the pattern "key1 %d key2 %d ...". Each value
// that was read is written to its slot, in item order; reading stops at the first part that
// does not match, and the items from there on keep their values.
void apply_token_line(char* arg, int len, std::span<const slot_item> items);

}  // namespace ifc_text
