#include "lib/diag.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace diag {

void out(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
}

void out_line(std::string_view text) {
    out(text);
    std::fputc('\n', stdout);
}

void out_line_escaped(std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            std::fprintf(stdout, "\\x%02x", byte);
        } else {
            std::fputc(c, stdout);
        }
    }
    std::fputc('\n', stdout);
}

void out_printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
}

void flush_out() {
    std::fflush(stdout);
}

void err(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
}

void err_printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

void err_perror(const char* what) {
    const int error = errno;
    err_printf("%s: %s\n", what, std::strerror(error));
}

}  // namespace diag
