#include "sequences/stockholm_records.h"

#include <sys/stat.h>

#include <string_view>
#include <tuple>
#include <unordered_map>
#include <utility>

#include "core/dot_bracket.h"
#include "core/shown_text.h"
#include "sequences/standard_input.h"
#include "sequences/text_lines.h"

namespace {

constexpr std::string_view kHeader = "# STOCKHOLM 1.0";

// A word of a line and where it starts.
struct Field {
  std::string_view text;
  size_t offset;
};

std::vector<Field> SplitFields(std::string_view line) {
  std::vector<Field> fields;
  size_t k = 0;
  while (k < line.size()) {
    while (k < line.size() && (line[k] == ' ' || line[k] == '\t')) ++k;
    const size_t start = k;
    while (k < line.size() && line[k] != ' ' && line[k] != '\t') ++k;
    if (k > start) fields.push_back(Field{line.substr(start, k - start), start});
  }
  return fields;
}

std::string_view Trimmed(std::string_view line) {
  const size_t begin = line.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return {};
  return line.substr(begin, line.find_last_not_of(" \t") - begin + 1);
}

std::string Columns(int64_t count) { return std::to_string(count) + (count == 1 ? " column" : " columns"); }

// The reading of one alignment, block by block.
struct AlignmentReader {
  std::string shown_path;
  StockholmAlignment alignment;
  std::unordered_map<std::string, size_t> row_of;
  std::vector<std::pair<std::string, StockholmLine>> own;  // #=GR SS lines in file order
  std::unordered_map<std::string, size_t> own_of;
  std::unordered_map<std::string, int64_t> block_items;  // what this block has had, and where
  int64_t block_width = -1, block_line = 0;
  // The alignment column where this block's rows start (-1 before its first
  // row), and its structure pieces: their line, first column and name.
  int64_t block_column = -1;
  std::vector<std::tuple<int64_t, int64_t, std::string>> block_structures;
  int64_t line = 0;
  int64_t indent = 0;  // where the line's text starts after its leading white space

  [[noreturn]] void Fail(const std::string& what) const {
    throw SequenceFailure(SequenceFailureKind::kBadStructure,
                          shown_path + ": line " + std::to_string(line) + ": " + what);
  }

  void StartBlock() {
    CheckBlock();
    block_items.clear();
    block_width = -1;
    block_column = -1;
    block_structures.clear();
  }

  // A structure piece belongs to the columns of its block's rows: one in a
  // block without rows, or out of step with them, would be laid over other
  // columns.
  void CheckBlock() {
    for (const auto& [at, column, what] : block_structures) {
      line = at;
      if (block_column < 0) Fail(what + " is in a block with no sequence rows");
      if (column != block_column) {
        Fail(what + " starts at alignment column " + std::to_string(column + 1) + ", this block's rows at " +
             std::to_string(block_column + 1) + ": a piece of it is missing from another block");
      }
    }
  }

  // Checks that an item (a row or a structure line, called what, found under key)
  // appears once in the block and has the block's width.
  void CheckPiece(const std::string& key, const std::string& what, int64_t width, bool is_row = false) {
    const auto [found, fresh] = block_items.emplace(key, line);
    if (!fresh) {
      Fail(what + (is_row ? " is named" : " appears") + " twice in this block (first at line " +
           std::to_string(found->second) + ")");
    }
    if (block_width < 0) {
      block_width = width;
      block_line = line;
    } else if (width != block_width) {
      Fail(what + " has " + Columns(width) + ", the block's first line (line " + std::to_string(block_line) +
           ") has " + std::to_string(block_width));
    }
  }

  void Append(StockholmLine* target, const Field& field) const {
    target->piece_columns.push_back(static_cast<int64_t>(target->text.size()));
    target->piece_lines.push_back(line);
    target->piece_offsets.push_back(indent + static_cast<int64_t>(field.offset));
    target->text.append(field.text);
  }

