#include "sequences/sequence_records.h"

#include <htslib/bgzf.h>
#include <htslib/faidx.h>
#include <htslib/hts_log.h>
#include <htslib/kseq.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "core/shown_text.h"

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

// Closes a BGZF file when the reading ends, however it ends.
struct BgzfCloser {
  void operator()(BGZF* file) const { bgzf_close(file); }
};
using BgzfPointer = std::unique_ptr<BGZF, BgzfCloser>;

[[noreturn]] void FailUnreadable(const char* path, int error) {
  throw SequenceFailure(SequenceFailureKind::kUnreadable,
                        ShowText(path) + ": sequence file: cannot read: " + ErrorText(error), path, error);
}

// Checks that path names a readable file that is no directory, and opens it.
BgzfPointer OpenSequenceFile(const char* path) {
  SilenceHtslib();
  struct stat info;
  if (std::strcmp(path, "-") == 0) {
    // Standard input: a pipe, read once (never through an index).
  } else if (stat(path, &info) != 0) {
    FailUnreadable(path, errno);
  } else if (S_ISDIR(info.st_mode)) {
    FailUnreadable(path, EISDIR);
  }
  errno = 0;
  BGZF* file = bgzf_open(path, "r");
  if (file == nullptr) FailUnreadable(path, errno);
  return BgzfPointer(file);
}

// The failure for a read error on file: damaged data when the file is compressed,
// an unreadable file otherwise. where is "" or "record <name>: ".
[[noreturn]] void FailRead(const char* path, BGZF* file, const std::string& where) {
  if (bgzf_compression(file) != no_compression) {
    throw SequenceFailure(SequenceFailureKind::kCorrupt,
                          ShowText(path) + ": " + where + "the compressed data is damaged or truncated");
  }
  FailUnreadable(path, errno);
}

// Skips white space and returns the first other byte without consuming it, or -1
// for an empty file.
int PeekFirstCharacter(const char* path, BGZF* file) {
  for (;;) {
    const int c = bgzf_peek(file);
    if (c == -2) FailRead(path, file, "");
    if (c == -1) return -1;
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r' && c != '\v' && c != '\f') return c;
    char skipped;
    if (bgzf_read(file, &skipped, 1) != 1) FailRead(path, file, "");
  }
}

SequenceFileKind KindOf(int first) {
  if (first == '>' || first == '@') return SequenceFileKind::kFastaOrFastq;
  if ((first >= '0' && first <= '9') || first == '+' || first == '-') {
    return SequenceFileKind::kRnaquboInput;
  }
  return SequenceFileKind::kOther;
}

// Throws the failure for a choice that names no record of a file of records records.
[[noreturn]] void FailNoSuchRecord(const char* path, const RecordChoice& choice, int64_t records) {
  std::string what = choice.kind == ChoiceKind::kByName    ? "no record named " + ShowText(choice.name)
                     : choice.kind == ChoiceKind::kByIndex ? "no record number " + std::to_string(choice.index)
                                                           : std::string("no record");
  throw SequenceFailure(SequenceFailureKind::kNoSuchRecord, ShowText(path) + ": " + what + ": the file has " +
                                                                std::to_string(records) +
                                                                (records == 1 ? " record" : " records"));
}

