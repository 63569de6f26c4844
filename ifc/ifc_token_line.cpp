#include "ifc/ifc_token_line.h"

#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "ifc/ifc_net.h"
#include "lib/text_scan.h"
#include "protocol/protocol.h"

namespace ifc_text {

namespace {
// An answer must fit in the transfer buffer; the terminating NUL may take the byte after it.
constexpr int answer_capacity = protocol::max_payload + 1;
// No token line has more items than the selection answer.
constexpr std::size_t max_items = 32;
}  // namespace

void answer::add(const char* format, ...) {
    const int room = answer_capacity - len_;
    if (room <= 1) return;
    std::va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buf_ + len_, static_cast<std::size_t>(room), format, args);
    va_end(args);
    if (n > 0) len_ += n < room ? n : room - 1;
}

void answer::item(std::string_view key, std::int32_t value) {
    add("%.*s:%d ", static_cast<int>(key.size()), key.data(), static_cast<int>(value));
}

std::string_view terminate(char* arg, int len) {
    if (len < 0) return {};
    arg[len] = '\0';
    return std::string_view(arg, ::strnlen(arg, static_cast<std::size_t>(len)));
}

bool colons_to_blanks(char* arg, int len, int count) {
    if (len <= 0) return false;
    for (int i = 0; i < count; ++i) {
        auto* colon = static_cast<char*>(std::memchr(arg, ':', static_cast<std::size_t>(len)));
        if (colon == nullptr) return false;
        *colon = ' ';
    }
    return true;
}

std::int32_t read_slot(const char* record, int slot, std::int32_t fallback) {
    std::int32_t value = 0;
    return Ifc_SetRead(record, &value, slot) == 0 ? value : fallback;
}

int print_token_line(char* buf, std::span<const slot_item> items) {
    answer text(buf);
    for (const auto& item : items) {
        text.item(item.key, read_slot(item.record, item.slot));
    }
    return text.length();
}

void apply_token_line(char* arg, int len, std::span<const slot_item> items) {
    const std::string_view text = terminate(arg, len);
    if (items.size() > max_items) return;
    if (!colons_to_blanks(arg, len, static_cast<int>(items.size()))) return;

    // Numbers beyond the int32 range are read as the nearest limit (2147483647 or
    // -2147483648) and stored as such: the C library's %d leaves that case undefined, and a
    // saturated value is at least the one the operator was heading for.
    std::array<std::int32_t, max_items> values{};
    std::size_t parsed = 0;
    text_scanner scan(text);
    for (const auto& item : items) {
        if (parsed > 0) scan.skip_space();
        if (!scan.literal(item.key)) break;
        if (!scan.read_int(values[parsed])) break;
        ++parsed;
    }
    // A value that was not read is never written.
    for (std::size_t i = 0; i < parsed; ++i) {
        Ifc_SetWrite(items[i].record, values[i], items[i].slot);
    }
}

}  // namespace ifc_text
