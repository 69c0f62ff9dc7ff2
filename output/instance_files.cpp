#include "output/instance_files.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <new>

#include "core/failure.h"
#include "core/shown_text.h"
#include "model/quad_couplings.h"
#include "model/row_entries.h"

namespace {

// One coupling of a row: its column (1-based) and its value in the model.
struct RowCoupling {
  int32_t column;
  int32_t value;
};

// Gathers the couplings of one row as WalkRowEntries visits them.
struct CouplingCollector {
  int32_t penalty;
  std::vector<RowCoupling>* out;
  void Diagonal(int32_t) {}
  void Conflicts(int32_t first, const uint8_t* flags, int32_t count) {
    for (int32_t k = 0; k < count; ++k) {
      if (flags[k] != 0) out->push_back({first + k, penalty});
    }
  }
  void Bonus(int32_t column) { out->push_back({column, kChainBonusValue}); }
  void Link(int32_t column) { out->push_back({column, kStackLinkValue}); }
};

// The couplings of row l of model, ascending by column, at *out (replaced).
void ListRowCouplings(const QuadModel& model, int32_t l, uint8_t* flags, std::vector<RowCoupling>* out) {
  out->clear();
  CouplingCollector collector{model.penalty, out};
  WalkRowEntries(model, l, flags, collector);
  // Only the chain bonus stands out of the ascending order.
  std::sort(out->begin(), out->end(), [](const RowCoupling& a, const RowCoupling& b) { return a.column < b.column; });
}

const char* KindWord(InstanceKind kind) {
  switch (kind) {
    case InstanceKind::kLp:
      return "lp";
    case InstanceKind::kMilp:
      return "milp";
    case InstanceKind::kQubo:
      break;
  }
  return "qubo";
}

// Buffered writing of an instance file, each failure thrown as Failure kFile
// "<path>: <kind> file: cannot write: <reason>" after the partial file is removed.
class InstanceWriter {
 public:
  InstanceWriter(const std::string& path, InstanceKind kind, const std::vector<KeptFile>& kept)
      : path_(path), kind_(kind) {
    for (const KeptFile& input : kept) {
      if (OutputWouldReplace(path, input)) {
        throw Failure(FailureKind::kFile, Prefix() + kInputOverwriteReason, path, EEXIST);
      }
    }
    try {
      StartOutputFile(path, nullptr, &file_);
    } catch (const OutputFileFailure& failure) {
      if (failure.stage() == OutputStage::kMemory) throw;
      throw Failure(FailureKind::kFile, Prefix() + failure.Explanation(), path, failure.error_number());
    }
    text_.reserve(kFlushBytes + 256);
  }
  InstanceWriter(const InstanceWriter&) = delete;
  InstanceWriter& operator=(const InstanceWriter&) = delete;
  ~InstanceWriter() { DiscardOutputFile(&file_); }

  std::string& text() { return text_; }
  void Add(const std::string& piece) { text_ += piece; }
  template <typename... Pieces>
  void Add(const char* first, const Pieces&... rest) {
    text_ += first;
    (Add(rest), ...);
  }
  void Add(int64_t number) {
    char digits[24];
    text_.append(digits, std::to_chars(digits, digits + sizeof digits, number).ptr);
  }
  // Writes out the text gathered so far once it is large.
  void Drain() {
    if (text_.size() >= kFlushBytes) Flush();
  }
  void Commit() {
    Flush();
    if (!CommitOutputFile(&file_)) Fail();
  }

 private:
  static constexpr size_t kFlushBytes = size_t{1} << 20;
  std::string Prefix() const { return ShowText(path_) + ": " + KindWord(kind_) + " file: cannot write: "; }
  void Flush() {
    errno = 0;
    if (!text_.empty() && !WriteOutputBytes(&file_, text_.data(), text_.size())) Fail();
    text_.clear();
  }
  [[noreturn]] void Fail() {
    const int error_number = errno != 0 ? errno : EIO;
    DiscardOutputFile(&file_);
    throw Failure(FailureKind::kFile, Prefix() + std::strerror(error_number), path_, error_number);
  }
  std::string path_;
  InstanceKind kind_;
  OutputFile file_;
  std::string text_;
};

// " + v name" or " - |v| name" for a linear term.
void AddTerm(InstanceWriter* out, int64_t value, const std::string& name) {
  out->Add(value < 0 ? " - " : " + ");
  out->Add(value < 0 ? -value : value);
  out->Add(" ");
  out->Add(name);
  out->Add("\n");
}

// Built by appending: g++ 12 warns falsely on "x" + std::to_string(k).
std::string VariableName(char letter, int32_t k) {
  char text[16] = {letter};
  return std::string(text, std::to_chars(text + 1, text + sizeof text, k).ptr);
}
std::string XName(int32_t k) { return VariableName('x', k); }
std::string YName(int32_t l, int32_t m) {
  std::string name = VariableName('y', l);
  name += '_';
  name += std::to_string(m);
  return name;
}

// The "Binary" section listing x1..xQ, ten to a line, and "End".
void AddBinaryEnd(InstanceWriter* out, int32_t quad_count) {
  out->Add("Binary\n");
  for (int32_t k = 1; k <= quad_count; ++k) {
    out->Add(" ");
    out->Add(XName(k));
    if (k % 10 == 0 || k == quad_count) out->Add("\n");
  }
  out->Add("End\n");
}

// Memory shortage while formatting, reported as the tools report it.
template <typename Work>
void WithMemoryFailure(Work work) {
  try {
    work();
  } catch (const std::bad_alloc&) {
    throw Failure(FailureKind::kMemory, kArrayAllocationFailure);
  }
}

}  // namespace

