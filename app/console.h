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
