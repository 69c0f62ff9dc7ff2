#include "sequences/dbn_records.h"

#include <htslib/bgzf.h>
#include <htslib/hts.h>
#include <htslib/hts_log.h>
#include <htslib/kstring.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

std::string TrimLine(const char* text, size_t length) {
  size_t begin = 0;
  while (begin < length && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (length > begin && (text[length - 1] == ' ' || text[length - 1] == '\t' ||
                            text[length - 1] == '\r')) {
    --length;
  }
  return std::string(text + begin, length - begin);
}

std::string FirstWord(const std::string& text) {
  const size_t end = text.find_first_of(" \t");
  return end == std::string::npos ? text : text.substr(0, end);
}

}  // namespace

bool ReadDbnRecords(const char* path, std::vector<DbnRecord>* records, ReadFailure* failure) {
  hts_set_log_level(HTS_LOG_OFF);
  records->clear();
  struct stat info;
  if (stat(path, &info) != 0) {
    return Fail(failure, SequenceFailureKind::kUnreadable, kSeqStatusFileError,
                std::string(path) + ": cannot open: " + std::strerror(errno));
  }
  if (S_ISDIR(info.st_mode)) {
    return Fail(failure, SequenceFailureKind::kUnreadable, kSeqStatusFileError,
                std::string(path) + ": cannot read: it is a directory");
  }
  BGZF* file = bgzf_open(path, "r");
  if (file == nullptr) {
    return Fail(failure, SequenceFailureKind::kUnreadable, kSeqStatusFileError,
                std::string(path) + ": cannot open: " + std::strerror(errno));
  }
  kstring_t line = KS_INITIALIZE;
  int64_t line_number = 0;
  int fields = 0;  // lines of the current record read after its header
  bool ok = true;
  int got = 0;
  auto bad = [&](const std::string& what) {
    ok = Fail(failure, SequenceFailureKind::kBadStructure, kSeqStatusDataError,
              std::string(path) + ": line " + std::to_string(line_number) + ": " + what);
  };
  while (ok && (got = bgzf_getline(file, '\n', &line)) >= 0) {
    ++line_number;
    const std::string text = TrimLine(line.s, line.l);
    if (text.empty()) continue;
    if (text[0] == '>') {
      if (!records->empty() && fields < 2) {
        bad("the record " + records->back().name + " has no " +
            (fields == 0 ? "sequence" : "structure") + " line");
        break;
      }
      records->push_back(DbnRecord{FirstWord(TrimLine(text.c_str() + 1, text.size() - 1)), "", ""});
      fields = 0;
    } else if (records->empty()) {
      bad("expected a '>' header line");
    } else if (fields == 0) {
      records->back().sequence = text;
      fields = 1;
    } else if (fields == 1) {
      records->back().structure = FirstWord(text);
      fields = 2;
    } else {
      bad("the record " + records->back().name +
          " has more than a sequence line and a structure line");
    }
  }
  if (ok && got < -1) {
    ok = bgzf_compression(file) != no_compression
             ? Fail(failure, SequenceFailureKind::kCorrupt, kSeqStatusDataError,
                    std::string(path) + ": the compressed data is damaged or truncated")
             : Fail(failure, SequenceFailureKind::kUnreadable, kSeqStatusFileError,
                    std::string(path) + ": cannot read: " + std::strerror(errno));
  }
  if (ok && records->empty()) {
    ok = Fail(failure, SequenceFailureKind::kNotSequences, kSeqStatusDataError,
              std::string(path) + ": no dot-bracket record found");
  } else if (ok && fields < 2) {
    ok = Fail(failure, SequenceFailureKind::kBadStructure, kSeqStatusDataError,
              std::string(path) + ": the file ends before the " +
                  (fields == 0 ? "sequence" : "structure") + " line of the record " +
                  records->back().name);
  }
  free(line.s);
  bgzf_close(file);
  return ok;
}
