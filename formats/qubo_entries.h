// The entries of a .qubo file (the text format of qbsolv and other annealers,
// the one WriteQuboInstance writes): comment lines "c ...", one problem line
// "p qubo <topology> <maxNodes> <nNodes> <nCouplers>", then one entry
// "i j value" a line, nodes from 0, a node's own value when i = j. Read from any
// such file, rnaqubo's or not. No printing; failures thrown.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The entries of a QUBO over nodes 0..node_count - 1, each couple once with
// row[k] <= column[k] (a coupling read as "j i" is stored as "i j"), in the
// order of the file. Its objective at a selection x is the sum of value[k] *
// x[row[k]] * x[column[k]].
struct QuboEntries {
  int32_t node_count = 0;
  std::vector<int32_t> row;
  std::vector<int32_t> column;
  std::vector<double> value;
  bool whole = true;       // every value a whole number from -(2^31 - 1) to 2^31 - 1
  bool rnaqubo = false;    // the first line is "c rnaqubo instance: qubo" (see instance_reader.h)
};

// The first entry k (in index order) whose couple (row[k], column[k]), taken
// either way round, some earlier entry already holds; -1 when none does.
// Needs count rows and columns.
int64_t FindRepeatedEntry(const int32_t* row, const int32_t* column, int64_t count);

// Reads the .qubo file at path. Throws Failure kFile "<path>: cannot read:
// <reason>" when it cannot be read, and kData "<path>: qubo file: line <n>:
// <reason>" for a line that is no comment, problem line or entry; a second
// problem line or an entry before the first; a count that is not a whole
// number from 0 to 2^31 - 1 or nNodes above maxNodes; a node outside 0..maxNodes
// - 1; a value that is not a finite number; a couple given twice; and
// "<path>: qubo file: <reason>" when the file has no problem line or its node
// or coupler lines differ in number from nNodes or nCouplers.
QuboEntries ReadQuboEntries(const std::string& path);
