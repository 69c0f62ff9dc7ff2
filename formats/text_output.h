// A text output file written in blocks and committed whole (output_file.h):
// tables, listings and the reduced model's files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "formats/output_file.h"

// One output file while it is written; removed unless committed. Every
// failure throws OutputFileFailure naming the file.
class TextOutput {
 public:
  // Starts the file that will be named name; refuses (stage kOpen, reason
  // kInputOverwriteReason) a name that is one of inputs.
  TextOutput(const std::string& name, const std::vector<KeptFile>& inputs);
  TextOutput(const TextOutput&) = delete;
  TextOutput& operator=(const TextOutput&) = delete;
  ~TextOutput();

  // Appends size bytes at text.
  void Add(const char* text, size_t size);
  void Add(const std::string& text) { Add(text.data(), text.size()); }
  // Appends the decimal numbers with separator between them, then a line end.
  void AddLine(std::initializer_list<int64_t> numbers, const char* separator, size_t separator_size);
  // Room for bytes more bytes: where to write them; then Advance(end).
  char* Reserve(size_t bytes);
  void Advance(char* end) { used_ = static_cast<size_t>(end - text_.data()); }
  // Writes what is gathered and gives the file its final name.
  void Commit();

 private:
  void Flush();
  [[noreturn]] void Fail();
  std::string name_;
  OutputFile file_;
  std::vector<char> text_;
  size_t used_ = 0;
};

// Writes text as the whole file name, as TextOutput does.
void WriteTextFile(const std::string& name, const std::string& text, const std::vector<KeptFile>& inputs);
