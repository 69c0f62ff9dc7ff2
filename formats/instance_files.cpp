#include "formats/instance_files.h"

#include <sys/stat.h>

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

// The instance's variables 1..size, in its numbering: all of the model's, or a
// reduction's.
struct InstanceVariables {
  const QuadModel& model;
  const KeptVariables* kept;
  int32_t size;
  // The model's number of variable k.
  int32_t Original(int32_t k) const { return kept != nullptr ? kept->original[k] : k; }
  // The instance's number of the model's variable v, 0 when dropped.
  int32_t Renumbered(int32_t v) const { return kept != nullptr ? kept->renumbered[v] : v; }
};

InstanceVariables VariablesOf(const QuadModel& model, const InstanceHeader& header) {
  const KeptVariables* kept = header.reduction;
  return {model, kept, kept != nullptr ? static_cast<int32_t>(kept->original.size()) - 1 : model.quad_count};
}

// Gathers the couplings of a reduced row as WalkKeptRowEntries visits them.
struct CouplingCollector {
  std::vector<RowCoupling>* out;
  void Entry(int32_t row, int32_t column, int32_t value) {
    if (row != column) out->push_back({column, value});
  }
};

// The couplings of row l of the instance, ascending by column, at *out (replaced).
void ListRowCouplings(const InstanceVariables& variables, int32_t l, uint8_t* flags, std::vector<RowCoupling>* out) {
  out->clear();
  CouplingCollector collector{out};
  if (variables.kept != nullptr) {
    WalkKeptRowEntries(variables.model, *variables.kept, l, collector);
  } else {
    WalkRowEntryCalls(variables.model, l, flags, collector);
  }
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

// The linear terms of the objective, one per variable.
void AddScoreTerms(InstanceWriter* out, const InstanceVariables& variables) {
  for (int32_t k = 1; k <= variables.size; ++k) AddTerm(out, variables.model.score[variables.Original(k)], XName(k));
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
  const InstanceVariables variables = VariablesOf(model, header);
  std::string text;
  text += p + "rnaqubo instance: " + KindWord(kind) + "\n";
  text += p + "name: " + (header.name.empty() ? std::string("-") : ShowText(header.name)) + "\n";
  text += p + "sequence: " + std::string(model.buffer + 1, static_cast<size_t>(model.n)) + "\n";
  text += p + "input: " + ShowText(header.input) + "\n";
  text += p + "length: " + std::to_string(model.n) + "\n";
  text += p + "min_distance: " + std::to_string(header.min_distance) + "\n";
  text += p + "add_quads: " + std::to_string(model.add_quads != 0 ? 1 : 0) + "\n";
  text += p + "penalty: " + std::to_string(model.penalty) + "\n";
  if (header.reduction != nullptr) {
    text += p + "reduce: " + ShowText(header.reduce) + "\n";
    text += p + "reduced: " + std::to_string(variables.size) + " of " + std::to_string(model.quad_count) + "\n";
  }
  text += p + "variables: " + std::to_string(variables.size) + "\n";
  const char* whose = header.reduction != nullptr
                          ? " of the model reduced at the recorded distance"
                          : " of the model";
  if (kind == InstanceKind::kQubo) {
    text += p + "numbering: node k - 1 is variable k" + whose + " (an answer in node numbers is zero-based: read it with --zero-based; rnaqubo-anneal answers one-based, in variable numbers, and says so on its first line)\n";
  } else {
    text += p + "numbering: x<k> is variable k" + whose + " (answers are one-based)\n";
  }
  text += p + (negated ? "values: negated, minimise: the minimum is minus the model's maximum\n"
                       : "values: as in the model, maximise\n");
  return text;
}

int32_t InstanceBound(const QuadModel& model, const InstanceHeader& header) {
  if (header.reduction == nullptr) return QuadModelBound(model);
  const InstanceVariables variables = VariablesOf(model, header);
  // Each variable's score plus its positive couplings, as row or as column.
  struct PositiveSums {
    std::vector<int64_t> sum;
    void Entry(int32_t row, int32_t column, int32_t value) {
      if (row != column && value > 0) sum[row] += value, sum[column] += value;
    }
  } sums{std::vector<int64_t>(static_cast<size_t>(variables.size) + 1, 0)};
  for (int32_t k = 1; k <= variables.size; ++k) WalkKeptRowEntries(model, *header.reduction, k, sums);
  int64_t bound = 0;
  for (int32_t k = 1; k <= variables.size; ++k) {
    bound = std::max(bound, model.score[variables.Original(k)] + sums.sum[k]);
  }
  return static_cast<int32_t>(bound);
}

bool MilpUsesConflictConstraints(const QuadModel& model, const InstanceHeader& header) {
  return model.penalty < 0 && PenaltyCertifies(model.penalty, InstanceBound(model, header));
}

void ProbeInstanceFile(const std::string& path, InstanceKind kind, const std::vector<KeptFile>& kept) {
  struct stat status;
  if (stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode)) return;
  InstanceWriter probe(path, kind, kept);
}

