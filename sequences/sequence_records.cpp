#include "sequences/sequence_records.h"

#include <htslib/bgzf.h>
#include <htslib/faidx.h>
#include <htslib/hts_log.h>
#include <htslib/kseq.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The compressed or plain stream under kseq, with what went wrong while reading it.
struct StreamSource {
  BGZF* file;
  bool read_failed;   // a read returned an error: damaged or truncated data
  bool eof_missing;   // a BGZF file ended without its end-of-file block
};

// kseq's read callback: returns 0 (end of data) on an error and records it.
int ReadSource(StreamSource* source, void* buffer, int size) {
  if (source->read_failed) return 0;
  const ssize_t got = bgzf_read(source->file, buffer, static_cast<size_t>(size));
  if (got < 0) {
    source->read_failed = true;
    return 0;
  }
  if (got == 0 && bgzf_compression(source->file) == bgzf && bgzf_check_EOF(source->file) == 0) {
    source->eof_missing = true;
  }
  return static_cast<int>(got);
}

KSEQ_INIT(StreamSource*, ReadSource)

std::string ErrorText(int error) { return error != 0 ? std::strerror(error) : "read error"; }

// htslib reports problems on standard error by default; this library reports them
// to its caller instead.
void SilenceHtslib() { hts_set_log_level(HTS_LOG_OFF); }

// Checks that path names a readable regular file (or a pipe) and opens it.
BGZF* OpenSequenceFile(const char* path, ReadFailure* failure) {
  SilenceHtslib();
  struct stat info;
  if (std::strcmp(path, "-") == 0) {
    // Standard input: a pipe, read once (never through an index).
  } else if (stat(path, &info) != 0) {
    Fail(failure, SequenceFailureKind::kUnreadable, kSeqStatusFileError,
         std::string(path) + ": cannot open: " + ErrorText(errno));
    return nullptr;
  } else if (S_ISDIR(info.st_mode)) {
    Fail(failure, SequenceFailureKind::kUnreadable, kSeqStatusFileError,
         std::string(path) + ": cannot read: it is a directory");
    return nullptr;
  }
  errno = 0;
  BGZF* file = bgzf_open(path, "r");
  if (file == nullptr) {
    Fail(failure, SequenceFailureKind::kUnreadable, kSeqStatusFileError,
         std::string(path) + ": cannot open: " + ErrorText(errno));
  }
  return file;
}

// The failure for a read error on file: damaged data when the file is compressed,
// an unreadable file otherwise.
bool FailRead(const char* path, BGZF* file, const std::string& where, ReadFailure* failure) {
  if (bgzf_compression(file) != no_compression) {
    return Fail(failure, SequenceFailureKind::kCorrupt, kSeqStatusDataError,
                std::string(path) + ": " + where +
                    "the compressed data is damaged or truncated");
  }
  return Fail(failure, SequenceFailureKind::kUnreadable, kSeqStatusFileError,
              std::string(path) + ": " + where + "cannot read: " + ErrorText(errno));
}

// Skips white space and returns the first other byte without consuming it: -1 for
// an empty file, -2 (failure filled) for a read error.
int PeekFirstCharacter(const char* path, BGZF* file, ReadFailure* failure) {
  for (;;) {
    const int c = bgzf_peek(file);
    if (c == -2) {
      FailRead(path, file, "", failure);
      return -2;
    }
    if (c == -1) return -1;
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r' && c != '\v' && c != '\f') return c;
    char skipped;
    if (bgzf_read(file, &skipped, 1) != 1) {
      FailRead(path, file, "", failure);
      return -2;
    }
  }
}

SequenceFileKind KindOf(int first) {
  if (first == '>' || first == '@') return SequenceFileKind::kFastaOrFastq;
  if ((first >= '0' && first <= '9') || first == '+' || first == '-') {
    return SequenceFileKind::kRnaquboInput;
  }
  return SequenceFileKind::kOther;
}

