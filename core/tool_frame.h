// The frame each tool's main runs its body in (rnaqubo-fold, rnaqubo-seq,
// rnaqubo-anneal): the one place where a failure becomes the line the user
// sees, "<program>: <message>" on standard error, and the status the tool ends
// with. A body reports every failure by throwing; standard output is flushed
// and checked on every way out, --help and --version included.
#pragma once

#include <string>
#include <string_view>

#include "core/failure.h"

// The message of a shortage of memory (std::bad_alloc), the same in every tool.
constexpr const char* kMemoryShortage = "Memory allocation problem";

// The line and status a tool gives a failure of one of its own types.
struct ToolFailure {
  std::string message;  // the text after "<program>: "
  int status = 0;       // the exit status
};

// A tool's own wording of failure: fills *shown and returns true for a failure
// of a type the tool words itself, returns false to leave it to the frame.
using FailureWording = bool (*)(const Failure& failure, ToolFailure* shown);

// A tool's body: runs argv[1..argc - 1] to the end, writing its results;
// throws on every failure.
using ToolBody = void (*)(int argc, char** argv);

// Flushes standard output. Throws Failure kFile "standard output: cannot
// write: <reason>" (with its errno; EIO when none is left to tell) if anything
// written to it so far did not reach it.
void FlushStandardOutput();

// Writes "<program>: <message>" and a line end on standard error in one piece
// where it fits, every byte of message outside ' '..'~' as \xHH; allocates
// nothing, so that it works when memory has run out.
void ShowToolLine(const char* program, std::string_view message);

// Runs body(argc, argv), with standard output routed through a stream that
// keeps the reason of its first failed write, and returns the tool's exit status: 0 once the body
// returned and standard output is flushed; otherwise after one line by
// ShowToolLine: for a Failure (OutputFileFailure and every other derived type
// included) its message and FailureStatus(kind), or what wording gives it; for
// std::bad_alloc kMemoryShortage and 1; for another std::exception its text
// ("Unexpected failure" when empty) and 1. Standard output is flushed before
// the line; a failed standard output is the line when nothing else failed.
int RunTool(const char* program, ToolBody body, int argc, char** argv, FailureWording wording = nullptr);
