// Other programs run as subprocesses: found on PATH, started with their
// arguments as a vector (never through a shell), their messages kept.
#pragma once

#include <string>
#include <vector>

// The path of the executable file name in the first directory of PATH that has
// one ("/usr/bin:/bin" when PATH is unset), or "" when none does. A name with a
// '/' is returned as it is when it is executable, else "".
std::string FindProgram(const std::string& name);

// Runs the program at arguments[0] (a path) with arguments[1..], its standard
// input from /dev/null, its standard output discarded and its standard error
// kept in *messages (at most 64 KiB). Waits for it to end, at most
// time_limit_seconds: a program still running then is killed (SIGKILL). Returns
// its exit status, 128 + the signal number when a signal ended it, or -1 with
// *messages the reason when it could not be started or was killed at the limit
// ("did not finish within <S> s").
int RunProgram(const std::vector<std::string>& arguments, std::string* messages, double time_limit_seconds);

// A private directory for a subprocess's files ("rnaqubo-XXXXXX" under TMPDIR,
// else /tmp), removed with the files in it when the object goes.
class ScratchDirectory {
 public:
  // Creates the directory; throws Failure (kFile) naming it when it cannot.
  ScratchDirectory();
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  // The path of name inside the directory.
  std::string File(const std::string& name) const;

 private:
  std::string path_;
};

// The first line of text, without line end, at most 300 bytes ("" for "").
std::string FirstLine(const std::string& text);
