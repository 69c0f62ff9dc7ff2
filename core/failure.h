// The one failure type of the libraries. Library code never prints and never
// ends the process: every failure it meets is thrown as a Failure (or a type
// derived from it that carries more detail), and each tool's main turns it into
// the tool's message and exit status. The standard library's own std::bad_alloc
// may also pass through; mains report it as a shortage of memory.
#pragma once

#include <stdexcept>
#include <string>

// What went wrong, which decides the exit status (see FailureStatus).
enum class FailureKind {
  kData,    // bad content: a sequence, a selection, a structure, a count (status 1)
  kMemory,  // a table or buffer cannot be had, or a size exceeds 32 bits (status 1)
  kFile,    // a file that cannot be opened, read or written (status 2)
  kUsage,   // a command line or an argument that cannot start a run (status 2)
};

// A failure: its kind, a message without line end, and for a file failure the
// path and errno (0 when none applies). The message of a library failure is the
// text after the program's prefix: "file: what: reason" where a file is involved.
class Failure : public std::runtime_error {
 public:
  Failure(FailureKind kind, const std::string& message, std::string path = {}, int error_number = 0)
      : std::runtime_error(message), kind_(kind), path_(std::move(path)), error_number_(error_number) {}
  FailureKind kind() const { return kind_; }
  const std::string& path() const { return path_; }
  int error_number() const { return error_number_; }

 private:
  FailureKind kind_;
  std::string path_;
  int error_number_;
};

// The exit status a failure of kind ends a tool with: 1 for data and memory, 2
// for files and usage.
int FailureStatus(FailureKind kind);