// Whether name exists and was modified no earlier than the file described by data.
// The failure for a choice that names no record of a file of records records.
bool FailNoSuchRecord(const char* path, const RecordChoice& choice, int64_t records,
                      ReadFailure* failure) {
  std::string what = choice.kind == ChoiceKind::kByName
                         ? "no record named " + choice.name
                         : choice.kind == ChoiceKind::kByIndex
                               ? "no record number " + std::to_string(choice.index)
                               : std::string("no record");
  return Fail(failure, SequenceFailureKind::kNoSuchRecord, kSeqStatusDataError,
              std::string(path) + ": " + what + ": the file has " + std::to_string(records) +
                  (records == 1 ? " record" : " records"));
}

bool IsCurrentIndex(const std::string& name, const struct stat& data) {
  struct stat info;
  if (stat(name.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  if (info.st_mtim.tv_sec != data.st_mtim.tv_sec) return info.st_mtim.tv_sec > data.st_mtim.tv_sec;
  return info.st_mtim.tv_nsec >= data.st_mtim.tv_nsec;
}

// How an indexed fetch ended.
enum class IndexedFetch {
  kFetched,     // *raw holds the record
  kNotFound,    // the index is sound and has no such record (failure filled)
  kNoIndex,     // no usable index: read the file instead
};

// Fetches the chosen record through path's faidx index, when it has a current one.
IndexedFetch FetchIndexed(const char* path, const RecordChoice& choice, std::string* name,
                          std::string* raw, ReadFailure* failure) {
  struct stat data;
  if (stat(path, &data) != 0 || !S_ISREG(data.st_mode)) return IndexedFetch::kNoIndex;
  if (!IsCurrentIndex(std::string(path) + ".fai", data)) return IndexedFetch::kNoIndex;
  // A bgzip file also needs its .gzi; fai_load3 fails without it, and a plain
  // gzip file cannot be indexed at all.
  faidx_t* index = fai_load3(path, nullptr, nullptr, 0);
  if (index == nullptr) return IndexedFetch::kNoIndex;
  const int records = faidx_nseq(index);
  const char* chosen = nullptr;
  switch (choice.kind) {
    case ChoiceKind::kFirst:
      chosen = records > 0 ? faidx_iseq(index, 0) : nullptr;
      break;
    case ChoiceKind::kByName:
      if (!faidx_has_seq(index, choice.name.c_str())) {
        fai_destroy(index);
        FailNoSuchRecord(path, choice, records, failure);
        return IndexedFetch::kNotFound;
      }
      chosen = choice.name.c_str();
      break;
    case ChoiceKind::kByIndex:
      if (choice.index < 1 || choice.index > records) {
        fai_destroy(index);
        FailNoSuchRecord(path, choice, records, failure);
        return IndexedFetch::kNotFound;
      }
      chosen = faidx_iseq(index, static_cast<int>(choice.index - 1));
      break;
  }
  if (chosen == nullptr) {
    fai_destroy(index);
    return IndexedFetch::kNoIndex;
  }
  *name = chosen;
  raw->clear();
  IndexedFetch outcome = IndexedFetch::kNoIndex;
  if (faidx_seq_len(index, chosen) == 0) {
    outcome = IndexedFetch::kFetched;
  } else {
    hts_pos_t length = 0;
    char* letters = faidx_fetch_seq64(index, chosen, 0, HTS_POS_MAX - 1, &length);
    // On any fetch error the file is read instead, which reports what is wrong.
    if (letters != nullptr && length >= 0) {
      raw->assign(letters, static_cast<size_t>(length));
      outcome = IndexedFetch::kFetched;
    }
    free(letters);
  }
  fai_destroy(index);
  return outcome;
}

}  // namespace

struct RecordStream {
  std::string path;
  StreamSource source;
  kseq_t* reader;
  int64_t records_read;
};

RecordStream* OpenRecordStream(const char* path, ReadFailure* failure) {
  BGZF* file = OpenSequenceFile(path, failure);
  if (file == nullptr) return nullptr;
  const int first = PeekFirstCharacter(path, file, failure);
  if (first < 0 || KindOf(first) != SequenceFileKind::kFastaOrFastq) {
    if (first == -1) {
      Fail(failure, SequenceFailureKind::kNotSequences, kSeqStatusDataError,
           std::string(path) + ": the file is empty");
    } else if (first >= 0) {
      const std::string hint = KindOf(first) == SequenceFileKind::kRnaquboInput
                                   ? " and looks like rnaqubo's own input format already"
                                   : "";
      Fail(failure, SequenceFailureKind::kNotSequences, kSeqStatusDataError,
           std::string(path) + ": not FASTA or FASTQ: the first record does not start with '>' or '@'" +
               hint);
    }
    bgzf_close(file);
    return nullptr;
  }
  RecordStream* stream = new RecordStream{path, {file, false, false}, nullptr, 0};
  stream->reader = kseq_init(&stream->source);
  return stream;
}

int ReadRawRecord(RecordStream* stream, std::string* name, std::string* raw, ReadFailure* failure) {
  const int result = kseq_read(stream->reader);
  const kseq_t* record = stream->reader;
  const std::string where =
      result == -1 ? std::string() : "record " + std::string(record->name.s ? record->name.s : "") + ": ";
  if (stream->source.read_failed) {
    FailRead(stream->path.c_str(), stream->source.file, where, failure);
    return -1;
  }
  if (stream->source.eof_missing) {
    Fail(failure, SequenceFailureKind::kCorrupt, kSeqStatusDataError,
         stream->path + ": " + where + "the bgzip file is truncated (no end-of-file block)");
    return -1;
  }
  if (result == -1) return 0;
  if (result == -2) {
    Fail(failure, SequenceFailureKind::kCorrupt, kSeqStatusDataError,
         stream->path + ": " + where + "the FASTQ quality line is missing or not as long as the sequence");
    return -1;
  }
  if (result < 0) {
    Fail(failure, SequenceFailureKind::kCorrupt, kSeqStatusDataError,
         stream->path + ": " + where + "the record is too long to read");
    return -1;
  }
  name->assign(record->name.s ? record->name.s : "", record->name.l);
  raw->assign(record->seq.s ? record->seq.s : "", record->seq.l);
  ++stream->records_read;
  return 1;
}

int64_t RecordsRead(const RecordStream* stream) { return stream->records_read; }

void CloseRecordStream(RecordStream* stream) {
  if (stream == nullptr) return;
  kseq_destroy(stream->reader);
  bgzf_close(stream->source.file);
  delete stream;
}

bool DetectSequenceFileKind(const char* path, SequenceFileKind* kind, ReadFailure* failure) {
  BGZF* file = OpenSequenceFile(path, failure);
  if (file == nullptr) return false;
  const int first = PeekFirstCharacter(path, file, failure);
  bgzf_close(file);
  if (first == -2) return false;
  *kind = first == -1 ? SequenceFileKind::kOther : KindOf(first);
  return true;
}

bool ReadSequenceRecord(const char* path, const RecordChoice& choice, const LetterPolicy& policy,
                        SequenceRecord* record, ReadFailure* failure) {
  SilenceHtslib();
  if (choice.kind == ChoiceKind::kByIndex && choice.index < 1) {
    return Fail(failure, SequenceFailureKind::kNoSuchRecord, kSeqStatusDataError,
                std::string(path) + ": no record number " + std::to_string(choice.index) +
                    ": records are numbered from 1");
  }
  std::string raw;
  const IndexedFetch fetched = FetchIndexed(path, choice, &record->name, &raw, failure);
  if (fetched == IndexedFetch::kNotFound) return false;
  if (fetched == IndexedFetch::kNoIndex) {
    RecordStream* stream = OpenRecordStream(path, failure);
    if (stream == nullptr) return false;
    int result;
    for (;;) {
      result = ReadRawRecord(stream, &record->name, &raw, failure);
      if (result != 1) break;
      if (choice.kind == ChoiceKind::kFirst) break;
      if (choice.kind == ChoiceKind::kByName && record->name == choice.name) break;
      if (choice.kind == ChoiceKind::kByIndex && RecordsRead(stream) == choice.index) break;
    }
    const int64_t records = RecordsRead(stream);
    CloseRecordStream(stream);
    if (result < 0) return false;
    if (result == 0) return FailNoSuchRecord(path, choice, records, failure);
  }
  if (!NormaliseLetters(raw, policy, record, failure)) {
    failure->message = std::string(path) + ": " + failure->message;
    return false;
  }
  return true;
}
