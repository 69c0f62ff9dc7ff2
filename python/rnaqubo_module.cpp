// The Python module rnaqubo: the model of a sequence in memory, as numpy
// arrays, from the same model code as the executables. Nothing here ends the
// process: every failure is a Python exception carrying the tool's message.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <climits>
#include <cstring>
#include <string>

#include "core/dot_bracket.h"
#include "solve/anneal.h"
#include "solve/optimum.h"
#include "structure/reference_structure.h"
#include "model/quad_model.h"
#include "formats/instance_files.h"
#include "formats/output_file.h"
#include "formats/q_file.h"
#include "python/model_drawing.h"
#include "python/landscape_bindings.h"
#include "formats/entry_arrays.h"
#include "python/model_entries.h"
#include "core/failure.h"
#include "core/shown_text.h"
#include "core/work_threads.h"
#include "formats/q_file_reader.h"
#include "formats/solution_text.h"
#include "sequences/sequence_files.h"

namespace py = pybind11;
using namespace pybind11::literals;

namespace {

// value as a signed 32-bit integer, as the tool's arguments are.
// Any integer is taken through __index__ (numpy's integers among them); a float
// or a string is refused.
int32_t ToInt32(py::handle given, const char* name) {
  py::object value = py::reinterpret_borrow<py::object>(given);
  if (!py::isinstance<py::int_>(value)) {
    PyObject* index = PyNumber_Index(given.ptr());
    if (index == nullptr) {
      PyErr_Clear();
      throw py::type_error(std::string(name) + " must be an integer, not " +
                           py::str(py::type::of(given).attr("__name__")).cast<std::string>());
    }
    value = py::reinterpret_steal<py::object>(index);
  }
  int overflow = 0;
  const long long number = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
  if (overflow != 0 || number < INT32_MIN || number > INT32_MAX) {
    throw py::value_error("Number out of range: " + py::str(value).cast<std::string>());
  }
  return static_cast<int32_t>(number);
}

// A path given as str, bytes or os.PathLike, as the file system takes it. A
// NUL byte would cut the name short, so it is refused as open() refuses it.
std::string ToPath(py::handle path) {
  std::string bytes = py::module_::import("os").attr("fsencode")(path).cast<std::string>();
  if (bytes.find('\0') != std::string::npos) throw py::value_error("embedded null byte");
  return bytes;
}

// A new one-dimensional int32 array of size elements.
py::array_t<int32_t> NewArray(int64_t size) { return py::array_t<int32_t>(static_cast<py::ssize_t>(size)); }

// The model's three numbers, checked as the tool checks its arguments.
struct ModelNumbers {
  int32_t min_distance, add_quads, penalty;
};

ModelNumbers ToModelNumbers(py::handle min_distance, py::handle add_quads, py::handle penalty) {
  return ModelNumbers{ToInt32(min_distance, "min_distance"), ToInt32(add_quads, "add_quads"),
                      ToInt32(penalty, "penalty")};
}

// The letter rule for ambiguity codes named by text: "refuse" or "drop".
LetterPolicy ToLetterPolicy(const std::string& ambiguous) {
  LetterPolicy policy;
  if (ambiguous == "drop") {
    policy.ambiguous = AmbiguousLetters::kDrop;
  } else if (ambiguous != "refuse") {
    throw py::value_error("ambiguous must be \"refuse\" or \"drop\", not " + ShowQuoted(ambiguous, 40));
  }
  return policy;
}

// The record of a FASTA or FASTQ file given as None (the first), a name or a
// number from 1.
RecordChoice ToRecordChoice(py::handle record) {
  RecordChoice choice;
  if (record.is_none()) return choice;
  if (py::isinstance<py::str>(record)) {
    choice.kind = ChoiceKind::kByName;
    choice.name = record.cast<std::string>();
    return choice;
  }
  if (!py::isinstance<py::int_>(record) || py::isinstance<py::bool_>(record)) {
    throw py::type_error("record must be a name, a number from 1 or None");
  }
  choice.kind = ChoiceKind::kByIndex;
  choice.index = record.cast<int64_t>();
  if (choice.index < 1) throw py::value_error("record numbers count from 1, not " + std::to_string(choice.index));
  return choice;
}

std::unique_ptr<SequenceModel> MakeModel(const std::string& sequence, py::handle min_distance, py::handle add_quads,
                                         py::handle penalty, const std::string& ambiguous) {
  const ModelNumbers numbers = ToModelNumbers(min_distance, add_quads, penalty);
  const std::string letters = NormaliseSequenceText(sequence, ToLetterPolicy(ambiguous));
  return BuildSequenceModel(letters, numbers.min_distance, numbers.add_quads, numbers.penalty);
}

// The structure line of a Stockholm row named by text: "consensus" or "own".
StockholmStructure ToStockholmStructure(const std::string& structure) {
  if (structure == "own") return StockholmStructure::kOwn;
  if (structure != "consensus") {
    throw py::value_error("structure must be \"consensus\" or \"own\", not " + ShowQuoted(structure, 40));
  }
  return StockholmStructure::kConsensus;
}

std::unique_ptr<SequenceModel> MakeModelFromFile(py::handle path, py::handle min_distance, py::handle add_quads,
                                                 py::handle penalty, py::handle record, const std::string& ambiguous,
                                                 const std::string& structure) {
  const ModelNumbers numbers = ToModelNumbers(min_distance, add_quads, penalty);
  const std::string file = ToPath(path);
  SequenceFileRecord read = ReadSequenceFileRecord(file, ToRecordChoice(record),
                                                   ToStockholmStructure(structure), ToLetterPolicy(ambiguous));
  std::unique_ptr<SequenceModel> model =
      BuildSequenceModel(read.letters, numbers.min_distance, numbers.add_quads, numbers.penalty);
  model->name = std::move(read.name);
  model->source_path = file;
  model->has_reference = read.has_reference;
  model->reference = std::move(read.reference);
  return model;
}

py::tuple Coo(const SequenceModel& model, bool zero_based, bool negate) {
  if (negate) RefuseNegatedMinimum(model.q.penalty);
  std::vector<int64_t> offsets;
  {
    py::gil_scoped_release unlocked;
    offsets = RowEntryOffsets(model.q, CountWorkThreads());
  }
  const int64_t total = offsets.back();
  py::array_t<int32_t> rows = NewArray(total), columns = NewArray(total), values = NewArray(total);
  int32_t* row_data = rows.mutable_data();
  int32_t* column_data = columns.mutable_data();
  int32_t* value_data = values.mutable_data();
  {
    py::gil_scoped_release unlocked;
    FillAllEntries(model.q, offsets, zero_based ? 1 : 0, negate, CountWorkThreads(), row_data, column_data, value_data);
  }
  return py::make_tuple(rows, columns, values);
}

py::array_t<int32_t> Linear(const SequenceModel& model, bool negate) {
  py::array_t<int32_t> diagonal = NewArray(model.q.quad_count);
  int32_t* out = diagonal.mutable_data();
  for (int32_t k = 1; k <= model.q.quad_count; ++k) {
    const int32_t score = model.q.score[k];
    out[k - 1] = negate ? -score : score;
  }
  return diagonal;
}

// The quads' positions as a read-only Q x 4 view of the table, kept alive by owner.
py::array_t<int32_t> QuadView(const SequenceModel& model, py::handle owner) {
  const py::ssize_t row_bytes = static_cast<py::ssize_t>(sizeof(int32_t)) * (model.q.quads.cols + 1);
  py::array_t<int32_t> view({static_cast<py::ssize_t>(model.q.quad_count), py::ssize_t{4}},
                            {row_bytes, static_cast<py::ssize_t>(sizeof(int32_t))}, MatrixRow(model.q.quads, 1),
                            owner);
  py::detail::array_proxy(view.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
  return view;
}

py::tuple ReadQFile(py::handle path_object) {
  const std::string path = ToPath(path_object);
  QFileInput input(path);
  int64_t capacity;
  {
    py::gil_scoped_release unlocked;
    capacity = input.Survey(CountWorkThreads());
  }
  py::array_t<int32_t> rows = NewArray(capacity), columns = NewArray(capacity), values = NewArray(capacity);
  int32_t* row_data = rows.mutable_data();
  int32_t* column_data = columns.mutable_data();
  int32_t* value_data = values.mutable_data();
  int64_t count;
  {
    py::gil_scoped_release unlocked;
    count = input.ReadEntries(row_data, column_data, value_data);
  }
  if (count < capacity) {
    // The room kept for the final line, and any lines after it, is not given back.
    const py::slice used(0, static_cast<py::ssize_t>(count), 1);
    return py::make_tuple(input.quad_count(), rows[used], columns[used], values[used]);
  }
  return py::make_tuple(input.quad_count(), rows, columns, values);
}

// The selection given as chosen[v] (v = 1..Q, chosen[0] unused). The rule, by
// the array's type: a bool array is always one 0/1 per variable (of length Q);
// integers are variable numbers, from 1 (from 0 when zero_based), each at most
// once, except that without zero_based Q integers each 0 or 1 are one 0/1 per
// variable. With zero_based integers are never 0/1 per variable, as in
// rnaqubo-fold --zero-based. Without zero_based, integers holding a 0 are
// refused as a 0/1 selection of the wrong length or with a value other than 0/1.
std::vector<uint8_t> ReadSelection(const SequenceModel& model, py::handle selection, bool zero_based) {
  const int32_t quad_count = model.q.quad_count;
  const py::array items = SelectionArray(selection);
  std::vector<uint8_t> chosen(static_cast<size_t>(quad_count) + 1, 0);
  const py::ssize_t size = items.size();
  if (size == 0) return chosen;
  const char kind = items.dtype().kind();
  // Unsigned values above 2^63 - 1 come out of the cast to int64 negative:
  // out of range, and named as given.
  const auto numbers = py::array_t<int64_t, py::array::c_style | py::array::forcecast>::ensure(items);
  const int64_t* number = numbers.data();
  bool has_zero = false, only_bits = true;
  for (py::ssize_t k = 0; k < size; ++k) {
    has_zero = has_zero || number[k] == 0;
    only_bits = only_bits && (number[k] == 0 || number[k] == 1);
  }
  // Variables count from 1 here, so integers holding a 0 were meant as one 0/1
  // per variable: read as such, to be refused with the length or the first
  // value wrong.
  const bool mask = kind == 'b' || (!zero_based && (size == quad_count ? only_bits || has_zero : has_zero && only_bits));
  const SelectionVerdict verdict = ReadSelectionArray(number, size, quad_count, mask, zero_based, false, chosen.data());
  const auto given = [&](int64_t k) {
    return kind == 'u' ? std::to_string(static_cast<uint64_t>(number[k])) : std::to_string(number[k]);
  };
  const int64_t first = zero_based ? 0 : 1;
  switch (verdict.fault) {
    case SelectionFault::kNone:
      break;
    case SelectionFault::kLength:
      throw py::value_error("a 0/1 selection needs one element per variable: " + std::to_string(size) +
                            " given for " + std::to_string(quad_count) + " variables");
    case SelectionFault::kNotBit:
      throw py::value_error("a 0/1 selection holds only 0 and 1: index " + std::to_string(verdict.item) + " holds " +
                            given(verdict.item));
    case SelectionFault::kOutOfRange:
      throw py::value_error("variable " + given(verdict.item) + " (item " + std::to_string(verdict.item + 1) +
                            " of the selection) is outside " + std::to_string(first) + ".." +
                            std::to_string(quad_count - 1 + first));
    case SelectionFault::kRepeated:
      throw py::value_error("variable " + std::to_string(number[verdict.item]) + " is given twice (item " +
                            std::to_string(verdict.item + 1) + " of the selection)");
  }
  return chosen;
}

// The chosen variables, ascending, from 1.
py::list ChosenVariables(const std::vector<uint8_t>& chosen) {
  py::list variables;
  for (size_t v = 1; v < chosen.size(); ++v) {
    if (chosen[v] != 0) variables.append(static_cast<int32_t>(v));
  }
  return variables;
}

std::string DotBracket(const SequenceModel& model, const std::vector<uint8_t>& chosen) {
  std::string structure(static_cast<size_t>(model.n) + 1, '\0');
  WriteDotBracket(model.q, chosen.data(), structure.data());
  structure.pop_back();
  return structure;
}

py::object Optimum(const SequenceModel& model) {
  std::vector<uint8_t> chosen(static_cast<size_t>(model.q.quad_count) + 1, 0);
  int64_t value;
  bool certified;
  {
    py::gil_scoped_release unlocked;
    value = FoldOptimum(model.q, chosen.data());
    certified = PenaltyCertifies(model.q.penalty, QuadModelBound(model.q));
  }
  return py::module_::import("rnaqubo").attr("Optimum")(value, ChosenVariables(chosen), DotBracket(model, chosen),
                                                        certified);
}

// Decoded(value, quads, structure, conflicts) of chosen (quad_count + 1 bytes).
py::object DecodeChosen(const SequenceModel& model, const std::vector<uint8_t>& chosen) {
  int64_t conflict_count = 0;
  const int64_t value = SelectionValue(model.q, chosen.data(), &conflict_count);
  py::list conflicts;
  py::object structure = py::none();
  if (conflict_count > 0) {
    for (const QuadCouple& couple : ListSelectionConflicts(model.q, chosen.data())) {
      conflicts.append(py::make_tuple(couple.l, couple.m));
    }
  } else {
    structure = py::str(DotBracket(model, chosen));
  }
  return py::module_::import("rnaqubo").attr("Decoded")(value, ChosenVariables(chosen), structure, conflicts);
}

py::object Decode(const SequenceModel& model, py::handle selection, bool zero_based) {
  return DecodeChosen(model, ReadSelection(model, selection, zero_based));
}

py::object Anneal(const SequenceModel& model, int64_t sweeps, uint64_t seed, py::handle schedule) {
  const std::vector<double> temperatures = AnnealTemperatures(schedule, sweeps);
  AnnealResult best;
  {
    py::gil_scoped_release unlocked;
    best = AnnealModel(MakeCouplingRows(model.q), temperatures, seed);
  }
  return DecodeChosen(model, best.chosen);
}

void WriteQFileOf(const SequenceModel& model, py::handle path_object) {
  const std::string path = ToPath(path_object);
  try {
    py::gil_scoped_release unlocked;
    const std::vector<KeptFile> inputs = SourceFiles(model);
    WriteQFileNamed(path, model.q, CountWorkThreads(), inputs.empty() ? nullptr : &inputs[0]);
  } catch (const OutputFileFailure& failure) {
    if (failure.stage() == OutputStage::kMemory) throw Failure(FailureKind::kMemory, kArrayAllocationFailure);
    const int error = failure.error_number() != 0 ? failure.error_number() : EIO;
    throw Failure(FailureKind::kFile, ShowText(path) + ": Q file: cannot write: " + failure.Explanation(), path, error);
  }
}

// The reference of a picture: None, a dot-bracket string, or a path.
DrawingReference ReadDrawingReference(py::handle reference) {
  if (py::isinstance<py::str>(reference) &&
      reference.cast<std::string>().find_first_not_of(".()[]{}<>") == std::string::npos) {
    return {DrawingReference::Kind::kDotBracket, reference.cast<std::string>()};
  }
  if (!reference.is_none()) return {DrawingReference::Kind::kFile, ToPath(reference)};
  return {};
}

// Model.draw: the selection (None: the optimum) and the reference (None, a
// dot-bracket string, or a path) read, then drawn by DrawModelStructure.
void Draw(const SequenceModel& model, py::handle selection, py::handle path, py::handle reference,
          const std::string& layout) {
  std::vector<uint8_t> chosen;
  if (!selection.is_none()) chosen = ReadSelection(model, selection, false);
  const DrawingReference known = ReadDrawingReference(reference);
  const std::string destination = ToPath(path);
  py::gil_scoped_release unlocked;
  DrawModelStructure(model, selection.is_none() ? nullptr : chosen.data(), destination, known, layout);
}

// Model.dot_plot: the reference read as for Model.draw, then drawn by DrawModelDotPlot.
void DotPlotOf(const SequenceModel& model, py::handle path, double temperature, py::handle reference,
               py::handle title) {
  const DrawingReference known = ReadDrawingReference(reference);
  const std::string destination = ToPath(path);
  const std::string shown = title.is_none() ? std::string() : title.cast<std::string>();
  py::gil_scoped_release unlocked;
  DrawModelDotPlot(model, temperature, destination, known, shown);
}

// Failures of the libraries as Python exceptions, their messages as the tools
// show them after the program's name: a file failure with its errno as the
// matching OSError subclass (FileNotFoundError, ...) whose strerror is the
// message and whose filename is the path, any other file failure as OSError, a
// shortage as MemoryError, bad data and usage as ValueError.
void TranslateFailures(std::exception_ptr failure) {
  try {
    if (failure) std::rethrow_exception(failure);
  } catch (const Failure& e) {
    const std::string message = ShowText(e.what());
    if (e.kind() == FailureKind::kFile && e.error_number() != 0) {
      py::object error = py::reinterpret_steal<py::object>(
          PyObject_CallFunction(PyExc_OSError, "isO&", e.error_number(), message.c_str(), PyUnicode_DecodeFSDefault,
                                e.path().c_str()));
      if (error) PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
      return;
    }
    switch (e.kind()) {
      case FailureKind::kFile:
        PyErr_SetString(PyExc_OSError, message.c_str());
        break;
      case FailureKind::kMemory:
        PyErr_SetString(PyExc_MemoryError, message.c_str());
        break;
      case FailureKind::kData:
      case FailureKind::kUsage:
        PyErr_SetString(PyExc_ValueError, message.c_str());
        break;
    }
  }
}

// Writes the LP file (milp false) or the MILP file of m at path, without the
// interpreter's lock.
void WriteLpFileOf(const SequenceModel& m, py::handle path, bool milp, bool pairwise) {
  const std::string file = ToPath(path);
  py::gil_scoped_release unlocked;
  WriteModelInstance(m, milp ? InstanceKind::kMilp : InstanceKind::kLp, file, false, pairwise);
}

}  // namespace

PYBIND11_MODULE(rnaqubo, module) {
  module.doc() =
      "The QUBO model of an RNA sequence's secondary structure, in memory: the same\n"
      "variables and entries as the Q file that rnaqubo writes, as numpy arrays.\n"
      "The model is meant to be maximised; coo(negate=True) gives it to minimisers.";
  py::register_exception_translator(TranslateFailures);
  const py::object named_tuple = py::module_::import("collections").attr("namedtuple");
  module.attr("Optimum") = named_tuple("Optimum", "value quads structure certified", "module"_a = "rnaqubo");
  module.attr("Decoded") = named_tuple("Decoded", "value quads structure conflicts", "module"_a = "rnaqubo");

  auto model_class = py::class_<SequenceModel, std::unique_ptr<SequenceModel>>(module, "Model", R"(
The model of one RNA sequence.

Model(sequence, min_distance=4, add_quads=True, penalty=-200)

sequence: a string of A, C, G, U in upper or lower case; T is read as U, gaps
(- and .) and white space are removed, and ambiguity codes (N, R, Y, ...) are
refused, or removed with ambiguous="drop". A pair (i, j) needs
j - i > min_distance; add_quads switches the chain bonus (16) on; penalty is the
value of every conflicting couple. Variable k (1-based, as in the Q file) is quad
k, whose positions are row k - 1 of quads.)")
      .def(py::init(&MakeModel), "sequence"_a, "min_distance"_a = 4, "add_quads"_a = true, "penalty"_a = -200,
           py::kw_only(), "ambiguous"_a = "refuse")
      .def_static("from_file", &MakeModelFromFile, "path"_a, "min_distance"_a = 4, "add_quads"_a = true,
                  "penalty"_a = -200, py::kw_only(), "record"_a = py::none(), "ambiguous"_a = "refuse",
                  "structure"_a = "consensus", R"(
The model of the sequence in the file at path: rnaqubo's input format (the
count, then one word per base, read as rnaqubo reads it), or FASTA, FASTQ or
a Stockholm alignment, plain, gzip or bgzip, read as rnaqubo-seq reads it: the
record named record, or numbered record (from 1, across a Stockholm file's
alignments), or the first; its letters by the rules of Model(), a Stockholm row
ungapped. A Stockholm row's reference structure (see reference) is projected
from #=GC SS_cons, or with structure="own" from the row's #=GR SS line where it
has one, as rnaqubo-seq --own-structure does. The other arguments as for
Model(). The model's writers never replace the file, and its instance files
record it (and, for a record without a name, the file's stem as its name).)")
      .def_property_readonly("name", [](const SequenceModel& m) { return m.name; },
                             "The record's name when read from FASTA, FASTQ or Stockholm, else empty.")
      .def_property_readonly(
          "reference",
          [](const SequenceModel& m) -> py::object {
            if (!m.has_reference) return py::none();
            return py::str(m.reference);
          },
          "The reference structure of a Stockholm row, dot-bracket over sequence as\n"
          "rnaqubo-seq writes it in the row's .dbn file; None when the alignment has no\n"
          "structure line for the row, and for every other source.")
      .def_property_readonly("sequence", [](const SequenceModel& m) { return m.letters; },
                             "The letters, A, C, G, U.")
      .def_property_readonly("n", [](const SequenceModel& m) { return m.n; }, "Number of bases.")
      .def_property_readonly("min_distance", [](const SequenceModel& m) { return m.min_distance; })
      .def_property_readonly("add_quads", [](const SequenceModel& m) { return m.q.add_quads; })
      .def_property_readonly("penalty", [](const SequenceModel& m) { return m.q.penalty; })
      .def_property_readonly("pair_count", [](const SequenceModel& m) { return m.pair_count; },
                             "Number of feasible base pairs.")
      .def_property_readonly("quad_count", [](const SequenceModel& m) { return m.q.quad_count; },
                             "Number of quads: the model's variables.")
      .def_property_readonly(
          "quads", [](py::object self) { return QuadView(self.cast<const SequenceModel&>(), self); },
          "Q x 4 int32 array (read-only): row k - 1 holds i, j, i + 1, j - 1 of variable k.")
      .def("coo", &Coo, "zero_based"_a = false, "negate"_a = false, R"(
(rows, columns, values): every entry of the Q file in the Q file's order, as int32
arrays. Variables from 1, or from 0 with zero_based=True; negate=True flips every
sign (the model is meant to be maximised; most solvers minimise), and is refused
for a penalty of -2147483648, which has no 32-bit negation.)")
      .def("linear", &Linear, "negate"_a = false, "The diagonal (stacking scores): element k - 1 for variable k.")
      .def(
          "to_scipy",
          [](const SequenceModel& m, bool negate) {
            py::object sparse = py::module_::import("scipy.sparse");
            py::tuple entries = Coo(m, true, negate);
            const py::ssize_t size = m.q.quad_count;
            return sparse.attr("coo_matrix")(py::make_tuple(entries[2], py::make_tuple(entries[0], entries[1])),
                                             "shape"_a = py::make_tuple(size, size));
          },
          "negate"_a = false, "The model as a Q x Q scipy.sparse.coo_matrix (upper triangle, from 0).")
      .def(
          "write_qubo",
          [](const SequenceModel& m, py::handle path, bool negate) {
            if (negate) RefuseNegatedMinimum(m.q.penalty);  // the text could hold it; solvers' 32-bit readers could not
            const std::string file = ToPath(path);
            py::gil_scoped_release unlocked;
            WriteModelInstance(m, InstanceKind::kQubo, file, negate, false);
          },
          "path"_a, "negate"_a = true, R"(
Writes the model as a .qubo file (qbsolv's format), atomically: comment lines
("c ...") with the name, sequence and settings, the header "p qubo 0 Q Q
couplings", the diagonal, then the couplings sorted, variables from 0.
Values are negated by default, since such solvers minimise.)")
      .def(
          "write_lp",
          [](const SequenceModel& m, py::handle path) { WriteLpFileOf(m, path, false, false); }, "path"_a, R"(
Writes the model as an LP file with a quadratic objective (CPLEX LP format, for
CPLEX, Gurobi, SCIP), atomically: Maximize, the diagonal as linear terms, the
couplings in [ ... ] / 2 with doubled values, Binary, End. x<k> is variable k
(from 1); comment lines give the name, sequence and settings, for
rnaqubo-fold --instance.)")
      .def(
          "write_milp",
          [](const SequenceModel& m, py::handle path, bool pairwise) { WriteLpFileOf(m, path, true, pairwise); },
          "path"_a, "pairwise"_a = false, R"(
Writes the model as a linear MILP in the LP format (CBC, GLPK), atomically:
x<k> is variable k (from 1), y<l>_<m> the product of a coupled couple, with
y <= x<l>, y <= x<m> for a positive value; a certified negative penalty becomes
constraints: per position, the quads holding it minus the y of the stack links
among them sum to at most 1, and x<l> + x<m> <= 1 for the conflicting couples
that cross (every couple so with pairwise=True); an uncertified one
y >= x<l> + x<m> - 1 in the objective. Both are exact; a comment line says
which form was used.)")
      .def("write_q_file", &WriteQFileOf, "path"_a, R"(
Writes the model as rnaqubo's Q file at path (exactly that name), atomically: the
same bytes as the executable writes.)")
      .def("optimum", &Optimum, R"(
The best conflict-free selection, as rnaqubo-fold finds it: Optimum(value, quads,
structure, certified). quads are the chosen variables (from 1, ascending),
structure the dot-bracket string; certified is True when the penalty is strong
enough (penalty <= -bound) for this to be the maximum of the whole model.)")
      .def("decode", &Decode, "selection"_a, "zero_based"_a = false, R"(
A solver's answer: Decoded(value, quads, structure, conflicts). selection is a
list of variables (from 1, or from 0 with zero_based=True) or an array of one 0/1
per variable. The array's type decides: a bool array is always one 0/1 per
variable (quad_count long); integers are variable numbers, except that without
zero_based quad_count integers that are all 0 or 1 are one 0/1 per variable
(and integers holding a 0 are refused as a 0/1 selection, naming its wrong
length or the first value that is not 0 or 1); with zero_based=True integers
are always variable numbers. value is the model's value of the selection; structure its
dot-bracket string, or None when the selection holds conflicting couples, listed
in conflicts as (l, m), l < m.)")
      .def(
          "value",
          [](const SequenceModel& m, py::handle selection, bool zero_based) {
            const std::vector<uint8_t> chosen = ReadSelection(m, selection, zero_based);
            return SelectionValue(m.q, chosen.data(), nullptr);
          },
          "selection"_a, "zero_based"_a = false,
          "The model's value of a selection (as for decode): the sum of the entries whose variables are both chosen.")
      .def("draw", &Draw, "selection"_a, "path"_a, "reference"_a = py::none(), "layout"_a = "arc", R"(
Draws the structure of selection (as for decode(); None for the optimum) into
the file at path, as rnaqubo-fold --draw does: SVG, PNG or PDF by the
extension (.svg, .png, .pdf; PNG and PDF need rsvg-convert), written whole or
not at all. layout "arc" is the arc diagram, "2d" a drawing laid out by VARNA,
with a reference the structure and the reference side by side, sized for a
170 mm page (java on PATH and VARNA's jar, $RNAQUBO_VARNA_JAR or
/usr/share/java/varna.jar; Debian: apt-get install varna default-jre-headless). reference is None, a
dot-bracket string of n characters, or the path of a reference file as for
rnaqubo-fold --reference; its pairs are drawn and scored against. The title is
the reference record's name, else the model's name; a selection is shown with
its ratio to the optimum. Raises OSError when a program is missing or the file
cannot be written, ValueError for an unknown layout or extension.)")
      .def("dot_plot", &DotPlotOf, "path"_a, "temperature"_a, "reference"_a = py::none(), "title"_a = py::none(),
           R"(
Draws the dot plot of the ensemble at temperature into the file at path, as
rnaqubo-fold --ensemble T --dot-plot does: each pair's probability (from 1e-6)
as the area of a square above the diagonal, the optimum's pairs filled and the
reference's outlined below it; SVG, PNG or PDF by the extension, written whole
or not at all. reference is as for draw(); title replaces the reference
record's name, else the model's name. Raises ValueError for a temperature that
is not a finite number above 0 or too low for the model, OSError when
rsvg-convert is missing or the file cannot be written.)")
      .def("__repr__", [](const SequenceModel& m) {
        return "rnaqubo.Model(n=" + std::to_string(m.n) + ", min_distance=" + std::to_string(m.min_distance) +
               ", add_quads=" + std::to_string(m.q.add_quads) + ", penalty=" + std::to_string(m.q.penalty) +
               ", pair_count=" + std::to_string(m.pair_count) + ", quad_count=" + std::to_string(m.q.quad_count) +
               ")";
      });
  BindLandscape(module, model_class);

  module.def("anneal", &Anneal, "model"_a, "sweeps"_a = 1000, "seed"_a = 1,
             "schedule"_a = py::make_tuple(200.0, 2.0), R"(
Simulated annealing of model, compiled: from the empty selection, one flip at a
time by the Metropolis rule over the model's sparse rows, every variable once
per sweep in order 1..Q. schedule is (hot, cold), temperatures spaced
geometrically over sweeps (in the model's value units), or a sequence of one
temperature per sweep. The same seed gives the same answer. Returns
Decoded(value, quads, structure, conflicts) of the best selection seen at any
flip (the empty one when nothing beats it).)");

  module.def(
      "score",
      [](const std::string& structure, const std::string& reference) {
        if (structure.size() != reference.size()) {
          throw Failure(FailureKind::kData, "structure: " + std::to_string(structure.size()) +
                                                " characters, but the reference has " +
                                                std::to_string(reference.size()));
        }
        auto pairs_of = [](const char* what, const std::string& text) {
          try {
            return MatchBrackets(text);
          } catch (const Failure& failure) {
            throw Failure(failure.kind(), std::string(what) + ": " + failure.what());
          }
        };
        const PairScores scores = ScorePairs(pairs_of("structure", structure), pairs_of("reference", reference));
        return py::make_tuple(scores.sensitivity, scores.ppv, scores.f1);
      },
      "structure"_a, "reference"_a, R"(
(sensitivity, ppv, f1) of structure against reference, two dot-bracket strings
of the same length (brackets ()[]{}<>, each kind balanced), as rnaqubo-fold
--reference computes them: exact pair matches; a ratio whose denominator is 0
is 1 when both have no pairs, else 0. A bad string raises ValueError naming the
position.)");

  module.def("read_q_file", &ReadQFile, "path"_a, R"(
Reads a Q file into (quad_count, rows, columns, values), int32 arrays in the
file's order, variables from 1. A malformed line, or a file without its final
"-1", raises ValueError naming the line.)");
}