  void ReadItem(std::string_view text) {
    const std::vector<Field> fields = SplitFields(text);
    const std::string_view first = fields[0].text;
    if (first == "#=GC") {
      if (fields.size() < 2 || fields[1].text != "SS_cons") return;
      if (fields.size() != 3) Fail("#=GC SS_cons needs one word of structure");
      CheckPiece("#=GC SS_cons", "#=GC SS_cons", static_cast<int64_t>(fields[2].text.size()));
      block_structures.emplace_back(line, static_cast<int64_t>(alignment.consensus.text.size()), "#=GC SS_cons");
      Append(&alignment.consensus, fields[2]);
    } else if (first == "#=GR") {
      if (fields.size() < 3 || fields[2].text != "SS") return;
      const std::string name(fields[1].text);
      const std::string what = "#=GR " + ShowText(name) + " SS";
      if (fields.size() != 4) Fail(what + " needs one word of structure");
      CheckPiece("#=GR " + name, what, static_cast<int64_t>(fields[3].text.size()));
      const auto [found, fresh] = own_of.emplace(name, own.size());
      if (fresh) own.emplace_back(name, StockholmLine{});
      block_structures.emplace_back(line, static_cast<int64_t>(own[found->second].second.text.size()), what);
      Append(&own[found->second].second, fields[3]);
    } else if (first[0] == '#') {
      // #=GF, #=GS and comments carry nothing rnaqubo uses.
    } else {
      const std::string name(first);
      const std::string what = "the sequence " + ShowText(name);
      if (fields.size() != 2) Fail(what + " needs one word of aligned sequence after its name");
      CheckPiece(name, what, static_cast<int64_t>(fields[1].text.size()), true);
      const auto [found, fresh] = row_of.emplace(name, alignment.rows.size());
      if (fresh) alignment.rows.push_back(StockholmRow{name, {}, {}});
      const int64_t start = static_cast<int64_t>(alignment.rows[found->second].aligned.text.size());
      if (block_column < 0) {
        block_column = start;
      } else if (start != block_column) {
        Fail(what + " starts at alignment column " + std::to_string(start + 1) + ", this block's first row at " +
             std::to_string(block_column + 1) + ": it is missing from an earlier block, or a new one");
      }
      Append(&alignment.rows[found->second].aligned, fields[1]);
    }
  }

