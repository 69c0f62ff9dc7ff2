#include "tools/rnaqubo-seq/record_files.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "core/shown_text.h"
#include "formats/output_file.h"

std::string FormatInputFile(std::string_view letters) {
  std::string text = std::to_string(letters.size()) + "\n";
  text.reserve(text.size() + 2 * letters.size());
  for (const char letter : letters) {
    text += letter;
    text += '\n';
  }
  return text;
}

std::string FormatDbnFile(const std::string& name, std::string_view letters,
                          std::string_view structure) {
  std::string text = ">" + name + "\n";
  text.append(letters);
  text += '\n';
  text.append(structure);
  text += '\n';
  return text;
}

std::string SafeRecordName(const std::string& name, int64_t index) {
  constexpr size_t kLongestName = 200;
  if (name.empty()) return "record_" + std::to_string(index);
  std::string safe = name.substr(0, kLongestName);
  // Only letters, digits, '.', '_' and '-' are kept: every other byte (path
  // separators, control bytes, white space, quotes, the shell's $ ` * ? [ ] ; & |
  // < > ( ) \ # = ~ ! and Snakemake's wildcard braces { }, bytes of UTF-8)
  // becomes '_', so that a name is safe unquoted in a shell and in a workflow rule.
  for (char& c : safe) {
    const bool kept = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                      c == '_' || c == '-';
    if (!kept) c = '_';
  }
  // A leading '-' would make the file name read as an option by the tools run on it.
  if (safe[0] == '.' || safe[0] == '-') safe[0] = '_';
  if (safe == "manifest.tsv") safe += '_';
  return safe;
}

bool MakeDirectories(const std::string& path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string prefix = path.substr(0, slash);
    if (!prefix.empty() && mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
  }
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return false;
  if (!S_ISDIR(info.st_mode)) {
    errno = ENOTDIR;
    return false;
  }
  return true;
}

void WriteFileAtomically(const std::string& path, std::string_view content, const char* kept_path) {
  const KeptFile kept = kept_path != nullptr ? IdentifyKeptFile(kept_path) : KeptFile{};
  OutputFile file;
  int error = 0;
  try {
    StartOutputFile(path, kept_path != nullptr ? &kept : nullptr, &file);
    if (WriteOutputBytes(&file, content.data(), content.size()) && CommitOutputFile(&file)) return;
    error = errno;
    DiscardOutputFile(&file);
  } catch (const OutputFileFailure& output_failure) {
    if (output_failure.reason() != nullptr) {
      throw SequenceFailure(SequenceFailureKind::kUnreadable,
                            ShowText(path) + ": cannot write: " + output_failure.reason(), path);
    }
    error = output_failure.error_number();
  }
  throw SequenceFailure(SequenceFailureKind::kUnreadable, ShowText(path) + ": cannot write: " + std::strerror(error),
                        path, error);
}