void WriteLpInstance(const QuadModel& model, const InstanceHeader& header, const std::string& path,
                     const std::vector<KeptFile>& kept) {
  WithMemoryFailure([&] {
    InstanceWriter out(path, InstanceKind::kLp, kept);
    const InstanceVariables variables = VariablesOf(model, header);
    out.Add(FormatInstanceHeader(model, header, InstanceKind::kLp, false, "\\ "));
    out.Add("Maximize\n obj:\n");
    AddScoreTerms(&out, variables);
    std::vector<uint8_t> flags(kFlagChunk);
    std::vector<RowCoupling> couplings;
    bool open = false;
    for (int32_t l = 1; l <= variables.size; ++l) {
      ListRowCouplings(variables, l, flags.data(), &couplings);
      for (const RowCoupling& c : couplings) {
        if (c.value == 0) continue;
        if (!open) out.Add(" + [\n");
        open = true;
        AddTerm(&out, int64_t{2} * c.value, XName(l) + " * " + XName(c.column));
      }
      out.Drain();
    }
    if (open) out.Add(" ] / 2\n");
    AddBinaryEnd(&out, variables.size);
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
// share p without continuing one another exceed 1. Over a reduction's
// variables the rows are those of the whole model at every selection among
// them: a dropped quad's x and the y of a link to it are 0 there. Returns
// whether it wrote a row.
bool AddPositionRows(InstanceWriter* out, const InstanceVariables& variables) {
  const QuadModel& model = variables.model;
  std::vector<std::vector<int32_t>> holders(static_cast<size_t>(model.n) + 2);
  for (int32_t k = 1; k <= variables.size; ++k) {
    const int32_t* q = MatrixRow(model.quads, variables.Original(k));
    for (int r = 0; r < 4; ++r) holders[q[r]].push_back(k);
  }
  bool written = false;
  for (int32_t p = 1; p <= model.n; ++p) {
    const std::vector<int32_t>& members = holders[p];
    if (members.size() < 2) continue;
    written = true;
    for (size_t k = 0; k < members.size(); ++k) out->Add(k == 0 ? " " : " + ", XName(members[k]));
    for (const int32_t l : members) {
      const int32_t original = variables.Original(l);
      const int32_t* q = MatrixRow(model.quads, original);
      const int32_t next = model.next[original] > 0 ? variables.Renumbered(model.next[original]) : 0;
      if ((q[2] == p || q[3] == p) && next > 0) out->Add(" - ", YName(l, next));
    }
    out->Add(" <= 1\n");
    out->Drain();
  }
  return written;
}

// The name of the one variable of an instance without variables: LP readers
// such as GLPK's take no objective without a term and no empty constraints
// section. It is no x<k>, so no answer holds it.
constexpr const char* kPlaceholderName = "unused";

}  // namespace

void WriteMilpInstance(const QuadModel& model, const InstanceHeader& header, const std::string& path,
                       const std::vector<KeptFile>& kept, MilpForm form) {
  WithMemoryFailure([&] {
    InstanceWriter out(path, InstanceKind::kMilp, kept);
    const InstanceVariables variables = VariablesOf(model, header);
    out.Add(FormatInstanceHeader(model, header, InstanceKind::kMilp, false, "\\ "));
    const bool constraints = MilpUsesConflictConstraints(model, header);
    const std::string limit = std::to_string(-int64_t{InstanceBound(model, header)});
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
    AddScoreTerms(&out, variables);
    if (variables.size == 0) AddTerm(&out, 0, kPlaceholderName);
    for (int32_t l = 1; l <= variables.size; ++l) {
      ListRowCouplings(variables, l, flags.data(), &couplings);
      for (const RowCoupling& c : couplings) {
        if (c.value == 0 || (c.value < 0 && constraints)) continue;
        AddTerm(&out, c.value, YName(l, c.column));
      }
      out.Drain();
    }
    out.Add("Subject To\n");
    bool rows = positions && AddPositionRows(&out, variables);
    for (int32_t l = 1; l <= variables.size; ++l) {
      ListRowCouplings(variables, l, flags.data(), &couplings);
      const std::string xl = XName(l);
      for (const RowCoupling& c : couplings) {
        const std::string xm = XName(c.column);
        if (c.value > 0) {
          const std::string y = YName(l, c.column);
          out.Add(" ", y, " - ", xl, " <= 0\n ", y, " - ", xm, " <= 0\n");
          rows = true;
        } else if (c.value < 0 && constraints) {
          if (!positions || !SharePosition(MatrixRow(model.quads, variables.Original(l)),
                                           MatrixRow(model.quads, variables.Original(c.column)))) {
            out.Add(" ", xl, " + ", xm, " <= 1\n");
            rows = true;
          }
        } else if (c.value < 0) {
          out.Add(" ", YName(l, c.column), " - ", xl, " - ", xm, " >= -1\n");
          rows = true;
        }
      }
      out.Drain();
    }
    // A section without rows stops some readers: a row that every selection
    // meets, within the variables' own bounds.
    if (!rows) out.Add(variables.size > 0 ? " x1 <= 1\n" : std::string(" ") + kPlaceholderName + " <= 0\n");
    AddBinaryEnd(&out, variables.size);
    out.Commit();
  });
}

void CheckNegatedPenalty(int32_t penalty) {
  if (penalty == INT32_MIN) throw Failure(FailureKind::kUsage, "the penalty -2147483648 has no 32-bit negation");
}

void WriteQuboInstance(const QuadModel& model, const InstanceHeader& header, const std::string& path, bool negate,
                       const std::vector<KeptFile>& kept) {
  if (negate) CheckNegatedPenalty(model.penalty);
  WithMemoryFailure([&] {
    InstanceWriter out(path, InstanceKind::kQubo, kept);
    const InstanceVariables variables = VariablesOf(model, header);
    std::vector<uint8_t> flags(kFlagChunk);
    std::vector<RowCoupling> couplings;
    int64_t coupling_count = 0;
    for (int32_t l = 1; l <= variables.size; ++l) {
      ListRowCouplings(variables, l, flags.data(), &couplings);
      coupling_count += static_cast<int64_t>(couplings.size());
    }
    out.Add(FormatInstanceHeader(model, header, InstanceKind::kQubo, negate, "c "));
    out.Add("p qubo 0 ");
    out.Add(int64_t{variables.size});
    out.Add(" ");
    out.Add(int64_t{variables.size});
    out.Add(" ");
    out.Add(coupling_count);
    out.Add("\n");
    const int64_t sign = negate ? -1 : 1;
    for (int32_t l = 1; l <= variables.size; ++l) {
      out.Add(int64_t{l - 1});
      out.Add(" ");
      out.Add(int64_t{l - 1});
      out.Add(" ");
      out.Add(sign * model.score[variables.Original(l)]);
      out.Add("\n");
      out.Drain();
    }
    for (int32_t l = 1; l <= variables.size; ++l) {
      ListRowCouplings(variables, l, flags.data(), &couplings);
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

std::string RecordNameOfFile(const std::string& path) {
  std::string name = path;
  const size_t slash = name.rfind('/');
  if (slash != std::string::npos) name.erase(0, slash + 1);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}

void WriteInstance(InstanceKind kind, const QuadModel& model, const InstanceHeader& header, const std::string& path,
                   bool negate, bool pairwise, const std::vector<KeptFile>& kept) {
  switch (kind) {
    case InstanceKind::kLp:
      return WriteLpInstance(model, header, path, kept);
    case InstanceKind::kMilp:
      return WriteMilpInstance(model, header, path, kept, pairwise ? MilpForm::kPairwise : MilpForm::kPositions);
    case InstanceKind::kQubo:
      break;
  }
  WriteQuboInstance(model, header, path, negate, kept);
}