  // Checks the whole alignment at its "//" and attaches the #=GR lines to their rows.
  StockholmAlignment Finish() {
    const int64_t end_line = line;
    CheckBlock();
    line = end_line;
    if (alignment.rows.empty()) Fail("the alignment that starts at line " + std::to_string(alignment.line) +
                                     " has no sequence");
    const StockholmRow& first = alignment.rows[0];
    const int64_t width = static_cast<int64_t>(first.aligned.text.size());
    const std::string against = ", the alignment has " + std::to_string(width) + " (the row of " +
                                ShowText(first.name) + ")";
    auto fail_at = [&](int64_t at, const std::string& what) {
      line = at;
      Fail(what);
    };
    for (const StockholmRow& row : alignment.rows) {
      if (static_cast<int64_t>(row.aligned.text.size()) != width) {
        fail_at(row.aligned.piece_lines[0],
                "the row of " + ShowText(row.name) + " covers " + Columns(row.aligned.text.size()) + against);
      }
    }
    const StockholmLine& consensus = alignment.consensus;
    if (!consensus.text.empty() && static_cast<int64_t>(consensus.text.size()) != width) {
      fail_at(consensus.piece_lines[0],
              "#=GC SS_cons covers " + Columns(static_cast<int64_t>(consensus.text.size())) + against);
    }
    for (auto& [name, structure] : own) {
      const std::string what = "#=GR " + ShowText(name) + " SS";
      const auto row = row_of.find(name);
      if (row == row_of.end()) fail_at(structure.piece_lines[0], what + " names no sequence of the alignment");
      if (static_cast<int64_t>(structure.text.size()) != width) {
        fail_at(structure.piece_lines[0], what + " covers " + Columns(static_cast<int64_t>(structure.text.size())) +
                                              against);
      }
      alignment.rows[row->second].own = std::move(structure);
    }
    return std::move(alignment);
  }
};

// A fault of a structure line: the column (0-based) and what is wrong there.
struct StructureFault {
  int64_t column = -1;
  std::string reason;
};

// Matches opener with closer over text, adding the pairs (columns, 0-based) to
// *pairs; on a fault returns false and sets *fault.
bool MatchKind(const std::string& text, char opener, char closer, std::vector<BasePair>* pairs,
               StructureFault* fault) {
  std::vector<int32_t> open;
  const size_t before = pairs->size();
  for (size_t c = 0; c < text.size(); ++c) {
    if (text[c] == opener) {
      open.push_back(static_cast<int32_t>(c));
    } else if (text[c] == closer) {
      if (open.empty()) {
        pairs->resize(before);
        *fault = {static_cast<int64_t>(c), ShowCharacter(closer) + " closes no " + ShowCharacter(opener)};
        return false;
      }
      pairs->push_back(BasePair{open.back(), static_cast<int32_t>(c)});
      open.pop_back();
    }
  }
  if (open.empty()) return true;
  pairs->resize(before);
  *fault = {open.back(), ShowCharacter(opener) + " is never closed"};
  return false;
}

// The pairs of a WUSS line (columns, 0-based). Sets *reversed when its angle
// brackets balance only as '>' 5', '<' 3'. Returns false with the leftmost fault.
bool MatchWuss(const std::string& text, std::vector<BasePair>* pairs, bool* reversed, StructureFault* fault) {
  *reversed = false;
  StructureFault first;
  auto keep = [&](const StructureFault& found) {
    if (first.column < 0 || found.column < first.column) first = found;
  };
  StructureFault found;
  if (!MatchKind(text, '<', '>', pairs, &found)) {
    StructureFault ignored;
    if (MatchKind(text, '>', '<', pairs, &ignored)) {
      *reversed = true;
    } else {
      keep(found);
    }
  }
  for (const auto& [opener, closer] : {std::pair{'(', ')'}, std::pair{'[', ']'}, std::pair{'{', '}'}}) {
    if (!MatchKind(text, opener, closer, pairs, &found)) keep(found);
  }
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    if (!MatchKind(text, letter, static_cast<char>(letter - 'A' + 'a'), pairs, &found)) keep(found);
  }
  if (first.column < 0) return true;
  *fault = first;
  return false;
}

// Where column (0-based) of line is in the file: its line, and its column
// there (1-based).
std::pair<int64_t, int64_t> LocateColumn(const StockholmLine& line, int64_t column) {
  size_t piece = 0;
  while (piece + 1 < line.piece_columns.size() && line.piece_columns[piece + 1] <= column) ++piece;
  return {line.piece_lines[piece], line.piece_offsets[piece] + column - line.piece_columns[piece] + 1};
}

bool IsStockholmGap(char c) { return c == '.' || c == '-' || c == '_' || c == '~'; }

std::string Prefix(const char* path, int64_t line) { return ShowText(path) + ": line " + std::to_string(line) + ": "; }

// The file at path, or standard input for "-".
LineFilePointer OpenStockholmFile(const char* path) {
  if (std::string_view(path) == "-") return OpenStandardInputLines("Stockholm file");
  return OpenLineFile(path, "Stockholm file");
}

}  // namespace

bool IsStockholmFile(const char* path) {
  const bool standard_input = std::string_view(path) == "-";
  long long position = 0;
  if (standard_input && !StandardInputPosition(&position)) return false;
  // A named pipe or a device (a process substitution, say) can be read only
  // once: looking at it would take its first line from its reader.
  struct stat info;
  if (!standard_input && stat(path, &info) == 0 && !S_ISREG(info.st_mode)) return false;
  bool stockholm = false;
  try {
    LineFilePointer file = OpenStockholmFile(path);
    std::string line;
    while (ReadLine(file.get(), &line)) {
      const std::string_view text = Trimmed(line);
      if (text.empty()) continue;
      stockholm = text == kHeader;
      break;
    }
  } catch (const SequenceFailure&) {
    // The reader of the format the file turns out to have says what is wrong.
  }
  if (standard_input) RestoreStandardInput(position);
  return stockholm;
}

