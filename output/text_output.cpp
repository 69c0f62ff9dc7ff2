#include "output/text_output.h"

#include <cerrno>
#include <charconv>

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
  text_.reserve(kBlock + 128);
}

TextOutput::~TextOutput() { DiscardOutputFile(&file_); }

void TextOutput::Add(const char* text, size_t size) {
  text_.append(text, size);
  if (text_.size() >= kBlock) Flush();
}

void TextOutput::AddLine(std::initializer_list<int64_t> numbers, const char* separator, size_t separator_size) {
  char line[128];
  char* out = line;
  bool first = true;
  for (int64_t number : numbers) {
    if (!first) out = AppendBytes(out, separator, separator_size);
    first = false;
    out = std::to_chars(out, line + sizeof line, number).ptr;
  }
  *out++ = '\n';
  Add(line, static_cast<size_t>(out - line));
}

void TextOutput::Flush() {
  if (!text_.empty() && !WriteOutputBytes(&file_, text_.data(), text_.size())) Fail();
  text_.clear();
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
