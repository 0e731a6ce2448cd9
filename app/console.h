// Console output: printf-style text on standard output, written through at
// once so that every line (and the carriage-return status line) shows when
// it is printed. Nothing goes to standard error.
#pragma once

#if defined(__GNUC__)
#define SPI_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define SPI_PRINTF_FORMAT(fmt, args)
#endif

void Print(const char* format, ...) SPI_PRINTF_FORMAT(1, 2);

// True once a print found standard output's reader gone (a closed pipe,
// platform::TakeBrokenPipeAsError); the run then ends in order.
bool ConsoleClosed();

// Prints text as the console's last words: waits for a Print under way to
// finish, prints text, and from then on every Print blocks for good, so that
// nothing can follow text while the process ends. For the end of a run
// (interrupt.h).
void PrintLast(const char* text);
