// Whether two output names of one run lead to one file, so that a tool can
// refuse the run before either is written: the second file would replace the
// first, and one of the two outputs would be lost.
#pragma once

#include <string>

// Whether a and b would be written to one file or directory: the same existing one
// (links followed), or the same name, not existing yet, in the same directory.
// A name that leads to something written in place (a device such as
// /dev/null, a FIFO) shares with nothing: several outputs may go there.
bool NameOneOutputFile(const std::string& a, const std::string& b);
