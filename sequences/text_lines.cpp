#include "sequences/text_lines.h"

#include <htslib/bgzf.h>
#include <htslib/hts.h>
#include <htslib/hts_log.h>
#include <htslib/kstring.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/shown_text.h"

struct LineFile {
  std::string path;
  std::string what;
  BGZF* file = nullptr;
  kstring_t line = KS_INITIALIZE;
  int64_t lines_read = 0;
};

namespace {

[[noreturn]] void FailUnreadable(const std::string& path, const std::string& what, int error) {
  throw SequenceFailure(SequenceFailureKind::kUnreadable,
                        ShowText(path) + ": " + what + ": cannot read: " + std::strerror(error), path, error);
}

}  // namespace

void LineFileCloser::operator()(LineFile* file) const {
  if (file == nullptr) return;
  if (file->file != nullptr) bgzf_close(file->file);
  free(file->line.s);
  delete file;
}

LineFilePointer OpenLineFile(const char* path, const char* what) {
  hts_set_log_level(HTS_LOG_OFF);
  struct stat info;
  if (stat(path, &info) != 0) FailUnreadable(path, what, errno);
  if (S_ISDIR(info.st_mode)) FailUnreadable(path, what, EISDIR);
  LineFilePointer file(new LineFile{path, what});
  errno = 0;
  file->file = bgzf_open(path, "r");
  if (file->file == nullptr) FailUnreadable(path, what, errno != 0 ? errno : EIO);
  return file;
}

LineFilePointer OpenStandardInputLines(const char* what) {
  hts_set_log_level(HTS_LOG_OFF);
  const int fd = dup(STDIN_FILENO);
  if (fd < 0) FailUnreadable("-", what, errno);
  LineFilePointer file(new LineFile{"-", what});
  errno = 0;
  file->file = bgzf_dopen(fd, "r");
  if (file->file == nullptr) {
    const int error = errno != 0 ? errno : EIO;
    close(fd);
    FailUnreadable("-", what, error);
  }
  return file;
}

bool ReadLine(LineFile* file, std::string* line) {
  const int got = bgzf_getline(file->file, '\n', &file->line);
  if (got == -1) {
    // A bgzip file cut at a block boundary reads as complete but for its
    // end-of-file block: the records after the cut would be lost unnoticed.
    if (bgzf_compression(file->file) == bgzf && bgzf_check_EOF(file->file) == 0) {
      throw SequenceFailure(SequenceFailureKind::kCorrupt,
                            ShowText(file->path) + ": the bgzip file is truncated (no end-of-file block)");
    }
    return false;
  }
  if (got < -1) {
    if (bgzf_compression(file->file) != no_compression) {
      throw SequenceFailure(SequenceFailureKind::kCorrupt,
                            ShowText(file->path) + ": the compressed data is damaged or truncated");
    }
    FailUnreadable(file->path, file->what, errno != 0 ? errno : EIO);
  }
  ++file->lines_read;
  size_t length = file->line.l;
  if (length > 0 && file->line.s[length - 1] == '\r') --length;
  line->assign(file->line.s, length);
  return true;
}

int64_t LinesRead(const LineFile* file) { return file->lines_read; }