std::string FormatInstanceHeader(const QuadModel& model, const InstanceHeader& header, InstanceKind kind,
                                 bool negated, const char* prefix) {
  const std::string p = prefix;
  std::string text;
  text += p + "rnaqubo instance: " + KindWord(kind) + "\n";
  text += p + "name: " + (header.name.empty() ? std::string("-") : ShowText(header.name)) + "\n";
  text += p + "sequence: " + std::string(model.buffer + 1, static_cast<size_t>(model.n)) + "\n";
  text += p + "input: " + ShowText(header.input) + "\n";
  text += p + "length: " + std::to_string(model.n) + "\n";
  text += p + "min_distance: " + std::to_string(header.min_distance) + "\n";
  text += p + "add_quads: " + std::to_string(model.add_quads != 0 ? 1 : 0) + "\n";
  text += p + "penalty: " + std::to_string(model.penalty) + "\n";
  text += p + "variables: " + std::to_string(model.quad_count) + "\n";
  if (kind == InstanceKind::kQubo) {
    text += p + "numbering: node k - 1 is variable k of the model (answers are zero-based)\n";
  } else {
    text += p + "numbering: x<k> is variable k of the model (answers are one-based)\n";
  }
  text += p + (negated ? "values: negated, minimise: the minimum is minus the model's maximum\n"
                       : "values: as in the model, maximise\n");
  return text;
}

bool MilpUsesConflictConstraints(const QuadModel& model) {
  return model.penalty < 0 && int64_t{model.penalty} <= -int64_t{QuadModelBound(model)};
}

void WriteLpInstance(const QuadModel& model, const InstanceHeader& header, const std::string& path,
                     const std::vector<KeptFile>& kept) {
  WithMemoryFailure([&] {
    InstanceWriter out(path, InstanceKind::kLp, kept);
    out.Add(FormatInstanceHeader(model, header, InstanceKind::kLp, false, "\\ "));
    out.Add("Maximize\n obj:\n");
    for (int32_t k = 1; k <= model.quad_count; ++k) AddTerm(&out, model.score[k], XName(k));
    std::vector<uint8_t> flags(kFlagChunk);
    std::vector<RowCoupling> couplings;
    bool open = false;
    for (int32_t l = 1; l <= model.quad_count; ++l) {
      ListRowCouplings(model, l, flags.data(), &couplings);
      for (const RowCoupling& c : couplings) {
        if (c.value == 0) continue;
        if (!open) out.Add(" + [\n");
        open = true;
        AddTerm(&out, int64_t{2} * c.value, XName(l) + " * " + XName(c.column));
      }
      out.Drain();
    }
    if (open) out.Add(" ] / 2\n");
    AddBinaryEnd(&out, model.quad_count);
    out.Commit();
  });
}

namespace {

// Whether two quads share a position. Such couples are covered by the
// position rows.
bool SharePosition(const int32_t* a, const int32_t* b) {
  for (int k = 0; k < 4; ++k) {
    if (a[k] == b[0] || a[k] == b[1] || a[k] == b[2] || a[k] == b[3]) return true;
  }
  return false;
}

// The position rows: for each position p held by two or more quads, the sum of
// those quads minus the y of each stack link among them is at most 1. The quads
// at p and their links form a matching (a quad holding p in its inner pair is
// linked to the one holding p in its outer pair, at most one each way), so the
// sum counts the chosen groups at p: p pairs once, and two chosen quads that
// share p without continuing one another exceed 1.
void AddPositionRows(InstanceWriter* out, const QuadModel& model) {
  std::vector<std::vector<int32_t>> holders(static_cast<size_t>(model.n) + 2);
  for (int32_t k = 1; k <= model.quad_count; ++k) {
    const int32_t* q = MatrixRow(model.quads, k);
    for (int r = 0; r < 4; ++r) holders[q[r]].push_back(k);
  }
  for (int32_t p = 1; p <= model.n; ++p) {
    const std::vector<int32_t>& members = holders[p];
    if (members.size() < 2) continue;
    for (size_t k = 0; k < members.size(); ++k) out->Add(k == 0 ? " " : " + ", XName(members[k]));
    for (const int32_t l : members) {
      const int32_t* q = MatrixRow(model.quads, l);
      if ((q[2] == p || q[3] == p) && model.next[l] > 0) out->Add(" - ", YName(l, model.next[l]));
    }
    out->Add(" <= 1\n");
    out->Drain();
  }
}

}  // namespace

