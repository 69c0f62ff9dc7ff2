#include "python/sequence_files.h"

#include "core/failure.h"
#include "core/sequence_reader.h"
#include "core/shown_text.h"

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

std::string ReadSequenceFileLetters(const std::string& path, const RecordChoice& choice,
                                    const LetterPolicy& policy, std::string* name) {
  name->clear();
  // The readers take "-" for standard input; here it can only name a file.
  if (path == "-") return ReadSequenceFileLetters("./-", choice, policy, name);
  if (DetectSequenceFileKind(path.c_str()) != SequenceFileKind::kFastaOrFastq) {
    if (choice.kind != ChoiceKind::kFirst) {
      throw Failure(FailureKind::kData, ShowText(path) + ": a record is chosen, but the file is in rnaqubo's input "
                                                         "format, which holds one sequence");
    }
    return ReadCountedSequenceFile(path.c_str());
  }
  SequenceRecord record = ReadSequenceRecord(path.c_str(), choice, policy);
  *name = record.name;
  return record.letters;
}
