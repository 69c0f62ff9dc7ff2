// Standard input made readable more than once, so that its format can be told
// from its first line before its reader starts: a pipe is copied whole into a
// private temporary file that takes its place as descriptor 0.
#pragma once

// Makes standard input seekable. When it is not (a pipe, a terminal), reads all
// of it through htslib, byte for byte as it comes (compressed or not), into a
// temporary file created in $TMPDIR (or /tmp) and unlinked at once, which then
// stands as descriptor 0 at its start; seekable or closed standard input is
// left as it is. Throws SequenceFailure kUnreadable "-: standard input: cannot
// read: <reason>" or "-: standard input: cannot keep a copy in <dir>: <reason>".
void HoldStandardInput();

// Whether standard input is seekable; when it is, stores where it stands (a
// 0-based byte offset) in *position.
bool StandardInputPosition(long long* position);

// Puts standard input back at position (from StandardInputPosition). Throws
// SequenceFailure kUnreadable "-: standard input: cannot read: <reason>" when
// it cannot.
void RestoreStandardInput(long long position);
