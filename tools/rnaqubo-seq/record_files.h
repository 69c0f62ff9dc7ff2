// Writing records where rnaqubo and rnaqubo-fold read them: the input format, the
// dot-bracket file beside it, safe file names and the collection layout.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "sequences/sequence_letters.h"

// rnaqubo's input format for letters: the count, then one base per line.
std::string FormatInputFile(std::string_view letters);

// A dot-bracket file: ">name", the letters and the structure, each on a line.
std::string FormatDbnFile(const std::string& name, std::string_view letters,
                          std::string_view structure);

// name made safe as a file and directory name, in a shell and in a Snakemake
// rule: every byte but A-Z, a-z, 0-9, '.', '_' and '-' becomes '_', a leading '.' or '-' becomes '_' (so neither "." nor ".." nor a hidden
// name nor one read as an option results), "manifest.tsv" gains a trailing '_', and names longer than 200 bytes
// are cut. An empty name becomes "record_<index>" (index counted from 1).
std::string SafeRecordName(const std::string& name, int64_t index);

// Creates directory path and any missing parents. Returns false with errno set.
bool MakeDirectories(const std::string& path);

// Writes content to path through a temporary file renamed into place, so that path
// holds either its old content or all of content. When kept_path is given, a path
// that names that file (the input being read) is refused. Throws SequenceFailure
// kUnreadable "<path>: cannot write: <reason>" when it cannot be written.
void WriteFileAtomically(const std::string& path, std::string_view content, const char* kept_path = nullptr);
