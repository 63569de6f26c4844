#include "lib/mprint.h"

#include <cstdio>

int mprnP = 0;
char mprnD[mprint_buffer_size] = {};

namespace {

// Buffering is on exactly while the switch holds this value.
constexpr int buffering_on = 0xABCD;
int mprint_chg = 0;

// The write position brought back inside the buffer, with room for at least the NUL, should
// a caller have moved it.
int write_position() {
    if (mprnP < 0) return 0;
    if (mprnP > mprint_buffer_size - 1) return mprint_buffer_size - 1;
    return mprnP;
}

// Formats into the buffer at pos when the text and its NUL fit in the room left. Returns the
// length formatted, or -1 when it does not fit or cannot be formatted; the held text before
// pos is untouched either way (a text that did not fit may leave bytes after pos).
int append_if_room(int pos, const char* format, va_list args) {
    va_list attempt;
    va_copy(attempt, args);
    const std::size_t room = static_cast<std::size_t>(mprint_buffer_size - pos);
    const int len = std::vsnprintf(mprnD + pos, room, format, attempt);
    va_end(attempt);
    if (len < 0 || static_cast<std::size_t>(len) >= room) return -1;
    return len;
}

}  // namespace

void mprint_push() {
    mprnP = 0;
    mprint_chg = buffering_on;
}

void MorPrintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    if (mprint_chg != buffering_on) {
        std::vprintf(format, args);
        va_end(args);
        return;
    }
    int pos = write_position();
    int len = append_if_room(pos, format, args);
    if (len < 0 && pos > 0) {
        // Flush first: the held text goes out, and the new text is tried again in the whole
        // emptied buffer.
        mprnP = pos;
        mprint_pull();
        mprint_push();
        pos = 0;
        len = append_if_room(pos, format, args);
    }
    if (len < 0) {
        // Longer than the whole buffer (or not formattable): printed at once, behind the
        // text already flushed, and buffering goes on with an empty buffer.
        std::vprintf(format, args);
        mprnP = 0;
        va_end(args);
        return;
    }
    va_end(args);
    mprnP = pos + len;
    if (mprnP > mprint_flush_threshold) {
        mprint_pull();
        mprint_push();
    }
}

void mprint_pull() {
    mprint_chg = 0;
    const int pos = write_position();
    mprnD[pos] = '\0';
    std::fputs(mprnD, stdout);
    mprnP = 0;
}

void mprint_pull_log() {
    mprint_pull();
    std::FILE* log = std::fopen("mprint.log", "a");
    if (log == nullptr) return;
    std::fprintf(log, "%s\n\n", mprnD);
    std::fclose(log);
}

int SorPrintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int printed = std::vprintf(format, args);
    va_end(args);
    return printed;
}

int vSorPrintf(const char* format, va_list args) {
    return std::vprintf(format, args);
}

void sprint_push() {}
void sprint_pull() {}
