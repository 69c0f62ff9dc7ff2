#include "python/sequence_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "core/sequence_reader.h"
#include "core/failure.h"
#include "core/shown_text.h"
#include "core/whole_file.h"

namespace {

// The whole content of the file at path; a failure throws FileFailure.
std::string ReadFileText(const std::string& path) {
  std::string text;
  if (!ReadWholeFile(path.c_str(), &text)) throw Failure(FailureKind::kFile, "Could not read from Q file!", path, errno);
  return text;
}

[[noreturn]] void FailContent(const std::string& path, const std::string& message) {
  throw Failure(FailureKind::kData, path + ": " + message);
}

}  // namespace

std::string ReadRnaquboSequenceFile(const std::string& path) {
  const std::string text = ReadFileText(path);
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  // The count first (a scan for no letters stops at it), then the letters.
  ByteStream in = MemoryStream(bytes, text.size());
  int32_t count = 0;
  bool count_read = false;
  std::vector<char> buffer(2, 0);
  SequenceOutcome outcome = ScanSequence(&in, 0, buffer.data(), &count, &count_read);
  if (outcome == SequenceOutcome::kNoCount) FailContent(path, "Nothing read from Sequence");
  if (count < 1) FailContent(path, "Error in sequence length " + std::to_string(count));
  // Each base takes a character and a separator: a count beyond that cannot be met.
  if (static_cast<size_t>(count) > text.size() / 2 + 1) FailContent(path, "Nothing read from Sequence");
  buffer.assign(static_cast<size_t>(count) + 2, 0);
  in = MemoryStream(bytes, text.size());
  outcome = ScanSequence(&in, count, buffer.data(), &count, &count_read);
  switch (outcome) {
    case SequenceOutcome::kComplete:
      return std::string(buffer.data() + 1, static_cast<size_t>(count));
    case SequenceOutcome::kBadWord: {
      size_t end = in.position;
      while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end]))) ++end;
      FailContent(path, "Invalid gene base read: " + ShowBadWord(bytes + in.position, end - in.position, false));
    }
    default:
      FailContent(path, "Nothing read from Sequence");
  }
}

std::string NormaliseSequenceText(const std::string& text, const LetterPolicy& policy) {
  SequenceRecord record;
  ReadFailure failure;
  if (!NormaliseLetters(text, policy, &record, &failure)) {
    // The rules name the record ("record <name>: "); a string has none.
    std::string message = failure.message;
    const std::string unnamed = "record : ";
    if (message.rfind(unnamed, 0) == 0) message.erase(0, unnamed.size());
    throw Failure(FailureKind::kData, message);
  }
  return record.letters;
}

std::string ReadSequenceFileLetters(const std::string& path, const RecordChoice& choice,
                                    const LetterPolicy& policy, std::string* name) {
  // Opened here first, so that a missing or unreadable file is an OSError of its kind.
  int fd;
  do {
    fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) throw Failure(FailureKind::kFile, "Could not read from Q file!", path, errno);
  struct stat info;
  const bool directory = fstat(fd, &info) == 0 && S_ISDIR(info.st_mode);
  close(fd);
  if (directory) throw Failure(FailureKind::kFile, "Could not read from Q file!", path, EISDIR);

  SequenceFileKind kind;
  ReadFailure failure;
  if (!DetectSequenceFileKind(path.c_str(), &kind, &failure)) throw Failure(failure.status == 2 ? FailureKind::kFile : FailureKind::kData, failure.message);
  name->clear();
  if (kind != SequenceFileKind::kFastaOrFastq) {
    if (choice.kind != ChoiceKind::kFirst) {
      FailContent(path, "a record is chosen, but the file is in rnaqubo's input format, which holds one sequence");
    }
    return ReadRnaquboSequenceFile(path);
  }
  SequenceRecord record;
  if (!ReadSequenceRecord(path.c_str(), choice, policy, &record, &failure)) {
    throw Failure(failure.status == 2 ? FailureKind::kFile : FailureKind::kData, failure.message);
  }
  *name = record.name;
  return record.letters;
}