std::vector<StockholmAlignment> ReadStockholmAlignments(const char* path) {
  LineFilePointer file = OpenStockholmFile(path);
  const std::string shown_path = ShowText(path);
  std::vector<StockholmAlignment> alignments;
  std::unique_ptr<AlignmentReader> reader;
  std::string line;
  while (ReadLine(file.get(), &line)) {
    const int64_t number = LinesRead(file.get());
    const std::string_view text = Trimmed(line);
    if (reader == nullptr) {
      if (text.empty()) continue;
      if (text != kHeader) {
        throw SequenceFailure(alignments.empty() ? SequenceFailureKind::kNotSequences
                                                 : SequenceFailureKind::kBadStructure,
                              Prefix(path, number) + "expected \"# STOCKHOLM 1.0\" to start an alignment");
      }
      reader = std::make_unique<AlignmentReader>();
      reader->shown_path = shown_path;
      reader->alignment.line = number;
      reader->StartBlock();
      continue;
    }
    reader->line = number;
    reader->indent = text.empty() ? 0 : static_cast<int64_t>(text.data() - line.data());
    if (text.empty()) {
      reader->StartBlock();
    } else if (text == "//") {
      alignments.push_back(reader->Finish());
      reader.reset();
    } else if (text.rfind("# STOCKHOLM", 0) == 0) {
      reader->Fail("a new alignment starts before the one at line " + std::to_string(reader->alignment.line) +
                   " ends with \"//\"");
    } else {
      reader->ReadItem(text);
    }
  }
  if (reader != nullptr) {
    throw SequenceFailure(SequenceFailureKind::kBadStructure,
                          Prefix(path, LinesRead(file.get())) + "the file ends before the alignment that starts at line " +
                              std::to_string(reader->alignment.line) + " ends with \"//\"");
  }
  if (alignments.empty()) {
    throw SequenceFailure(SequenceFailureKind::kNotSequences, shown_path + ": no Stockholm alignment found");
  }
  return alignments;
}

