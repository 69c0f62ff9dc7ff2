// Failures that are thrown instead of ending the process. In rnaqubo the
// procedures of driver/run_end.h and the allocators of driver/index_arrays.h end
// the process; the Python module and rnaqubo-fold link the versions in
// thrown_failures.cpp instead, which throw the exceptions below. Every table they
// allocate belongs to the current TableArena, if any, which frees it, so that a
// model of the module lives exactly as long as the Python object holding it.
#pragma once

#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

// A failure that ends a run of the executables with status (1: bad data,
// 2: a file that cannot be read or written), carrying the tool's message
// without its line end.
class RunFailure : public std::runtime_error {
 public:
  RunFailure(const std::string& message, int status) : std::runtime_error(message), status_(status) {}
  int status() const { return status_; }

 private:
  int status_;
};

// A file that cannot be opened, read or written: errno, the path and what was tried.
class FileFailure : public std::runtime_error {
 public:
  FileFailure(const std::string& message, int error_number, const std::string& path)
      : std::runtime_error(message), error_number_(error_number), path_(path) {}
  int error_number() const { return error_number_; }
  const std::string& path() const { return path_; }

 private:
  int error_number_;
  std::string path_;
};

// The tool's message for a table that cannot be allocated.
constexpr const char* kArrayAllocationFailure = "Memory allocation problem in AllocateIntArray";

// A table that cannot be allocated, with the tool's message
// ("Memory allocation problem in AllocateIntArray", ...).
class TableAllocationFailure : public std::bad_alloc {
 public:
  explicit TableAllocationFailure(const char* message) : message_(message) {}
  const char* what() const noexcept override { return message_; }

 private:
  const char* message_;  // a string constant
};

// Owns the tables allocated while it is current (see CurrentArena) and frees them
// when destroyed.
class TableArena {
 public:
  TableArena() = default;
  TableArena(const TableArena&) = delete;
  TableArena& operator=(const TableArena&) = delete;
  ~TableArena();

  // Takes block (from calloc) into the arena; frees it and throws
  // TableAllocationFailure(message) if the arena cannot record it. Any thread.
  void Adopt(void* block, const char* message);

 private:
  std::mutex lock_;
  std::vector<void*> blocks_;
};

// While an object of this class lives, every table allocated on any thread goes
// to arena (nested guards restore the earlier arena). Without one, tables are
// never freed, as in the executables.
class CurrentArena {
 public:
  explicit CurrentArena(TableArena* arena);
  CurrentArena(const CurrentArena&) = delete;
  CurrentArena& operator=(const CurrentArena&) = delete;
  ~CurrentArena();

 private:
  TableArena* previous_;
};