void WriteMilpInstance(const QuadModel& model, const InstanceHeader& header, const std::string& path,
                       const std::vector<KeptFile>& kept, MilpForm form) {
  WithMemoryFailure([&] {
    InstanceWriter out(path, InstanceKind::kMilp, kept);
    out.Add(FormatInstanceHeader(model, header, InstanceKind::kMilp, false, "\\ "));
    const bool constraints = MilpUsesConflictConstraints(model);
    const std::string limit = std::to_string(-int64_t{QuadModelBound(model)});
    const std::string penalty = std::to_string(model.penalty);
    out.Add("\\ couplings: y<l>_<m> is x<l> x<m>: y <= x<l>, y <= x<m> for a positive value\n");
    const bool positions = constraints && form == MilpForm::kPositions;
    if (constraints) {
      out.Add("\\ conflicts: no conflicting couple may be chosen, because the penalty " + penalty + " <= " + limit +
              " certifies that the best conflict-free selection is the maximum of the model\n");
      out.Add(positions ? "\\ form: per position, the quads that hold it minus the stack links among them sum to at "
                          "most 1; x<l> + x<m> <= 1 for the conflicting couples that share no position\n"
                        : "\\ form: x<l> + x<m> <= 1 for each conflicting couple\n");
    } else if (model.penalty < 0) {
      out.Add("\\ conflicts: y<l>_<m> >= x<l> + x<m> - 1 with the penalty in the objective, because the penalty " +
              penalty + " > " + limit + " does not certify the conflict-free optimum\n");
    } else if (model.penalty > 0) {
      out.Add("\\ conflicts: a positive penalty, taken as any positive coupling\n");
    } else {
      out.Add("\\ conflicts: the penalty 0 adds nothing to the value and is left out\n");
    }
    // Two passes over the rows: the objective's terms, then the constraints.
    std::vector<uint8_t> flags(kFlagChunk);
    std::vector<RowCoupling> couplings;
    out.Add("Maximize\n obj:\n");
    for (int32_t k = 1; k <= model.quad_count; ++k) AddTerm(&out, model.score[k], XName(k));
    for (int32_t l = 1; l <= model.quad_count; ++l) {
      ListRowCouplings(model, l, flags.data(), &couplings);
      for (const RowCoupling& c : couplings) {
        if (c.value == 0 || (c.value < 0 && constraints)) continue;
        AddTerm(&out, c.value, YName(l, c.column));
      }
      out.Drain();
    }
    out.Add("Subject To\n");
    if (positions) AddPositionRows(&out, model);
    for (int32_t l = 1; l <= model.quad_count; ++l) {
      ListRowCouplings(model, l, flags.data(), &couplings);
      const std::string xl = XName(l);
      for (const RowCoupling& c : couplings) {
        const std::string xm = XName(c.column);
        if (c.value > 0) {
          const std::string y = YName(l, c.column);
          out.Add(" ", y, " - ", xl, " <= 0\n ", y, " - ", xm, " <= 0\n");
        } else if (c.value < 0 && constraints) {
          if (!positions || !SharePosition(MatrixRow(model.quads, l), MatrixRow(model.quads, c.column))) {
            out.Add(" ", xl, " + ", xm, " <= 1\n");
          }
        } else if (c.value < 0) {
          out.Add(" ", YName(l, c.column), " - ", xl, " - ", xm, " >= -1\n");
        }
      }
      out.Drain();
    }
    AddBinaryEnd(&out, model.quad_count);
    out.Commit();
  });
}

void WriteQuboInstance(const QuadModel& model, const InstanceHeader& header, const std::string& path, bool negate,
                       const std::vector<KeptFile>& kept) {
  WithMemoryFailure([&] {
    InstanceWriter out(path, InstanceKind::kQubo, kept);
    std::vector<uint8_t> flags(kFlagChunk);
    std::vector<RowCoupling> couplings;
    int64_t coupling_count = 0;
    for (int32_t l = 1; l <= model.quad_count; ++l) {
      ListRowCouplings(model, l, flags.data(), &couplings);
      coupling_count += static_cast<int64_t>(couplings.size());
    }
    out.Add(FormatInstanceHeader(model, header, InstanceKind::kQubo, negate, "c "));
    out.Add("p qubo 0 ");
    out.Add(int64_t{model.quad_count});
    out.Add(" ");
    out.Add(int64_t{model.quad_count});
    out.Add(" ");
    out.Add(coupling_count);
    out.Add("\n");
    const int64_t sign = negate ? -1 : 1;
    for (int32_t l = 1; l <= model.quad_count; ++l) {
      out.Add(int64_t{l - 1});
      out.Add(" ");
      out.Add(int64_t{l - 1});
      out.Add(" ");
      out.Add(sign * model.score[l]);
      out.Add("\n");
      out.Drain();
    }
    for (int32_t l = 1; l <= model.quad_count; ++l) {
      ListRowCouplings(model, l, flags.data(), &couplings);
      for (const RowCoupling& c : couplings) {
        out.Add(int64_t{l - 1});
        out.Add(" ");
        out.Add(int64_t{c.column - 1});
        out.Add(" ");
        out.Add(sign * c.value);
        out.Add("\n");
      }
      out.Drain();
    }
    out.Commit();
  });
}
