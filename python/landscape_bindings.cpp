#include "python/landscape_bindings.h"

#include <algorithm>
#include <pybind11/numpy.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "core/dot_bracket.h"
#include "core/failure.h"
#include "core/shown_text.h"
#include "core/work_threads.h"
#include "solve/anneal.h"
#include "solve/landscape.h"
#include "solve/optimum.h"
#include "solve/reduction.h"
#include "solve/structure_selection.h"
#include "model/kept_entries.h"
#include "formats/reduced_model.h"
#include "formats/solution_text.h"
#include "python/model_entries.h"

namespace py = pybind11;
using namespace pybind11::literals;

namespace {

// A reduced model: the variables kept from its model, which it keeps alive.
struct ReducedModel {
  py::object parent;  // the Model
  const SequenceModel* model;
  KeptVariables kept;
  int64_t delta;
  int64_t optimum;
  std::string delta_text;  // delta as given, recorded in the instance files
};

py::object Tuple(const char* name) { return py::module_::import("rnaqubo").attr(name); }

// delta as text: an int (>= 0) or a text such as "5%".
std::string DeltaText(py::handle delta) {
  std::string text;
  if (py::isinstance<py::str>(delta)) {
    text = delta.cast<std::string>();
  } else if (py::isinstance<py::int_>(delta) && !py::isinstance<py::bool_>(delta)) {
    text = py::str(delta).cast<std::string>();
  } else {
    throw py::type_error("delta is an integer or a percentage such as \"5%\"");
  }
  return text;
}


void CheckTemperature(double temperature) {
  if (!(temperature > 0) || !std::isfinite(temperature)) {
    throw py::value_error("temperature must be a finite number above 0, not " + std::to_string(temperature));
  }
}

std::string StructureOf(const QuadModel& model, const std::vector<int32_t>& quads) {
  std::string structure(static_cast<size_t>(model.n), '.');
  MarkQuadPairs(model, quads.data(), quads.size(), structure.data());
  return structure;
}

// Selections as a list of (structure, value, quads).
py::list SelectionList(const QuadModel& model, const std::vector<ListedSelection>& selections) {
  py::list list;
  for (const ListedSelection& s : selections) {
    py::list quads;
    for (int32_t q : s.quads) quads.append(q);
    list.append(py::make_tuple(StructureOf(model, s.quads), s.value, quads));
  }
  return list;
}

py::list PairList(const std::vector<BasePair>& pairs) {
  py::list list;
  for (const BasePair& pair : pairs) list.append(py::make_tuple(pair.i, pair.j));
  return list;
}

// The entries of the reduced model in the Q file's order.
struct EntryArrays {
  std::vector<int32_t> rows, columns, values;
  void Entry(int32_t row, int32_t column, int32_t value) {
    rows.push_back(row);
    columns.push_back(column);
    values.push_back(value);
  }
};

template <typename T>
py::array_t<T> ToArray(const std::vector<T>& values, T shift = 0, T sign = 1) {
  py::array_t<T> array(static_cast<py::ssize_t>(values.size()));
  T* data = array.mutable_data();
  for (size_t k = 0; k < values.size(); ++k) data[k] = sign * values[k] - shift;
  return array;
}

// Writes through a writer of output/, reporting a failure as the module does.
template <typename Write>
void WriteFile(const std::string& path, const char* what, Write write) {
  try {
    py::gil_scoped_release unlocked;
    write();
  } catch (const OutputFileFailure& failure) {
    if (failure.stage() == OutputStage::kMemory) throw Failure(FailureKind::kMemory, kArrayAllocationFailure);
    const int error = failure.error_number() != 0 ? failure.error_number() : EIO;
    throw Failure(FailureKind::kFile, ShowText(path) + ": " + what + ": cannot write: " + failure.Explanation(), path,
                  error);
  }
}

std::string PathOf(py::handle path) {
  std::string bytes = py::module_::import("os").attr("fsencode")(path).cast<std::string>();
  if (bytes.find('\0') != std::string::npos) throw py::value_error("embedded null byte");
  return bytes;
}

// Writes an instance file of the reduced model r, without the interpreter's lock.
void WriteReducedInstance(const ReducedModel& r, InstanceKind kind, py::handle path, bool negate, bool pairwise) {
  if (negate) RefuseNegatedMinimum(r.model->q.penalty);
  const std::string file = PathOf(path);
  py::gil_scoped_release unlocked;
  WriteModelInstance(*r.model, kind, file, negate, pairwise, &r.kept, r.delta_text);
}

}  // namespace

