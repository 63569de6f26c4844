// The message buffer: formatted text held back and released to standard output in one piece,
// and the plain formatted output with the same calling pattern but no buffering.
//
//   mprint_push();                 // start buffering, empty buffer
//   MorPrintf("%s:%d ", name, v);  // appended while buffering, printed at once otherwise
//   mprint_pull();                 // stop buffering, print everything held back
//
// A program can use SorPrintf, sprint_push and sprint_pull in the same places to print at
// once instead. Single-threaded use only: the buffer and its state are plain globals.
#pragma once

#include <cstdarg>

inline constexpr int mprint_buffer_size = 100000;
// An append that moves the write position beyond this flushes the buffer and buffering goes
// on with an empty buffer. The bytes above it are the headroom for one append.
inline constexpr int mprint_flush_threshold = 98000;

// Write position: the number of text bytes held in mprnD. Callers read it; the routines below
// keep it inside the buffer even if it was set to something else from outside.
extern int mprnP;
// The buffer: the held text is its first mprnP bytes, then a NUL. After mprint_pull the text
// just printed stays readable from the start of the buffer until the next append.
extern char mprnD[mprint_buffer_size];

// Starts buffering with an empty buffer (the old bytes are not cleared).
void mprint_push();

// Appends the formatted text (printf conventions) while buffering is on, else prints it at
// once. Once the held text is longer than mprint_flush_threshold it is printed and buffering
// continues with an empty buffer. A text that does not fit in the room left is never cut or
// written past the buffer: the held text is printed first, then the new text goes into the
// emptied buffer, or, when it is longer than the whole buffer, straight to standard output.
// Either way the output keeps the order of the calls.
void MorPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Stops buffering and prints the held text (nothing when the buffer is empty).
void mprint_pull();

// As mprint_pull, then appends the same text and two line feeds to "mprint.log" in the
// working directory. When that file cannot be opened the log is skipped without a message.
void mprint_pull_log();

// Print the formatted text at once; the result is that of vprintf (characters printed).
int SorPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
int vSorPrintf(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

// Counterparts of mprint_push and mprint_pull for the unbuffered routines: they do nothing.
void sprint_push();
void sprint_pull();
