// Plain-text and redirect pages written to standard output for a web server's gateway: a
// plain-text page starts with its content-type header once, a redirect page is complete.
#pragma once

// While 1, the next show_debinfo or show_text first prints the plain-text content-type
// header ("content-type: text/plain" and an empty line, both ended by CR LF). 0 at start.
extern int is_show_debinfo_first;

// Arms the header for the next show_debinfo or show_text.
void show_debinfo_init();

// Print the header if it is armed (and disarm it), then the formatted text (printf
// conventions). The result is that of vprintf for the formatted text alone. The two are the
// same routine under two names.
int show_debinfo(const char* format, ...) __attribute__((format(printf, 1, 2)));
int show_text(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Print a complete HTML page (with its content-type header) whose body sends the browser to
// the target address: cgi_redirect the page itself, cgi_parent_redirect its enclosing frame.
// The address goes into a JavaScript string inside an HTML attribute unchanged, without any
// escaping: the caller must pass a trusted address (one holding ", ' or < can run script in
// the page). A null address is printed as the empty address.
void cgi_redirect(const char* target);
void cgi_parent_redirect(const char* target);
