#include "sequences/sequence_records.h"

#include <fcntl.h>
#include <htslib/bgzf.h>
#include <htslib/hts.h>
#include <htslib/hts_log.h>
#include <htslib/kseq.h>
#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <cstdio>
#include <string_view>
#include <unordered_set>
#include <vector>
#include <unistd.h>
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

// An index is only a claim about the file: every check below that fails makes the
// reader scan the file instead, with a note saying why.
struct IndexDoubt {
  std::string reason;
};

[[noreturn]] void Doubt(const std::string& reason) { throw IndexDoubt{reason}; }

// Bounds every number of an index so that no sum or product below overflows.
constexpr int64_t kLargestIndexNumber = int64_t{1} << 48;

// One line of a .fai file.
struct FaiEntry {
  std::string name;
  int64_t length = 0, offset = 0, line_bases = 0, line_width = 0;
  int64_t quality_offset = -1;  // FASTQ only
  int64_t span = 0;             // bytes from offset to the end of the sequence's last line end
};

int64_t ParseIndexNumber(std::string_view field, size_t line) {
  int64_t value = -1;
  const auto [stop, error] = std::from_chars(field.data(), field.data() + field.size(), value);
  if (field.empty() || error != std::errc() || stop != field.data() + field.size() || value < 0 ||
      value > kLargestIndexNumber) {
    Doubt("line " + std::to_string(line) + " is not a well-formed index line");
  }
  return value;
}

// Reads and checks the .fai text: every line well formed, the layout of each record
// possible, and the records in file order without overlap.
std::vector<FaiEntry> ParseFaiText(const std::string& text) {
  std::vector<FaiEntry> entries;
  std::unordered_set<std::string> names;
  size_t start = 0, line = 0;
  int columns = 0;
  int64_t previous_end = 0;
  while (start < text.size()) {
    ++line;
    const size_t end = text.find('\n', start);
    if (end == std::string::npos) Doubt("line " + std::to_string(line) + " has no line end");
    std::vector<std::string_view> fields;
    for (size_t field = start;;) {
      const size_t tab = text.find('\t', field);
      const size_t stop = tab == std::string::npos || tab > end ? end : tab;
      fields.emplace_back(text.data() + field, stop - field);
      if (stop == end) break;
      field = stop + 1;
    }
    const int count = static_cast<int>(fields.size());
    if ((count != 5 && count != 6) || (columns != 0 && count != columns) || fields[0].empty()) {
      Doubt("line " + std::to_string(line) + " is not a well-formed index line");
    }
    columns = count;
    FaiEntry entry;
    entry.name = std::string(fields[0]);
    entry.length = ParseIndexNumber(fields[1], line);
    entry.offset = ParseIndexNumber(fields[2], line);
    entry.line_bases = ParseIndexNumber(fields[3], line);
    entry.line_width = ParseIndexNumber(fields[4], line);
    if (count == 6) entry.quality_offset = ParseIndexNumber(fields[5], line);
    const std::string where = "line " + std::to_string(line);
    if (!names.insert(entry.name).second) Doubt(where + " names a record twice");
    if (entry.length > 0) {
      const int64_t ending = entry.line_width - entry.line_bases;
      if (entry.line_bases == 0 || (ending != 1 && ending != 2)) Doubt(where + " gives impossible line widths");
      const int64_t rest = entry.length % entry.line_bases;
      entry.span = entry.length / entry.line_bases * entry.line_width + (rest > 0 ? rest + ending : 0);
    }
    // At least ">" and a line end before each sequence, after the previous one.
    if (entry.offset < previous_end + 2 + static_cast<int64_t>(entry.name.size())) {
      Doubt(where + " places the record before the end of the one before it");
    }
    previous_end = entry.offset + entry.span;
    if (count == 6) {
      if (entry.quality_offset < previous_end + 1) Doubt(where + " places the qualities inside the sequence");
      previous_end = entry.quality_offset + entry.span;
    }
    entries.push_back(std::move(entry));
    start = end + 1;
  }
  if (entries.empty()) Doubt("it lists no record");
  return entries;
}

