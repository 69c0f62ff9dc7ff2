// The files of a reduced model: PREFIX.q (rnaqubo's Q file format over the
// kept variables), PREFIX.qubo (the reduced model's .qubo instance, written by
// the one .qubo writer of instance_files.h) and PREFIX.map (the new numbers and
// the original ones).
#pragma once

#include <string>
#include <vector>

#include "model/kept_entries.h"
#include "model/quad_model.h"
#include "formats/instance_files.h"
#include "formats/output_file.h"

// The map's header line.
constexpr const char* kReducedMapHeader = "variable\toriginal\ti\tj\n";

// Writes, for the reduction header.reduction of model, prefix + ".q" ("p Q'
// 1", the kept entries "l  m  value" in the Q file's order, "-1", no comment),
// prefix + ".qubo" (WriteQuboInstance of header, negated: its comment lines
// record the reduction) and prefix + ".map" (the header, then
// "k\toriginal\ti\tj" for k = 1..Q', i and j the outer pair). Each is written
// complete under a staged name beside its own ("<name>.rnaqubo-<pid>.staged"),
// and the three take their names only when all are complete (when a name is a
// link or a special file, each file is written to its name in turn instead); a
// name that is a kept file (the run's inputs) is refused. With thread_count > 0 the .q is written by rnaqubo's own writer on
// up to thread_count threads over the sub-model, whose tables are made as index
// arrays (so in the executables they live until the process ends), unless a
// kept chain bonus has lost the quad between its two quads; else, and with 0,
// by a walk over the original rows. The prefix is locked (prefix +
// ".rnaqubo-lock") from the first check to the end: a second run is refused
// (reason kTargetBusyReason, naming prefix). The three renames follow a
// journal (prefix + ".rnaqubo-journal") with the termination signals held
// off; a run killed among them is finished by the next run into the prefix,
// which also removes staged files that a killed run left. Throws
// OutputFileFailure naming the file (its final name); a failure leaves the
// earlier files of the prefix as they were. A penalty without a 32-bit
// negation is refused before any file is touched (CheckNegatedPenalty).
void WriteReducedModel(const std::string& prefix, const QuadModel& model, const InstanceHeader& header,
                       const std::vector<KeptFile>& inputs = {}, int thread_count = 0);

// Writes only the .q file of the reduction, as WriteReducedModel does, at name,
// never over one of inputs.
void WriteReducedQFile(const std::string& name, const QuadModel& model, const KeptVariables& kept,
                       const std::vector<KeptFile>& inputs = {});

// Reads the map file at path (header "variable\toriginal\ti\tj", then "k\tv\ti\tj"
// for k = 1, 2, ...) for model: element k of the result is the original
// variable of reduced variable k ([0] = 0). Checks every row: k in order, v a
// variable of model whose outer pair is (i, j), the originals ascending.
// Throws Failure kFile "<path>: cannot read: <reason>", or kData "<path>: line
// <L>: <reason>".
std::vector<int32_t> ReadReducedMap(const std::string& path, const QuadModel& model);
