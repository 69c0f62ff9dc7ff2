#include "formats/text_output.h"

#include <cerrno>
#include <charconv>
#include <cstring>

namespace {

// Bytes gathered before a write.
constexpr size_t kBlock = 1 << 20;

}  // namespace

TextOutput::TextOutput(const std::string& name, const std::vector<KeptFile>& inputs) : name_(name) {
  for (const KeptFile& input : inputs) {
    if (input.known && OutputWouldReplace(name, input)) {
      throw OutputFileFailure(OutputStage::kOpen, EEXIST, kInputOverwriteReason, name);
    }
  }
  StartOutputFile(name, nullptr, &file_);
  text_.resize(kBlock);
}

TextOutput::~TextOutput() { DiscardOutputFile(&file_); }

char* TextOutput::Reserve(size_t bytes) {
  if (used_ + bytes > text_.size()) {
    Flush();
    if (bytes > text_.size()) text_.resize(bytes);
  }
  return text_.data() + used_;
}

void TextOutput::Add(const char* text, size_t size) {
  char* at = Reserve(size);
  std::memcpy(at, text, size);
  used_ += size;
}

void TextOutput::AddLine(std::initializer_list<int64_t> numbers, const char* separator, size_t separator_size) {
  char* const line = Reserve(128);
  char* out = line;
  bool first = true;
  for (int64_t number : numbers) {
    if (!first) out = AppendBytes(out, separator, separator_size);
    first = false;
    out = std::to_chars(out, line + 127, number).ptr;
  }
  *out++ = '\n';
  Advance(out);
}

void TextOutput::Flush() {
  if (used_ > 0 && !WriteOutputBytes(&file_, text_.data(), used_)) Fail();
  used_ = 0;
}

void TextOutput::Commit() {
  Flush();
  if (!CommitOutputFile(&file_)) Fail();
}

void TextOutput::Fail() {
  const int error = errno != 0 ? errno : EIO;
  DiscardOutputFile(&file_);
  throw OutputFileFailure(OutputStage::kWrite, error, nullptr, name_);
}

void WriteTextFile(const std::string& name, const std::string& text, const std::vector<KeptFile>& inputs) {
  TextOutput file(name, inputs);
  file.Add(text);
  file.Commit();
}
