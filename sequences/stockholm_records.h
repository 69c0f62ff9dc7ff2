// Reading Stockholm alignments (plain, gzip or bgzip, through htslib): every
// sequence ungapped under the letter rules, with its reference structure
// projected from the alignment's WUSS secondary structure line. Nothing here
// prints: every failure is thrown as a SequenceFailure whose message names the
// file, the line and the item.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sequences/sequence_letters.h"
#include "sequences/sequence_records.h"

// A line of an alignment (a sequence row or a structure line), gathered from
// its blocks.
struct StockholmLine {
  std::string text;                    // one character per alignment column
  std::vector<int64_t> piece_columns;  // the first column (0-based) of each block's piece
  std::vector<int64_t> piece_lines;    // the line of each piece (1-based)
  std::vector<int64_t> piece_offsets;  // where the piece starts in its line (0-based)
};

// One sequence of an alignment as written: its row gathered from every block.
struct StockholmRow {
  std::string name;
  StockholmLine aligned;  // the aligned letters, gaps included
  StockholmLine own;      // its #=GR <name> SS line; text empty when it has none
};

// One alignment, from its "# STOCKHOLM 1.0" line to its "//".
struct StockholmAlignment {
  int64_t line = 0;                 // the line of "# STOCKHOLM 1.0"
  std::vector<StockholmRow> rows;   // in the order of the first block
  StockholmLine consensus;         // #=GC SS_cons; text empty when there is none
};

// Which structure line a sequence's reference comes from.
enum class StockholmStructure {
  kConsensus,  // #=GC SS_cons
  kOwn,        // the sequence's #=GR <name> SS where it has one, SS_cons otherwise
};

// True when the first line of the file at path that is not blank reads
// "# STOCKHOLM 1.0" (after decompression). "-" is standard input, looked at
// only when it is seekable (see HoldStandardInput) and put back where it was;
// false for it when it is a pipe, for a path that is not a regular file (a
// named pipe or a device, which looking would consume), and for a file that
// cannot be read (its reader reports why).
bool IsStockholmFile(const char* path);

// Reads every alignment of the Stockholm file at path ("-": standard input from
// where it stands, named "-" in messages). Blocks are separated by
// blank lines; a name may appear once per block. Checks that every row, #=GC
// SS_cons and #=GR SS piece of a block has the block's width, that every row
// and structure line covers the whole alignment, that every #=GR line names a
// row, and that each alignment ends with "//". Throws SequenceFailure:
// kUnreadable "<path>: Stockholm file: cannot read: <reason>", kCorrupt for
// damaged compressed data, kNotSequences or kBadStructure "<path>: line <L>:
// <what>" for a file not laid out so.
std::vector<StockholmAlignment> ReadStockholmAlignments(const char* path);

// A projected sequence, ready to be written.
struct StockholmProjection {
  SequenceRecord record;     // the row's name and letters under the rules, with their counts
  bool has_structure = false;  // false when the alignment has no structure line for the row
  std::string structure;     // dot-bracket over record.letters (see FormatDotBracket)
  bool reversed = false;     // the structure line's angle brackets were read '>' 5', '<' 3'
  int64_t structure_line = 0;  // the first line of the structure line used
  std::string structure_source;  // "#=GC SS_cons" or "#=GR <name> SS", the name shown
};

// Projects row k (0-based) of alignment: the row's letters under policy, with
// '.', '-', '_' and '~' as gaps, and the WUSS structure chosen by which: "<>",
// "()", "[]" and "{}" pair, an upper case letter pairs with the same letter in
// lower case, every other character is unpaired. A pair is kept when both of its
// columns hold a letter kept in the sequence. A line whose angle brackets
// balance only with '>' as the 5' side is read that way (reversed is set).
// Throws SequenceFailure: refused letters as "<path>: line <L>: column <C>:
// record <name>: <count> <what> (<letter> at base <B> in alignment column <A>,
// <letter> at base <B> in alignment column <A> (line <L>, column <C>), ...)",
// L and C where the first shown letter is in the file, B its position in the
// ungapped row; a record left empty as "<path>: line <L>: record <name>: ..."
// (L the row's first line); kBadStructure "<path>: line <L>: column <C>: ..."
// for an unbalanced structure line (L and C where the fault is, with its
// alignment column).
StockholmProjection ProjectStockholmRow(const char* path, const StockholmAlignment& alignment, size_t k,
                                        StockholmStructure which, const LetterPolicy& policy);

// The note for count reversed structure lines, the first of them first_what
// (a structure_source) at first_line: empty when count is 0, else "<path>: line
// <L>: <what> [and <count - 1> more SS lines] write[s] the 5' side of a pair as
// '>' and the 3' side as '<', the reverse of WUSS; read that way".
std::string ReversedStructureNote(const char* path, int64_t count, const std::string& first_name,
                                  int64_t first_line);

// Reads the record chosen by choice from the Stockholm file at path (its rows in
// file order across alignments, numbered from 1), projected as
// ProjectStockholmRow does. Throws as ReadStockholmAlignments and
// ProjectStockholmRow do, and kNoSuchRecord for a choice that names no row.
StockholmProjection ReadStockholmRecord(const char* path, const RecordChoice& choice, StockholmStructure which,
                                        const LetterPolicy& policy);