std::string ReadSmallFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) Doubt("it cannot be read");
  std::string text;
  char buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) Doubt("it cannot be read");
  return text;
}

uint64_t LittleEndian(const unsigned char* bytes, int size) {
  uint64_t value = 0;
  for (int k = size - 1; k >= 0; --k) value = value << 8 | bytes[k];
  return value;
}

// The bytes of the uncompressed file, read at given offsets: straight from a plain
// file, or through a bgzip file's .gzi, whose every entry is checked before htslib
// is asked to seek (its seek asserts on a block that the file does not hold).
class IndexedBytes {
 public:
  IndexedBytes(const char* path, BGZF* file) : path_(path), file_(file) {
    descriptor_.fd = open(path, O_RDONLY | O_CLOEXEC);
    fd_ = descriptor_.fd;
    struct stat info;
    if (fd_ < 0 || fstat(fd_, &info) != 0) Doubt("the file cannot be examined");
    file_size_ = static_cast<int64_t>(info.st_size);
    compressed_ = bgzf_compression(file) != no_compression;
    if (!compressed_) return;
    if (bgzf_compression(file) != bgzf) Doubt("a gzip file that is not bgzip cannot be read by random access");
    const std::string gzi = ReadSmallFile(std::string(path) + ".gzi");
    const auto* bytes = reinterpret_cast<const unsigned char*>(gzi.data());
    if (gzi.size() < 8) Doubt("the .gzi index is too short");
    const uint64_t count = LittleEndian(bytes, 8);
    if (count > (gzi.size() - 8) / 16 || gzi.size() != 8 + 16 * count) Doubt("the .gzi index has the wrong size");
    blocks_.push_back({0, 0});
    for (uint64_t k = 0; k < count; ++k) {
      const int64_t compressed = static_cast<int64_t>(LittleEndian(bytes + 8 + 16 * k, 8));
      const int64_t plain = static_cast<int64_t>(LittleEndian(bytes + 16 + 16 * k, 8));
      if (compressed <= blocks_.back().first || plain <= blocks_.back().second || compressed >= file_size_) {
        Doubt("the .gzi index does not fit the file");
      }
      blocks_.push_back({compressed, plain});
    }
    // A file cut short is reported by the scan, not read around.
    if (bgzf_check_EOF(file) != 1) Doubt("the bgzip file has no end-of-file block");
    if (bgzf_index_load(file, path, ".gzi") != 0) Doubt("the .gzi index cannot be read");
  }

  IndexedBytes(const IndexedBytes&) = delete;
  IndexedBytes& operator=(const IndexedBytes&) = delete;

  // A bound on the uncompressed size: exact for a plain file.
  int64_t SizeBound() const { return compressed_ ? blocks_.back().second + 65536 : file_size_; }

  // Reads up to size bytes from offset into *out; fewer only at the end of the data.
  void Read(int64_t offset, int64_t size, std::string* out) {
    out->assign(static_cast<size_t>(size), '\0');
    if (compressed_) Seek(offset);
    int64_t done = 0;
    while (done < size) {
      const ssize_t got =
          compressed_ ? bgzf_read(file_, out->data() + done, static_cast<size_t>(size - done))
                      : pread(fd_, out->data() + done, static_cast<size_t>(size - done), offset + done);
      if (got < 0) Doubt("the file cannot be read where the index points");
      if (got == 0) break;
      done += got;
    }
    out->resize(static_cast<size_t>(done));
  }

