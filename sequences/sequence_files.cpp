#include "sequences/sequence_files.h"

#include "core/failure.h"
#include "core/sequence_reader.h"
#include "core/shown_text.h"

#include <utility>

std::string NormaliseSequenceText(const std::string& text, const LetterPolicy& policy) {
  SequenceRecord record;
  try {
    NormaliseLetters(text, policy, &record);
  } catch (const SequenceFailure& failure) {
    // The rules name the record ("record <name>: "); a string has none.
    std::string message = failure.what();
    const std::string unnamed = "record : ";
    if (message.rfind(unnamed, 0) == 0) message.erase(0, unnamed.size());
    throw SequenceFailure(failure.sequence_kind(), message);
  }
  return record.letters;
}

SequenceFileRecord ReadSequenceFileRecord(const std::string& path, const RecordChoice& choice,
                                          StockholmStructure which, const LetterPolicy& policy) {
  // The readers take "-" for standard input; here it can only name a file.
  if (path == "-") return ReadSequenceFileRecord("./-", choice, which, policy);
  SequenceFileRecord result;
  if (IsStockholmFile(path.c_str())) {
    StockholmProjection projection = ReadStockholmRecord(path.c_str(), choice, which, policy);
    result.name = std::move(projection.record.name);
    result.letters = std::move(projection.record.letters);
    result.has_reference = projection.has_structure;
    result.reference = std::move(projection.structure);
    return result;
  }
  if (which == StockholmStructure::kOwn) {
    throw Failure(FailureKind::kUsage, ShowText(path) + ": structure=\"own\" needs a Stockholm alignment");
  }
  if (DetectSequenceFileKind(path.c_str()) != SequenceFileKind::kFastaOrFastq) {
    if (choice.kind != ChoiceKind::kFirst) {
      throw Failure(FailureKind::kData, ShowText(path) + ": a record is chosen, but the file is in rnaqubo's input "
                                                         "format, which holds one sequence");
    }
    result.letters = ReadCountedSequenceFile(path.c_str());
    return result;
  }
  SequenceRecord record = ReadSequenceRecord(path.c_str(), choice, policy);
  result.name = std::move(record.name);
  result.letters = std::move(record.letters);
  return result;
}