// Whether name exists and was modified no earlier than the file described by data.
bool IsCurrentIndex(const std::string& name, const struct stat& data) {
  struct stat info;
  if (stat(name.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  if (info.st_mtim.tv_sec != data.st_mtim.tv_sec) return info.st_mtim.tv_sec > data.st_mtim.tv_sec;
  return info.st_mtim.tv_nsec >= data.st_mtim.tv_nsec;
}

// How an indexed fetch ended.
enum class IndexedFetch {
  kFetched,  // *raw holds the record
  kNoIndex,  // no usable index: read the file instead
};

// Fetches the chosen record through path's faidx index, when it has a current
// one; throws SequenceFailure kNoSuchRecord when a sound index has no such record.
IndexedFetch FetchIndexed(const char* path, const RecordChoice& choice, std::string* name, std::string* raw) {
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
        FailNoSuchRecord(path, choice, records);
      }
      chosen = choice.name.c_str();
      break;
    case ChoiceKind::kByIndex:
      if (choice.index < 1 || choice.index > records) {
        fai_destroy(index);
        FailNoSuchRecord(path, choice, records);
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

RecordStreamPointer OpenRecordStream(const char* path) {
  BgzfPointer file = OpenSequenceFile(path);
  const int first = PeekFirstCharacter(path, file.get());
  if (first == -1) throw SequenceFailure(SequenceFailureKind::kNotSequences, ShowText(path) + ": the file is empty");
  if (KindOf(first) != SequenceFileKind::kFastaOrFastq) {
    const std::string hint = KindOf(first) == SequenceFileKind::kRnaquboInput
                                 ? " and looks like rnaqubo's own input format already"
                                 : "";
    throw SequenceFailure(SequenceFailureKind::kNotSequences,
                          ShowText(path) + ": not FASTA or FASTQ: the first record does not start with '>' or '@'" +
                              hint);
  }
  RecordStreamPointer stream(new RecordStream{path, {file.release(), false, false}, nullptr, 0});
  stream->reader = kseq_init(&stream->source);
  return stream;
}

bool ReadRawRecord(RecordStream* stream, std::string* name, std::string* raw) {
  const int result = kseq_read(stream->reader);
  const kseq_t* record = stream->reader;
  const std::string where =
      result == -1 ? std::string() : "record " + ShowText(record->name.s ? record->name.s : "") + ": ";
  const std::string shown_path = ShowText(stream->path);
  if (stream->source.read_failed) FailRead(stream->path.c_str(), stream->source.file, where);
  if (stream->source.eof_missing) {
    throw SequenceFailure(SequenceFailureKind::kCorrupt,
                          shown_path + ": " + where + "the bgzip file is truncated (no end-of-file block)");
  }
  if (result == -1) return false;
  if (result == -2) {
    throw SequenceFailure(SequenceFailureKind::kCorrupt, shown_path + ": " + where +
                                                             "the FASTQ quality line is missing or not as long as "
                                                             "the sequence");
  }
  if (result < 0) {
    throw SequenceFailure(SequenceFailureKind::kCorrupt, shown_path + ": " + where + "the record is too long to read");
  }
  name->assign(record->name.s ? record->name.s : "", record->name.l);
  raw->assign(record->seq.s ? record->seq.s : "", record->seq.l);
  ++stream->records_read;
  return true;
}

int64_t RecordsRead(const RecordStream* stream) { return stream->records_read; }

void RecordStreamCloser::operator()(RecordStream* stream) const {
  if (stream == nullptr) return;
  if (stream->reader != nullptr) kseq_destroy(stream->reader);
  bgzf_close(stream->source.file);
  delete stream;
}

SequenceFileKind DetectSequenceFileKind(const char* path) {
  BgzfPointer file = OpenSequenceFile(path);
  const int first = PeekFirstCharacter(path, file.get());
  return first == -1 ? SequenceFileKind::kOther : KindOf(first);
}

SequenceRecord ReadSequenceRecord(const char* path, const RecordChoice& choice, const LetterPolicy& policy) {
  SilenceHtslib();
  if (choice.kind == ChoiceKind::kByIndex && choice.index < 1) {
    throw SequenceFailure(SequenceFailureKind::kNoSuchRecord, ShowText(path) + ": no record number " +
                                                                  std::to_string(choice.index) +
                                                                  ": records are numbered from 1");
  }
  SequenceRecord record;
  std::string raw;
  if (FetchIndexed(path, choice, &record.name, &raw) == IndexedFetch::kNoIndex) {
    RecordStreamPointer stream = OpenRecordStream(path);
    bool found = false;
    while (!found && ReadRawRecord(stream.get(), &record.name, &raw)) {
      found = choice.kind == ChoiceKind::kFirst || (choice.kind == ChoiceKind::kByName && record.name == choice.name) ||
              (choice.kind == ChoiceKind::kByIndex && RecordsRead(stream.get()) == choice.index);
    }
    if (!found) FailNoSuchRecord(path, choice, RecordsRead(stream.get()));
  }
  try {
    NormaliseLetters(raw, policy, &record);
  } catch (const SequenceFailure& failure) {
    throw SequenceFailure(failure.sequence_kind(), ShowText(path) + ": " + failure.what());
  }
  return record;
}