void RefuseNegatedMinimum(int32_t penalty) {
  try {
    CheckNegatedPenalty(penalty);
  } catch (const Failure&) {
    throw py::value_error("the penalty -2147483648 has no negation in 32 bits: use negate=False");
  }
}

// The temperatures of an annealing run: (hot, cold), spaced geometrically over
// sweeps, or one temperature per sweep.
std::vector<double> AnnealTemperatures(py::handle schedule, int64_t sweeps) {
  if (sweeps < 0 || sweeps > INT32_MAX) throw Failure(FailureKind::kData, "anneal: sweeps must be 0 to 2147483647");
  std::vector<double> given;
  for (const py::handle t : py::iter(schedule)) given.push_back(t.cast<double>());
  for (const double t : given) {
    if (!(t > 0) || t > 1e300) throw Failure(FailureKind::kData, "anneal: temperatures must be positive numbers");
  }
  if (given.size() == 2 && sweeps != 2) return GeometricSchedule(given[0], given[1], static_cast<int32_t>(sweeps));
  if (static_cast<int64_t>(given.size()) != sweeps) {
    throw Failure(FailureKind::kData, "anneal: schedule holds " + std::to_string(given.size()) +
                                          " temperatures: give (hot, cold) or one per sweep (" +
                                          std::to_string(sweeps) + ")");
  }
  return given;
}

AnnealPlan AnnealPlanOf(py::handle schedule, int64_t sweeps, uint64_t seed, int64_t restarts, int64_t replicas) {
  if (restarts < 1 || restarts > INT32_MAX) throw Failure(FailureKind::kData, "anneal: restarts must be 1 to 2147483647");
  if (replicas < 1 || replicas > INT32_MAX) throw Failure(FailureKind::kData, "anneal: replicas must be 1 to 2147483647");
  AnnealPlan plan;
  plan.seed = seed;
  plan.restarts = restarts;
  if (replicas == 1) {
    plan.schedule = AnnealTemperatures(schedule, sweeps);
    return plan;
  }
  if (sweeps < 0 || sweeps > INT32_MAX) throw Failure(FailureKind::kData, "anneal: sweeps must be 0 to 2147483647");
  plan.rounds = static_cast<int32_t>(sweeps);
  std::vector<double> given;
  for (const py::handle t : py::iter(schedule)) given.push_back(t.cast<double>());
  for (const double t : given) {
    if (!(t > 0) || t > 1e300) throw Failure(FailureKind::kData, "anneal: temperatures must be positive numbers");
  }
  if (given.size() == 2 && replicas != 2) {
    plan.ladder = GeometricLadder(given[1], given[0], static_cast<int32_t>(replicas));
  } else if (static_cast<int64_t>(given.size()) == replicas && std::is_sorted(given.begin(), given.end())) {
    plan.ladder = given;
  } else {
    throw Failure(FailureKind::kData, "anneal: schedule holds " + std::to_string(given.size()) +
                                          " temperatures: give (hot, cold) or one per replica (" +
                                          std::to_string(replicas) + "), ascending");
  }
  return plan;
}

int AnnealThreads(int64_t threads) {
  if (threads < 0 || threads > 1024) throw Failure(FailureKind::kData, "anneal: threads must be 0 to 1024");
  return threads == 0 ? CountWorkThreads() : static_cast<int>(threads);
}