 private:
  // Seeks to an uncompressed offset, once the block that holds it is known to be
  // whole and to hold it.
  void Seek(int64_t offset) {
    size_t k = blocks_.size() - 1;
    while (blocks_[k].second > offset) --k;
    const int64_t start = blocks_[k].first;
    unsigned char header[18], footer[4];
    const int fd = fd_;
    if (pread(fd, header, sizeof header, start) != static_cast<ssize_t>(sizeof header) || header[0] != 0x1f ||
        header[1] != 0x8b || header[2] != 8 || (header[3] & 4) == 0 || LittleEndian(header + 10, 2) != 6 ||
        header[12] != 'B' || header[13] != 'C') {
      Doubt("the .gzi index points where no bgzip block starts");
    }
    const int64_t end = start + static_cast<int64_t>(LittleEndian(header + 16, 2)) + 1;
    if (end > file_size_ || pread(fd, footer, sizeof footer, end - 4) != static_cast<ssize_t>(sizeof footer) ||
        offset - blocks_[k].second >= static_cast<int64_t>(LittleEndian(footer, 4))) {
      Doubt("the .gzi index points past the end of the file's data");
    }
    if (bgzf_useek(file_, offset, SEEK_SET) < 0) Doubt("the file cannot be read where the index points");
  }

  std::string path_;
  // Closes the plain descriptor however the reading ends, the constructor included.
  struct Descriptor {
    int fd = -1;
    ~Descriptor() {
      if (fd >= 0) close(fd);
    }
  } descriptor_;
  BGZF* file_;
  int fd_ = -1;
  int64_t file_size_ = 0;
  bool compressed_ = false;
  std::vector<std::pair<int64_t, int64_t>> blocks_;  // (compressed, uncompressed) starts
};

bool IsLineEnd(char c) { return c == '\n' || c == '\r'; }

// Reads the record of entry and checks it against the file: its header line ends
// where the sequence starts and names it (and starts the file when first), every
// line holds line_bases letters, and right after the last one comes the next
// header, the qualities' '+' line, or the end of the file (for the last entry).
std::string FetchCheckedRecord(IndexedBytes* bytes, const FaiEntry& entry, bool first, bool last, bool fastq) {
  constexpr int64_t kLongestWindow = 1 << 20, kTail = 64;
  if (entry.offset + entry.span > bytes->SizeBound()) Doubt("it places record " + entry.name + " past the end of the file");
  const std::string wrong = "record " + entry.name + " is not where it says";
  // The header is looked for in a window before the letters that grows only as
  // far as the header is long, so that damage further back does not matter.
  std::string data;
  int64_t start = 0, at = 0;
  size_t line_start = 0;
  for (int64_t window = 4096;; window *= 4) {
    start = std::max<int64_t>(0, entry.offset - window);
    bytes->Read(start, entry.offset - start + entry.span + kTail, &data);
    at = entry.offset - start;  // where the letters start in data
    if (static_cast<int64_t>(data.size()) < at + entry.span || at < 1 || data[at - 1] != '\n') Doubt(wrong);
    const size_t newline = at >= 2 ? data.rfind('\n', static_cast<size_t>(at - 2)) : std::string::npos;
    if (newline != std::string::npos || start == 0) {
      line_start = newline == std::string::npos ? 0 : newline + 1;
      break;
    }
    if (window >= kLongestWindow) Doubt(wrong);
  }
  if (first && (start > 0 || line_start != 0)) Doubt(wrong);
  std::string header = data.substr(line_start, static_cast<size_t>(at - 1) - line_start);
  if (!header.empty() && header.back() == '\r') header.pop_back();
  const size_t word_end = header.find_first_of(" \t", 1);
  if (header.empty() || header[0] != (fastq ? '@' : '>') ||
      header.substr(1, word_end == std::string::npos ? std::string::npos : word_end - 1) != entry.name) {
    Doubt(wrong);
  }
  std::string letters;
  letters.reserve(static_cast<size_t>(entry.length));
  int64_t position = at;
  const int64_t ending = entry.line_width - entry.line_bases;
  const int64_t size = static_cast<int64_t>(data.size());
  while (static_cast<int64_t>(letters.size()) < entry.length) {
    const int64_t count = std::min(entry.line_bases, entry.length - static_cast<int64_t>(letters.size()));
    for (int64_t k = 0; k < count; ++k) {
      const char c = data[static_cast<size_t>(position + k)];
      if (IsLineEnd(c) || c == '>' || c == '@') Doubt("the line lengths of record " + entry.name + " differ from the file's");
    }
    letters.append(data, static_cast<size_t>(position), static_cast<size_t>(count));
    position += count;
    const bool cr = ending == 2;
    const bool ends_file = position == size;
    if (!ends_file && !((!cr && data[position] == '\n') || (cr && position + 1 < size && data[position] == '\r' &&
                                                            data[position + 1] == '\n'))) {
      Doubt("the line lengths of record " + entry.name + " differ from the file's");
    }
    position += ends_file ? 0 : ending;
  }
  // What follows the sequence: the next record, or only white space to the end.
  const char next = position < size ? data[static_cast<size_t>(position)] : '\0';
  const bool at_end = position >= size ||
                      (size < at + entry.span + kTail &&
                       data.find_first_not_of(" \t\r\n", static_cast<size_t>(position)) == std::string::npos);
  const bool next_header = fastq ? next == '+' : next == '>';
  if (!(fastq ? next_header : (last ? at_end : next_header))) {
    Doubt("record " + entry.name + " does not end where its length says");
  }
  return letters;
}

