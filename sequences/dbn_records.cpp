#include "sequences/dbn_records.h"

#include "core/shown_text.h"
#include "sequences/text_lines.h"

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

std::vector<DbnRecord> ReadDbnRecords(const char* path) {
  LineFilePointer file = OpenLineFile(path, "dot-bracket file");
  std::string line;
  const std::string shown_path = ShowText(path);
  std::vector<DbnRecord> records;
  int64_t line_number = 0;
  int fields = 0;  // lines of the current record read after its header
  auto bad = [&](const std::string& what) {
    throw SequenceFailure(SequenceFailureKind::kBadStructure,
                          shown_path + ": line " + std::to_string(line_number) + ": " + what);
  };
  while (ReadLine(file.get(), &line)) {
    line_number = LinesRead(file.get());
    const std::string text = TrimLine(line.data(), line.size());
    if (text.empty()) continue;
    if (text[0] == '>') {
      if (!records.empty() && fields < 2) {
        bad("the record " + ShowText(records.back().name) + " has no " + (fields == 0 ? "sequence" : "structure") +
            " line");
      }
      records.push_back(DbnRecord{FirstWord(TrimLine(text.c_str() + 1, text.size() - 1)), "", ""});
      fields = 0;
    } else if (records.empty()) {
      bad("expected a '>' header line");
    } else if (fields == 0) {
      records.back().sequence = text;
      fields = 1;
    } else if (fields == 1) {
      records.back().structure = FirstWord(text);
      fields = 2;
    } else {
      bad("the record " + ShowText(records.back().name) + " has more than a sequence line and a structure line");
    }
  }
  if (records.empty()) {
    throw SequenceFailure(SequenceFailureKind::kNotSequences, shown_path + ": no dot-bracket record found");
  }
  if (fields < 2) {
    throw SequenceFailure(SequenceFailureKind::kBadStructure,
                          shown_path + ": the file ends before the " + (fields == 0 ? "sequence" : "structure") +
                              " line of the record " + ShowText(records.back().name));
  }
  return records;
}