StockholmProjection ProjectStockholmRow(const char* path, const StockholmAlignment& alignment, size_t k,
                                        StockholmStructure which, const LetterPolicy& policy) {
  const StockholmRow& row = alignment.rows[k];
  StockholmProjection projection;
  projection.record.name = row.name;
  std::string raw = row.aligned.text;
  for (char& c : raw) {
    if (IsStockholmGap(c)) c = '-';
  }
  const int64_t row_line = row.aligned.piece_lines[0];
  RefusedLetters refused;
  try {
    ConvertLetters(raw, policy, &projection.record, &refused);
  } catch (const SequenceFailure& failure) {
    throw SequenceFailure(failure.sequence_kind(), Prefix(path, row_line) + failure.what());
  }
  if (refused.invalid > 0 || refused.ambiguous > 0) {
    // Each shown letter by its base in the ungapped row and its alignment
    // column; the message starts where the first of them is in the file.
    std::vector<RefusedLetter>& shown = refused.invalid > 0 ? refused.invalid_shown : refused.ambiguous_shown;
    std::string where;
    for (size_t k = 0; k < shown.size(); ++k) {
      int64_t base = 0;
      for (int64_t c = 0; c <= shown[k].offset; ++c) base += raw[static_cast<size_t>(c)] == '-' ? 0 : 1;
      const auto [file_line, file_column] = LocateColumn(row.aligned, shown[k].offset);
      shown[k].place = "base " + std::to_string(base) + " in alignment column " + std::to_string(shown[k].offset + 1);
      if (k == 0) {
        where = Prefix(path, file_line) + "column " + std::to_string(file_column) + ": ";
      } else {
        shown[k].place += " (line " + std::to_string(file_line) + ", column " + std::to_string(file_column) + ")";
      }
    }
    FailRefusedLetters(where, row.name, refused);
  }
  const bool own = which == StockholmStructure::kOwn && !row.own.text.empty();
  const StockholmLine& line = own ? row.own : alignment.consensus;
  if (line.text.empty()) return projection;
  const std::string what = own ? "#=GR " + ShowText(row.name) + " SS" : std::string("#=GC SS_cons");
  std::vector<BasePair> columns;
  StructureFault fault;
  if (!MatchWuss(line.text, &columns, &projection.reversed, &fault)) {
    const auto [file_line, file_column] = LocateColumn(line, fault.column);
    throw SequenceFailure(SequenceFailureKind::kBadStructure,
                          Prefix(path, file_line) + "column " + std::to_string(file_column) + ": " + what +
                              ": " + fault.reason + " (alignment column " + std::to_string(fault.column + 1) + ")");
  }
  // The position of each column's letter in the sequence, 0 for a removed one.
  std::vector<int32_t> position(raw.size(), 0);
  int32_t kept = 0;
  for (size_t c = 0; c < raw.size(); ++c) {
    const char letter = raw[c];
    const bool removed =
        IsStockholmGap(letter) || (IsAmbiguityCode(letter) && policy.ambiguous == AmbiguousLetters::kDrop);
    if (!removed) position[c] = ++kept;
  }
  std::vector<BasePair> pairs;
  for (const BasePair& pair : columns) {
    const int32_t i = position[static_cast<size_t>(pair.i)], j = position[static_cast<size_t>(pair.j)];
    if (i != 0 && j != 0) pairs.push_back(BasePair{i, j});
  }
  try {
    projection.structure = FormatDotBracket(pairs, kept);
  } catch (const Failure& failure) {
    throw SequenceFailure(SequenceFailureKind::kBadStructure, Prefix(path, row_line) + "record " +
                                                                  ShowText(row.name) + ": " + what + ": " +
                                                                  failure.what());
  }
  projection.has_structure = true;
  projection.structure_line = line.piece_lines[0];
  projection.structure_source = what;
  return projection;
}

std::string ReversedStructureNote(const char* path, int64_t count, const std::string& first_what,
                                  int64_t first_line) {
  if (count == 0) return {};
  std::string note = Prefix(path, first_line) + first_what;
  if (count > 1) note += " and " + std::to_string(count - 1) + " more SS " + (count == 2 ? "line" : "lines");
  return note + (count > 1 ? " write" : " writes") +
         " the 5' side of a pair as '>' and the 3' side as '<', the reverse of WUSS; read that way";
}

StockholmProjection ReadStockholmRecord(const char* path, const RecordChoice& choice, StockholmStructure which,
                                        const LetterPolicy& policy) {
  const std::vector<StockholmAlignment> alignments = ReadStockholmAlignments(path);
  int64_t number = 0;
  for (const StockholmAlignment& alignment : alignments) {
    for (size_t k = 0; k < alignment.rows.size(); ++k) {
      ++number;
      const bool chosen = choice.kind == ChoiceKind::kFirst ||
                          (choice.kind == ChoiceKind::kByName && alignment.rows[k].name == choice.name) ||
                          (choice.kind == ChoiceKind::kByIndex && number == choice.index);
      if (chosen) return ProjectStockholmRow(path, alignment, k, which, policy);
    }
  }
  const std::string what = choice.kind == ChoiceKind::kByName ? "no record named " + ShowText(choice.name)
                                                              : "no record number " + std::to_string(choice.index);
  throw SequenceFailure(SequenceFailureKind::kNoSuchRecord, ShowText(path) + ": " + what + ": the file has " +
                                                                std::to_string(number) +
                                                                (number == 1 ? " record" : " records"));
}