// How an indexed fetch ended.
enum class IndexedFetch {
  kFetched,  // *raw holds the record
  kNoIndex,  // no usable index: read the file instead
};

// Fetches the chosen record through path's faidx index when there is one and it
// holds up against the file; *note says why one that exists is not used. A record
// that the index does not list, or one chosen by its number, is found by reading
// the file, which alone can say that there is no such record.
IndexedFetch FetchIndexed(const char* path, const RecordChoice& choice, std::string* name, std::string* raw,
                          std::string* note) {
  struct stat data;
  if (stat(path, &data) != 0 || !S_ISREG(data.st_mode)) return IndexedFetch::kNoIndex;
  const std::string fai = std::string(path) + ".fai";
  if (stat(fai.c_str(), &data) != 0) return IndexedFetch::kNoIndex;
  try {
    struct stat file_info;
    stat(path, &file_info);
    if (!IsCurrentIndex(fai, file_info)) Doubt("it is older than the file");
    const std::vector<FaiEntry> entries = ParseFaiText(ReadSmallFile(fai));
    size_t chosen = 0;
    if (choice.kind == ChoiceKind::kByName) {
      while (chosen < entries.size() && entries[chosen].name != choice.name) ++chosen;
      if (chosen == entries.size()) return IndexedFetch::kNoIndex;
    } else if (choice.kind == ChoiceKind::kByIndex && choice.index != 1) {
      return IndexedFetch::kNoIndex;
    }
    BgzfPointer file = OpenSequenceFile(path);
    IndexedBytes bytes(path, file.get());
    const FaiEntry& entry = entries[chosen];
    *raw = FetchCheckedRecord(&bytes, entry, choice.kind != ChoiceKind::kByName, chosen + 1 == entries.size(), entry.quality_offset >= 0);
    *name = entry.name;
    return IndexedFetch::kFetched;
  } catch (const IndexDoubt& doubt) {
    *note = ShowText(fai) + ": not used, the file is read instead: " + ShowText(doubt.reason);
    return IndexedFetch::kNoIndex;
  }
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
  // A name decoded from damaged data may be garbage: the record is named only
  // when the data read so far is sound.
  const std::string where = result == -1 || stream->source.read_failed
                                ? std::string()
                                : "record " + ShowText(record->name.s ? record->name.s : "") + ": ";
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

SequenceRecord ReadSequenceRecord(const char* path, const RecordChoice& choice, const LetterPolicy& policy,
                                  std::string* note) {
  SilenceHtslib();
  if (choice.kind == ChoiceKind::kByIndex && choice.index < 1) {
    throw SequenceFailure(SequenceFailureKind::kNoSuchRecord, ShowText(path) + ": no record number " +
                                                                  std::to_string(choice.index) +
                                                                  ": records are numbered from 1");
  }
  SequenceRecord record;
  std::string raw;
  std::string ignored;
  if (FetchIndexed(path, choice, &record.name, &raw, note != nullptr ? note : &ignored) == IndexedFetch::kNoIndex) {
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
