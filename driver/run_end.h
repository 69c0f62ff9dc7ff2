// Ending the process. A failure to read or to compute ends the run where it is
// met, with a fixed message; a failed output is returned to the driver
// (OutputFailure), which prints its message and ends the run.
#pragma once

// Exit statuses of a run.
constexpr int kStatusComplete = 0;   // every output file written in full
constexpr int kStatusDataError = 1;  // bad sequence data, bad length, no memory
constexpr int kStatusIoError = 2;    // usage error, a file that cannot be opened, read or written

// Prints text (no line end added) on standard output, flushes, and exits with status.
[[noreturn]] void EndRun(const char* text, int status);

// printf-style variant of EndRun: formats on standard output, flushes, exits with status.
[[noreturn]] void EndRunFormatted(int status, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