pybind11::array SelectionArray(pybind11::handle selection) {
  namespace py = pybind11;
  py::object source = py::reinterpret_borrow<py::object>(selection);
  if (py::isinstance<py::str>(source) || py::isinstance<py::bytes>(source)) {
    throw py::type_error("a selection holds integers (variables, or one 0/1 per variable), not a string");
  }
  if (py::isinstance<py::set>(source) || py::isinstance<py::frozenset>(source)) {
    source = py::module_::import("builtins").attr("sorted")(source);
  }
  const py::array items = py::module_::import("numpy").attr("asarray")(source);
  if (items.ndim() != 1) {
    throw py::value_error("a selection is a list of variables or an array of one 0/1 per variable, not an array of " +
                          std::to_string(items.ndim()) + " dimensions");
  }
  const char kind = items.dtype().kind();
  if (items.size() > 0 && kind != 'b' && kind != 'i' && kind != 'u') {
    throw py::type_error("a selection holds integers (variables, or one 0/1 per variable), not " +
                         py::str(items.dtype()).cast<std::string>());
  }
  return items;
}

void BindLandscape(py::module_& module, py::class_<SequenceModel, std::unique_ptr<SequenceModel>>& model_class) {
  const py::object named_tuple = py::module_::import("collections").attr("namedtuple");
  module.attr("Marginals") = named_tuple("Marginals", "optimum best_with gap", "module"_a = "rnaqubo");
  module.attr("Subopt") = named_tuple("Subopt", "optimum optima total selections exact", "module"_a = "rnaqubo");
  module.attr("Ensemble") = named_tuple("Ensemble", "log_z probabilities pair_i pair_j pair_probabilities",
                                        "module"_a = "rnaqubo");
  module.attr("Encoded") = named_tuple(
      "Encoded", "value quads structure conflicts lone non_canonical out_of_range pseudoknotted",
      "module"_a = "rnaqubo");

  py::class_<ReducedModel>(module, "Reduced", R"(
The model over the variables of every conflict-free selection within delta of
the optimum (Model.reduce), renumbered 1..quad_count in their original order:
exactly the original entries among them, so each such selection keeps its value.)")
      .def_property_readonly("quad_count", [](const ReducedModel& r) { return r.kept.original.size() - 1; })
      .def_property_readonly("delta", [](const ReducedModel& r) { return r.delta; })
      .def_property_readonly("optimum", [](const ReducedModel& r) { return r.optimum; })
      .def_property_readonly(
          "original_variables",
          [](const ReducedModel& r) {
            return ToArray(std::vector<int32_t>(r.kept.original.begin() + 1, r.kept.original.end()));
          },
          "int32 array: element k - 1 is the original variable of variable k.")
      .def(
          "coo",
          [](const ReducedModel& r, bool zero_based, bool negate) {
            EntryArrays entries;
            for (size_t k = 1; k < r.kept.original.size(); ++k) {
              WalkKeptRowEntries(r.model->q, r.kept, static_cast<int32_t>(k), entries);
            }
            const int32_t shift = zero_based ? 1 : 0;
            return py::make_tuple(ToArray(entries.rows, shift), ToArray(entries.columns, shift),
                                  ToArray(entries.values, 0, negate ? -1 : 1));
          },
          "zero_based"_a = false, "negate"_a = false,
          "(rows, columns, values) as Model.coo gives them, over the reduced variables.")
      .def(
          "linear",
          [](const ReducedModel& r, bool negate) {
            std::vector<int32_t> scores;
            for (size_t k = 1; k < r.kept.original.size(); ++k) scores.push_back(r.model->q.score[r.kept.original[k]]);
            return ToArray(scores, 0, negate ? -1 : 1);
          },
          "negate"_a = false, "The diagonal: element k - 1 for variable k.")
      .def(
          "write_q_file",
          [](const ReducedModel& r, py::handle path) {
            const std::string file = PathOf(path);
            WriteFile(file, "Q file", [&] { WriteReducedQFile(file, r.model->q, r.kept, SourceFiles(*r.model)); });
          },
          "path"_a, "Writes the reduced model in rnaqubo's Q file format, atomically.")
      .def(
          "write_qubo",
          [](const ReducedModel& r, py::handle path, bool negate) {
            WriteReducedInstance(r, InstanceKind::kQubo, path, negate, false);
          },
          "path"_a, "negate"_a = true, R"(
Writes the reduced model as a .qubo file, as Model.write_qubo does (values
negated by default), nodes k - 1 for reduced variable k; its comment lines
record the reduction (reduce: delta as given, reduced: Q' of Q), so that
rnaqubo-fold --instance decodes an answer in the original numbering.)")
      .def(
          "write_lp",
          [](const ReducedModel& r, py::handle path) { WriteReducedInstance(r, InstanceKind::kLp, path, false, false); },
          "path"_a, "Writes the reduced model as Model.write_lp does, x<k> for reduced variable k; the comment lines record the reduction.")
      .def(
          "write_milp",
          [](const ReducedModel& r, py::handle path, bool pairwise) {
            WriteReducedInstance(r, InstanceKind::kMilp, path, false, pairwise);
          },
          "path"_a, "pairwise"_a = false, R"(
Writes the reduced model as Model.write_milp does, x<k> for reduced variable k.
A penalty certified for the whole model is certified for the reduced one (its
entries are a subset); the bound in the comment is the reduced model's own.)")
      .def(
          "decode",
          [](const ReducedModel& r, py::handle selection, bool zero_based) {
            // The reduced numbers, or one 0/1 per reduced variable, taken to the
            // original numbering and decoded there.
            const py::array items = SelectionArray(selection);
            const auto numbers = py::array_t<int64_t, py::array::c_style | py::array::forcecast>::ensure(items);
            if (!numbers) throw py::value_error("a selection is a list of variables or a 0/1 array");
            const int64_t size = static_cast<int64_t>(r.kept.original.size()) - 1;
            const int64_t* number = numbers.data();
            bool mask = items.dtype().kind() == 'b' || (!zero_based && numbers.size() == size);
            for (py::ssize_t k = 0; mask && k < numbers.size(); ++k) mask = number[k] == 0 || number[k] == 1;
            std::vector<uint8_t> chosen(static_cast<size_t>(size) + 1, 0);
            const SelectionVerdict verdict =
                ReadSelectionArray(number, numbers.size(), static_cast<int32_t>(size), mask, zero_based, false,
                                   chosen.data());
            const std::string item = std::to_string(verdict.item + 1);
            switch (verdict.fault) {
              case SelectionFault::kNone:
              case SelectionFault::kNotBit:  // a mask holds only 0 and 1 here
                break;
              case SelectionFault::kLength:
                throw py::value_error("a 0/1 selection needs one element per variable: " +
                                      std::to_string(numbers.size()) + " given for " + std::to_string(size) +
                                      " variables");
              case SelectionFault::kOutOfRange:
                throw py::value_error("variable " + std::to_string(number[verdict.item]) + " (item " + item +
                                      ") is outside the reduced model's " + std::to_string(size) + " variables");
              case SelectionFault::kRepeated:
                throw py::value_error("variable " + std::to_string(number[verdict.item]) + " is given twice (item " +
                                      item + " of the selection)");
            }
            py::list original;
            for (int64_t v = 1; v <= size; ++v) {
              if (chosen[static_cast<size_t>(v)] != 0) original.append(r.kept.original[static_cast<size_t>(v)]);
            }
            return r.parent.attr("decode")(original);
          },
          "selection"_a, "zero_based"_a = false, R"(
Decodes an answer given in the reduced numbering (variables, or one 0/1 per
reduced variable) and reports it as Model.decode does, in the original numbering.)");

  module.def(
      "anneal",
      [](const ReducedModel& r, int64_t sweeps, uint64_t seed, py::handle schedule, int64_t restarts,
         int64_t threads, int64_t replicas) {
        const AnnealPlan plan = AnnealPlanOf(schedule, sweeps, seed, restarts, replicas);
        const int thread_count = AnnealThreads(threads);
        AnnealResult best;
        {
          py::gil_scoped_release unlocked;
          std::vector<AnnealResult> results = AnnealRestarts(MakeKeptCouplingRows(r.model->q, r.kept), plan, thread_count);
          best = std::move(results[BestRestart(results)]);
        }
        py::list original;
        for (size_t k = 1; k < best.chosen.size(); ++k) {
          if (best.chosen[k] != 0) original.append(r.kept.original[k]);
        }
        return r.parent.attr("decode")(original);
      },
      "model"_a, "sweeps"_a = 1000, "seed"_a = 1, "schedule"_a = py::make_tuple(200.0, 2.0), "restarts"_a = 1,
      "threads"_a = 0, "replicas"_a = 1, R"(
Simulated annealing of a Reduced model, as of a Model (below), over the reduced
model's own variables, as rnaqubo-anneal anneals a reduced instance. The best
selection is reported in the original numbering, as Reduced.decode reports it.)");

  model_class
      .def(
          "marginals",
          [](const SequenceModel& m) {
            QuadMarginals marginals;
            {
              py::gil_scoped_release unlocked;
              marginals = FindBestWith(m.q);
            }
            std::vector<int64_t> best(marginals.best_with.begin() + 1, marginals.best_with.end()), gap;
            for (int64_t b : best) gap.push_back(marginals.optimum - b);
            return Tuple("Marginals")(marginals.optimum, ToArray(best), ToArray(gap));
          },
          R"(
Marginals(optimum, best_with, gap): best_with[k - 1] is the highest value of a
conflict-free selection holding variable k, gap[k - 1] the optimum minus it
(int64 arrays), from one inside and one outside pass.)")
      .def(
          "count_optima",
          [](const SequenceModel& m) {
            OptimaCount count;
            {
              py::gil_scoped_release unlocked;
              count = CountOptima(m.q);
            }
            if (count.saturated) throw py::value_error("at least 2^128 - 1 optimal selections: the count stops there");
            return py::int_(py::str(FormatSelectionCount(count.count)));
          },
          "The exact number of optimal conflict-free selections (of any size), as an int.")
      .def(
          "subopt",
          [](const SequenceModel& m, py::handle delta, int64_t max_selections) {
            if (max_selections < 0) throw py::value_error("max_selections must be 0 or more");
            const std::string text = DeltaText(delta);
            const OptimumDistance distance = ParseOptimumDistance("delta", text.c_str());
            SuboptListing listing;
            {
              py::gil_scoped_release unlocked;
              listing = ListSuboptimal(m.q, distance, max_selections);
            }
            std::vector<ListedSelection> listed;
            for (size_t k = 0; k < listing.Count(); ++k) listed.push_back(listing.Selection(k));
            const py::int_ optima(py::str(FormatSelectionCount(listing.optima.count)));
            const py::int_ total(py::str(FormatSelectionCount(listing.total)));
            return Tuple("Subopt")(listing.optimum, optima, total, SelectionList(m.q, listed), listing.exact);
          },
          "delta"_a, "max_selections"_a = 100000, R"(
Subopt(optimum, optima, total, selections): every conflict-free selection worth
at least optimum - delta (an int, or a percentage of |optimum| such as "5%"):
selections lists the first max_selections of them as (structure, value,
quads) by decreasing value, ties by their quad lists; total counts them when
exact is True (at delta 0 the optima are counted, not visited), and is
otherwise a lower bound (max_selections, when more lie within delta), as
rnaqubo-fold --subopt says "at least".)")
      .def(
          "reduce",
          [](py::object self, py::handle delta) {
            const SequenceModel& m = self.cast<const SequenceModel&>();
            const QuadMarginals marginals = FindBestWith(m.q);
            const std::string text = DeltaText(delta);
            const int64_t distance = ResolveDistance(ParseOptimumDistance("delta", text.c_str()), marginals.optimum);
            return ReducedModel{self, &m, ReduceModel(m.q, marginals, distance), distance, marginals.optimum, text};
          },
          "delta"_a, R"(
The Reduced model over the variables whose best_with is at least optimum -
delta (an int or a percentage such as "5%"): every conflict-free selection
within delta is kept with its value.)")
      .def(
          "ensemble",
          [](const SequenceModel& m, double temperature) {
            CheckTemperature(temperature);
            EnsembleSummary ensemble;
            {
              py::gil_scoped_release unlocked;
              ensemble = ComputeEnsemble(m.q, temperature);
            }
            std::vector<double> quads(ensemble.quad_probability.begin() + 1, ensemble.quad_probability.end()), p;
            std::vector<int32_t> i, j;
            for (const PairProbability& pair : ensemble.pairs) {
              i.push_back(pair.i);
              j.push_back(pair.j);
              p.push_back(pair.probability);
            }
            return Tuple("Ensemble")(ensemble.log_z, ToArray(quads), ToArray(i), ToArray(j), ToArray(p));
          },
          "temperature"_a, R"(
The Boltzmann ensemble over the conflict-free selections, P(S) proportional to
exp(value(S) / temperature): Ensemble(log_z, probabilities, pair_i, pair_j,
pair_probabilities), log_z the natural logarithm of Z, probabilities[k - 1] that
of variable k, and every base pair of a quad with its probability.)")
      .def(
          "sample",
          [](const SequenceModel& m, int64_t n, double temperature, uint64_t seed) {
            CheckTemperature(temperature);
            if (n < 0) throw py::value_error("n must be 0 or more");
            std::vector<ListedSelection> samples;
            {
              py::gil_scoped_release unlocked;
              samples = SampleEnsemble(m.q, temperature, n, seed);
            }
            return SelectionList(m.q, samples);
          },
          "n"_a, "temperature"_a, "seed"_a = 1, R"(
n exact samples of the ensemble at temperature, each (structure, value, quads);
the same seed gives the same samples, as rnaqubo-fold --sample --seed does.)")
      .def(
          "encode",
          [](py::object self, const std::string& structure) {
            const SequenceModel& m = self.cast<const SequenceModel&>();
            if (static_cast<int64_t>(structure.size()) != m.n) {
              throw py::value_error("the structure has " + std::to_string(structure.size()) +
                                    " characters, the sequence " + std::to_string(m.n) + " bases");
            }
            const EncodedStructure encoded = EncodeStructure(m.q, m.min_distance, MatchBrackets(structure));
            const py::object decoded = self.attr("decode")(
                py::array_t<bool>(static_cast<py::ssize_t>(m.q.quad_count),
                                  reinterpret_cast<const bool*>(encoded.chosen.data() + 1)));
            return Tuple("Encoded")(decoded.attr("value"), decoded.attr("quads"), decoded.attr("structure"),
                                    decoded.attr("conflicts"), PairList(encoded.lone), PairList(encoded.mismatched),
                                    PairList(encoded.out_of_range), PairList(encoded.pseudoknotted));
          },
          "structure"_a, R"(
A known structure (dot-bracket, brackets ()[]{}<>) as a selection: every quad
whose outer and inner pairs are both pairs of it. Encoded(value, quads,
structure, conflicts, lone, non_canonical, out_of_range, pseudoknotted), the
last four the pairs (i, j) the model cannot represent, as rnaqubo-fold --encode
lists them.)");
}
