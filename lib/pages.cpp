#include "lib/pages.h"

#include <cstdarg>
#include <cstdio>

int is_show_debinfo_first = 0;

namespace {

// puts adds the final line feed: header line and empty line, each ended by CR LF.
constexpr const char* plain_header = "content-type: text/plain\r\n\r";
constexpr const char* html_header = "content-type: text/html\r\n\r";

int show_plain(const char* format, va_list args) {
    if (is_show_debinfo_first == 1) {
        std::puts(plain_header);
        is_show_debinfo_first = 0;
    }
    return std::vprintf(format, args);
}

// frame is "" for the page itself or "parent." for its enclosing frame.
void redirect_page(const char* frame, const char* target) {
    std::puts(html_header);
    std::puts("<html>");
    std::printf("<body onload='javascript:%slocation.href=\"%s\";'>\n", frame,
                target != nullptr ? target : "");
    std::fputs("</body></html>", stdout);
}

}  // namespace

void show_debinfo_init() {
    is_show_debinfo_first = 1;
}

int show_debinfo(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int printed = show_plain(format, args);
    va_end(args);
    return printed;
}

int show_text(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int printed = show_plain(format, args);
    va_end(args);
    return printed;
}

void cgi_redirect(const char* target) {
    redirect_page("", target);
}

void cgi_parent_redirect(const char* target) {
    redirect_page("parent.", target);
}
