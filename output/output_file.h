// Output files that appear complete or not at all. Each file is written under a
// temporary name in the directory of its final name and renamed onto the final
// name only once every byte is written and the file is closed. A failure, or a
// termination signal, removes the temporary file and leaves any earlier file of
// the final name untouched.
#pragma once

#include <cstddef>
#include <string>

// An output file being written.
struct OutputFile {
  int fd;                  // descriptor of the temporary file, -1 when closed
  std::string final_name;  // the name the file takes once complete
  std::string temp_name;   // the name it is written under
};

// Installs the handlers that remove the temporary file being written on SIGINT,
// SIGTERM, SIGHUP and SIGPIPE and end with status 128 + signal number, and ignores
// SIGXFSZ so that a file size limit shows as a failed write.
void InstallTerminationHandlers();

// Starts the file that will be named final_name. Returns false, with errno set,
// if it cannot be created there, or if a directory stands at final_name.
bool OpenOutputFile(const std::string& final_name, OutputFile* file);

// Writes size bytes at data. Returns false if any of them could not be written.
bool WriteOutputBytes(OutputFile* file, const char* data, size_t size);

// Closes the file and renames it onto its final name. Returns false (and removes
// the temporary file) if the close or the rename fails.
bool CommitOutputFile(OutputFile* file);

// Closes and removes the temporary file.
void DiscardOutputFile(OutputFile* file);

// Removes the temporary file, prints "Could not write to file!\n" on standard
// output and ends the run with status 2.
[[noreturn]] void FailOutputFile(OutputFile* file);

// Appends the decimal text of value at out; returns the end of the text.
char* AppendDecimal(char* out, int value);

// Appends text (a constant) at out; returns the end.
inline char* AppendBytes(char* out, const char* text, size_t size) {
  for (size_t k = 0; k < size; ++k) out[k] = text[k];
  return out + size;
}
