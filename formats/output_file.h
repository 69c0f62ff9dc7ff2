// Output files that appear complete or not at all. Where the file system allows
// it, a file is created unnamed (O_TMPFILE) in the directory of its final name,
// so that a process killed at any point leaves nothing behind; once every byte
// is written it is linked under a fresh temporary name and renamed onto the
// final name, which replaces an earlier file atomically. Elsewhere the file is
// written under a named temporary ".rnaqubo-<pid>-<random>.tmp" in that
// directory and renamed the same way. A failure, or a termination signal,
// removes the temporary file and leaves any earlier file of the final name
// untouched.
//
// A final name that is a symbolic link keeps the link: the file it leads to is
// replaced, the same way, in that file's directory (a dangling link's target is
// created). A final name that leads to something other than a regular file (a
// FIFO, a device such as /dev/null, or a descriptor under /proc such as
// /dev/stdout) is written in place: no temporary, and committing is closing.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <string>

#include "core/failure.h"

// An output file being written.
struct OutputFile {
  int fd = -1;             // descriptor of the file being written, -1 when closed
  std::string final_name;  // the name the file takes once complete
  std::string temp_name;   // its temporary name; empty while the file is unnamed
  std::string target_name; // final_name with its links followed: the name the rename replaces
  bool direct = false;     // written in place (FIFO, device, /proc descriptor); commit closes
};

// The stage at which an output could not be produced.
enum class OutputStage {
  kOpen,    // the file could not be started under its final name
  kWrite,   // a write, close, link or rename failed, or a formatting thread failed
  kMemory,  // a table or buffer could not be had (nothing was created)
};

// The failure of an output, thrown by the writers (StartOutputFile, the Q file
// and the listings) after the partial file is removed. Its kind is kMemory for
// stage kMemory, else kFile; path() is the final name (empty for kMemory),
// error_number() the errno of the failed call (ENOMEM for kMemory). The message
// is kArrayAllocationFailure for kMemory, else "<final name>: cannot write:
// <Explanation()>".
class OutputFileFailure : public Failure {
 public:
  OutputFileFailure(OutputStage stage, int error, const char* reason, const std::string& final_name);
  OutputStage stage() const { return stage_; }
  // The fixed text that replaces the system's text of the error, or nullptr.
  const char* reason() const { return reason_; }
  // The text that explains the failure: its reason, else the system's text of its error.
  const char* Explanation() const;

 private:
  OutputStage stage_;
  const char* reason_;
};

// The file an output must never replace (the run's input): device and inode.
struct KeptFile {
  bool known = false;  // false: nothing to protect (the path could not be examined)
  dev_t device = 0;
  ino_t inode = 0;
};

// Reason of an open refused because the final name is the run's input file.
extern const char* const kInputOverwriteReason;

// Reason of an open refused because another run holds the target's lock.
extern const char* const kTargetBusyReason;

// The message rnaqubo prints on standard output for failure: "Could not write
// to file!\n", or "Memory allocation problem in AllocateIntArray" for kMemory.
const char* OutputFailureMessage(const OutputFileFailure& failure);

// Identifies the file at path, following links; known stays false if it cannot
// be examined.
KeptFile IdentifyKeptFile(const char* path);

// Installs the handlers that remove the temporary file being written on every
// terminating signal (SIGINT, SIGTERM, SIGHUP and SIGPIPE end with status
// 128 + signal number, as do the other signals that end a process by default;
// those that dump core still do so), and ignores SIGXFSZ so that a file size
// limit shows as a failed write.
void InstallTerminationHandlers();

// Whether the file system can hold final_name: the whole path within PATH_MAX
// and its last component within its directory's limit on name length.
bool OutputNameFits(const std::string& final_name);

// Starts the file that will be named final_name. Before anything is created it
// refuses a final name that the file system cannot hold (ENAMETOOLONG), a
// directory at final_name (EISDIR), more than 40 links in a row (ELOOP) and,
// when kept is given, a final name that is that file (reason
// kInputOverwriteReason, errno EEXIST). Throws OutputFileFailure (stage kOpen,
// or kMemory when the names cannot be had) on any refusal or failure, with
// file closed.
void StartOutputFile(const std::string& final_name, const KeptFile* kept, OutputFile* file);

// Whether final_name names the kept file now (following links).
bool OutputWouldReplace(const std::string& final_name, const KeptFile& kept);

// size bytes to format an output in, owned by the caller, or nullptr when
// memory is short; never throws.
std::unique_ptr<char[]> AllocateOutputBuffer(size_t size);

// Writes size bytes at data. Returns false, with errno set, if any of them could
// not be written.
bool WriteOutputBytes(OutputFile* file, const char* data, size_t size);

// Gives the complete file its final name, replacing an earlier file of that
// name, and closes it (a file written in place is only closed). Returns false,
// with errno set, and removes the temporary file if the close, the link or the
// rename fails.
bool CommitOutputFile(OutputFile* file);

// Closes and removes the file being written. Safe to call twice.
void DiscardOutputFile(OutputFile* file);

// Removes the named temporary being written, if any; for a last-resort handler
// that ends the process.
void RemoveActiveTemporary();

// Holds off every terminating signal for its lifetime, as the writers do while
// they give a file its name: one that arrives meanwhile is acted on once the
// block ends.
struct TerminationBlock {
  sigset_t saved;
  TerminationBlock();
  TerminationBlock(const TerminationBlock&) = delete;
  TerminationBlock& operator=(const TerminationBlock&) = delete;
  ~TerminationBlock();
};

// Names a file that a terminating signal removes besides the temporary being
// written (slot 0 to 3: a multi-file commit's staged files and its lock file);
// nullptr empties the slot. The name must stay valid while it is set.
void SetSignalCleanup(int slot, const char* name);

// Marks one step of a multi-file commit. In test builds, the step numbered
// RNAQUBO_TEST_SIGNAL_STEP (counted from 1 over the process) sends the process
// the signal numbered RNAQUBO_TEST_SIGNAL, so that a test can stop a commit at
// every point it chooses; in the shipped programs it does nothing.
void PassTestStep();

// Appends the decimal text of value at out; returns the end of the text.
char* AppendDecimal(char* out, int value);

// Appends text (a constant) at out; returns the end.
inline char* AppendBytes(char* out, const char* text, size_t size) {
  for (size_t k = 0; k < size; ++k) out[k] = text[k];
  return out + size;
}
