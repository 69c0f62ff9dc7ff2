// Reading a small input file (a solution, a reference structure, a sequence) whole.
#pragma once

#include <string>

// Appends the whole content of the file at path to *text. Returns false, with
// errno set, when it cannot be opened or read; a directory gives EISDIR.
bool ReadWholeFile(const char* path, std::string* text);
