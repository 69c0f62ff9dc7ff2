# Benchmarks solvers on rnaqubo's models: each instance is written as LP, MILP
# and .qubo files with its certified optimum, each solver is run R times with
# distinct seeds under a time limit, every answer is decoded and scored by
# rnaqubo-fold, and the runs are summarised with the figures solver papers
# report (p_s with its interval, TTS99 with its interval, times to target at
# the optimum and at 1% and 5% gap, residual gaps, F1).
#
#   snakemake -s workflow/benchmark.smk --configfile workflow/benchmark.yaml -j 2 --resources timed=1
#
# Timed runs never overlap: each holds the resource `timed`, of which there is
# one unless --resources says otherwise, so that whatever -j says only the
# untimed work (building instances, decoding, scoring, the report) runs in
# parallel.
#
# Configuration (YAML; every path relative to the working directory):
#   instances     a list; each entry is one record:
#       name          the instance's name (letters, digits, '.', '_', '-')      required
#       file          rnaqubo's sequence format, or FASTA or FASTQ (plain,
#                     gzip or bgzip)                                            required
#       record        the record's name in a FASTA or FASTQ file              default the first
#       dbn           reference structures (">name", sequence, structure), the
#                     record's found by name                                    optional
#       min_distance, add_quads, penalty   the model's numbers                 required
#       reduce        a DELTA (an integer, or a percentage such as 10%): the
#                     instance is the model reduced to the variables of the
#                     selections within DELTA of the optimum, numbered from 1
#                     as rnaqubo-fold --reduce numbers them                    optional
#   sets          a list of instance sets, beside the instances or instead of them
#                 (workflow/scripts/record_selection.py chooses the records); each is
#       file          FASTA, FASTQ or Stockholm (plain, gzip or bgzip), or an
#                     instance library's manifest.tsv (bench/instances)           required
#       name          the prefix of its instances' names, <name>.<record> and
#                     <name>.<record>.<DELTA> (5% as 5pct)    default the file's name up to its first '.'
#       select        which records (default every one): names (a list), count
#                     (the first N the other keys leave, in file order),
#                     min_length and max_length (bases), min_pairs (pairs of the
#                     record's reference)                                       optional
#       reduce        a list of DELTAs: each record is an instance whole and one
#                     reduced at each                                           default none
#       whole         false leaves out the whole models, keeping the reduced   default true
#       dbn           FASTA, FASTQ: reference structures matched by name        optional
#       own_structure Stockholm: a row's own #=GR SS line over SS_cons          default false
#       ambiguous     refuse or drop ambiguity codes such as N                  default refuse
#       min_distance, add_quads, penalty   the model's numbers; a manifest
#                     gives its own                                required but for a manifest
#                 A Stockholm row's reference is its structure projected from the
#                 alignment, as in the collection workflow; a manifest's
#                 instances are rebuilt from the sequences it records, and each
#                 instance file must have the manifest's sha256
#   solvers       a mapping from a solver's name to
#       command       a bash command template; {qubo}, {lp}, {milp} are the
#                     instance files, {seed} the run's seed, {seconds} the time
#                     limit and {answer} the file the solver writes its answer
#                     to, in any form rnaqubo-fold --solution reads; {compute}
#                     a file the solver may write its own compute time to, in
#                     seconds (one number), which the statistics then use
#                     instead of the wall time; {workflow} is the directory of
#                     this file and {solvers} its solvers/, as absolute paths,
#                     so a template runs from any directory; a literal
#                     brace is written twice. It runs with pipefail: a pipeline
#                     fails when any of its commands fails. An empty answer
#                     file counts as no answer                                   required
#       zero_based    the answer numbers variables from 0                      default false
#       deterministic the solver gives the same answer on every seed: it runs
#                     once (seed first_seed), and its output may state that it
#                     proved its answer optimal or stopped at a limit (CBC's
#                     and glpsol's own lines), which runs.tsv records      default false
#   repeats       R, runs per instance and stochastic solver                   default 100
#   first_seed    the seeds are first_seed .. first_seed + R - 1              default 1
#   seconds       the time limit of one run, a finite number above 0; a run still going is sent
#                 SIGTERM, then SIGKILL 2 s later, with every process it
#                 started, and counted as no answer                            default 60
#   rnaqubo_fold, rnaqubo_seq, rnaqubo_anneal   the programs: names on PATH or paths
# In a command, {rnaqubo_fold} and {rnaqubo_anneal} are the programs. An answer
# numbers the variables as the instance files do; for rnaqubo-fold's optimum
# that is its line "instance quads:".
#
# A failing job's log (logs/benchmark/instances/<name>.log for an instance)
# ends the run's output, so that -q shows it.
#
# Layout:
#   runs/benchmark/sets/<set>/records/   each set's records, as rnaqubo-seq --split writes them
#   runs/benchmark/instances/<name>/   the sequence, reference, instance files, optimum
#                                      (with the line "reduced: Q' of Q variables; ..." for a reduction)
#                                      and optimum.json, its figures (rnaqubo-fold --json)
#   runs/benchmark/runs/<name>/<solver>/<seed>/   the answer, its decoding (decoded.txt, and
#                                      decoded.json, which run.tsv is made from), the
#                                      solver's output (solver.log), compute.txt, run.tsv
#   results/benchmark/runs.tsv, results/benchmark/summary.tsv (benchmark_summary.py
#   describes their columns), and results/benchmark/report.html, self-contained, with
#   every figure also as a PDF in results/benchmark/figures/
import csv
import json
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(workflow.basedir, "scripts"))
import benchmark_summary
import instance_sets
import workflow_settings

workflow_settings.quiet_job_process(workflow)


def program(key, default):
    """A program from the configuration: a bare name is looked up on PATH."""
    value = str(config.get(key, default))
    return os.path.abspath(value) if os.sep in value else value


RNAQUBO_FOLD = program("rnaqubo_fold", "rnaqubo-fold")
RNAQUBO_SEQ = program("rnaqubo_seq", "rnaqubo-seq")
RNAQUBO_ANNEAL = program("rnaqubo_anneal", "rnaqubo-anneal")
# The programs given as paths and the summary's and report's scripts: inputs of
# the rules that run them, so that a rebuilt program or an edited script reruns
# what it made.
PROGRAM_FILES = [path for path in (RNAQUBO_FOLD, RNAQUBO_SEQ, RNAQUBO_ANNEAL) if os.sep in path]
SUMMARY_SCRIPT = os.path.join(workflow.basedir, "scripts", "benchmark_summary.py")
REPORT_SCRIPT = os.path.join(workflow.basedir, "scripts", "benchmark_report.py")
STATISTICS_SCRIPT = os.path.join(workflow.basedir, "scripts", "benchmark_statistics.py")
REPEATS = workflow_settings.whole_number(config.get("repeats", 100), "'repeats'", 1)
FIRST_SEED = workflow_settings.whole_number(config.get("first_seed", 1), "'first_seed'")
SECONDS = workflow_settings.positive_seconds(config.get("seconds", 60), "'seconds'")
SEEDS = [FIRST_SEED + k for k in range(REPEATS)]
GRACE = 2  # seconds between a run's SIGTERM at the time limit and its SIGKILL
# One timed run at a time unless --resources says otherwise.
workflow.global_resources.setdefault("timed", 1)

INSTANCES = {}
for entry in config.get("instances") or []:
    name = str(entry.get("name", ""))
    if not re.fullmatch(r"[A-Za-z0-9_][A-Za-z0-9._-]*", name) or name in INSTANCES:
        raise ValueError(f"instance name {name!r}: needs letters, digits, '.', '_' or '-', once each")
    for key in ("file", "min_distance", "add_quads", "penalty"):
        if key not in entry:
            raise ValueError(f"instance {name}: no '{key}'")
    for key in ("min_distance", "add_quads", "penalty"):
        if not re.fullmatch(r"[+-]?[0-9]+", str(entry[key])):
            raise ValueError(f"instance {name}: '{key}' must be an integer, not {entry[key]!r}")
    if "reduce" in entry and not re.fullmatch(r"[0-9]+|[0-9]+(\.[0-9]+)?%", str(entry["reduce"])):
        raise ValueError(f"instance {name}: 'reduce' must be an integer or a percentage such as 10%, "
                         f"not {entry['reduce']!r}")
    INSTANCES[name] = entry
CONFIG_FILE = ", ".join(workflow.overwrite_configfiles or []) or "--config"
try:
    for entry in instance_sets.set_instances(config.get("sets") or [], CONFIG_FILE, RNAQUBO_SEQ,
                                             "runs/benchmark/sets"):
        if entry["name"] in INSTANCES:
            raise ValueError(f"{CONFIG_FILE}: sets: instance {entry['name']} is named twice")
        INSTANCES[entry["name"]] = entry
except ValueError as failure:
    workflow_settings.tell_if_silenced(f"snakemake: {failure}")
    raise
SOLVERS = config.get("solvers") or {}
PLACEHOLDERS = ("qubo", "lp", "milp", "seed", "seconds", "answer", "compute", "rnaqubo_fold", "rnaqubo_anneal",
                "workflow", "solvers")
for solver, entry in SOLVERS.items():
    if not re.fullmatch(r"[A-Za-z0-9_][A-Za-z0-9._-]*", str(solver)) or "command" not in entry:
        raise ValueError(f"solver {solver!r}: needs a plain name and a 'command'")
    workflow_settings.flag(entry.get("zero_based", False), f"solver {solver}: 'zero_based'")
    workflow_settings.flag(entry.get("deterministic", False), f"solver {solver}: 'deterministic'")
    try:
        str(entry["command"]).format(**{key: "" for key in PLACEHOLDERS})
    except (KeyError, IndexError, ValueError) as failure:
        raise ValueError(f"solver {solver}: command: {failure!r} is not one of the placeholders "
                         f"{', '.join('{' + key + '}' for key in PLACEHOLDERS)}; write a literal brace twice "
                         "({{ or }})") from None
if not INSTANCES or not SOLVERS:
    raise ValueError("the configuration needs 'instances' or 'sets', and 'solvers'")
DETERMINISTIC = [solver for solver, entry in SOLVERS.items()
                 if workflow_settings.flag(entry.get("deterministic", False), f"solver {solver}: 'deterministic'")]


def solver_seeds(solver):
    """The seeds a solver runs with: the first alone for a deterministic one."""
    return SEEDS[:1] if solver in DETERMINISTIC else SEEDS

INSTANCE_DIR = "runs/benchmark/instances/{name}"
RUN_DIR = "runs/benchmark/runs/{name}/{solver}/{seed}"


def sequence_format(path):
    """'rnaqubo' for the tool's own format (a count first), else 'records'."""
    if path.endswith((".gz", ".bgz")):
        return "records"
    with open(path, "rb") as f:
        start = f.read(64).lstrip()
    return "rnaqubo" if start[:1].isdigit() else "records"


def reference_record(path, name):
    """The three lines of name's record in a dot-bracket file, or None."""
    with open(path) as f:
        lines = [line.rstrip("\r\n") for line in f if line.strip() and not line.startswith("#")]
    for k, line in enumerate(lines):
        if line.startswith(">") and line[1:].split()[0:1] == [name] and k + 2 < len(lines):
            return "\n".join(lines[k:k + 3]) + "\n"
    return None


rule all:
    input:
        "results/benchmark/runs.tsv",
        "results/benchmark/summary.tsv",
        "results/benchmark/report.html",


localrules: all, runs_table


rule instance:
    # The record in rnaqubo's format as <name>.txt (so that the instance files
    # carry its name; an instance of a library's manifest is named as there, so
    # that its files are the library's, byte for byte), its reference, the three
    # instance files and the optimum.
    input:
        lambda w: [INSTANCES[w.name]["file"]] + ([INSTANCES[w.name]["dbn"]] if INSTANCES[w.name].get("dbn") else [])
        + PROGRAM_FILES,
    output:
        qubo=INSTANCE_DIR + "/model.qubo",
        lp=INSTANCE_DIR + "/model.lp",
        milp=INSTANCE_DIR + "/model.milp.lp",
        optimum=INSTANCE_DIR + "/optimum.txt",
        figures=INSTANCE_DIR + "/optimum.json",
    params:
        entry=lambda w: {key: str(value) for key, value in INSTANCES[w.name].items()},
    log:
        "logs/benchmark/instances/{name}.log",
    run:
        entry = params.entry
        directory = os.path.dirname(output.qubo)
        for stale in os.listdir(directory):
            if stale.endswith(".txt") and stale != "optimum.txt":
                os.remove(os.path.join(directory, stale))
        stem = entry.get("source_name") or wildcards.name
        sequence = os.path.join(directory, f"{stem}.txt")
        # A reference of an earlier configuration must not score this one's answers.
        reference_path = os.path.join(directory, "reference.dbn")
        if os.path.exists(reference_path):
            os.remove(reference_path)
        with open(log[0], "w") as messages:
            if sequence_format(entry["file"]) == "rnaqubo":
                shutil.copyfile(entry["file"], sequence)
            else:
                record = [entry["record"]] if entry.get("record") else []
                subprocess.run([RNAQUBO_SEQ, "-o", sequence, entry["file"]] + record, check=True, stderr=messages)
            with open(sequence) as f:
                length = f.read().split()[0]
            reference = []
            if entry.get("dbn"):
                name = entry.get("record") or wildcards.name
                text = reference_record(entry["dbn"], name)
                if text is None:
                    print(f"benchmark: instance {wildcards.name}: {entry['dbn']} has no record {name}: "
                          "its answers are not scored against a reference", file=sys.stderr)
                else:
                    with open(reference_path, "w") as f:
                        f.write(text)
                    reference = ["--reference", "reference.dbn"]
            # Run in the instance's directory, so that the files record the
            # sequence's bare name and nothing of where the run was made.
            arguments = [RNAQUBO_FOLD, f"{stem}.txt", length, entry["min_distance"], entry["add_quads"],
                         entry["penalty"], "--write-qubo", "model.qubo", "--write-lp", "model.lp",
                         "--write-milp", "model.milp.lp", "--json", "optimum.json"] + reference
            if entry.get("reduce"):
                arguments += ["--reduce", entry["reduce"]]
            with open(output.optimum + ".tmp", "w") as out:
                subprocess.run(arguments, stdout=out, stderr=messages, check=True, cwd=directory)
            os.replace(output.optimum + ".tmp", output.optimum)
            if entry.get("qubo_sha256") and instance_sets.sha256(output.qubo) != entry["qubo_sha256"]:
                print(f"{output.qubo}: its sha256 is not the manifest's {entry['qubo_sha256']}: this build "
                      "of rnaqubo-fold does not rebuild the library's instance", file=messages)
                raise ValueError(f"instance {wildcards.name}: not the manifest's instance (see {log[0]})")


def compute_seconds(path):
    """The compute time a solver wrote to path, as 4 decimals, or "NA" where it
    wrote none or not one finite number of at least 0."""
    try:
        with open(path) as f:
            words = f.read().split()
        value = float(words[0]) if len(words) == 1 else -1.0
    except (OSError, ValueError):
        return "NA"
    return f"{value:.4f}" if 0 <= value < float("inf") else "NA"


def decode(instance_dir, answer, zero_based, figures_path):
    """rnaqubo-fold's reading of an answer, from its --json object (written to
    figures_path): value, optimum, ratio, conflicts, F1; and its text report."""
    arguments = [RNAQUBO_FOLD, "--instance", os.path.join(instance_dir, "model.qubo"), "--solution", answer,
                 "--json", figures_path]
    if zero_based:
        arguments.append("--zero-based")
    reference = os.path.join(instance_dir, "reference.dbn")
    if os.path.exists(reference):
        arguments += ["--reference", reference]
    result = subprocess.run(arguments, capture_output=True, text=True)
    if result.returncode != 0:
        return None, result.stderr.strip()
    with open(figures_path) as f:
        figures = json.load(f)
    ratio, reference = figures["ratio"], figures.get("reference")
    # Ratios and scores to four decimals, as the text report prints them.
    return {
        "value": str(figures["value"]), "optimum": str(figures["optimum"]),
        "ratio": "NA" if ratio is None else f"{ratio:.4f}",
        "conflict_free": "yes" if figures["conflicts"] == 0 else "no",
        "f1": f"{reference['f1']:.4f}" if reference else "NA",
    }, result.stdout


rule run:
    # One run of one solver, ended at the time limit with its whole process group.
    input:
        qubo=INSTANCE_DIR + "/model.qubo",
        lp=INSTANCE_DIR + "/model.lp",
        milp=INSTANCE_DIR + "/model.milp.lp",
        optimum=INSTANCE_DIR + "/optimum.txt",
        figures=INSTANCE_DIR + "/optimum.json",
        programs=PROGRAM_FILES,
    output:
        RUN_DIR + "/run.tsv",
    params:
        command=lambda w: str(SOLVERS[w.solver]["command"]),
        zero_based=lambda w: workflow_settings.flag(SOLVERS[w.solver].get("zero_based", False),
                                                    f"solver {w.solver}: 'zero_based'"),
        seconds=SECONDS,
    resources:
        timed=1,
    run:
        directory = os.path.dirname(output[0])
        answer = os.path.abspath(os.path.join(directory, "answer.txt"))
        compute = os.path.abspath(os.path.join(directory, "compute.txt"))
        # Nothing of an earlier run stays beside this one's.
        for stale in ("answer.txt", "decoded.txt", "decoded.json", "answer.svg", "solver.log", "compute.txt"):
            if os.path.exists(os.path.join(directory, stale)):
                os.remove(os.path.join(directory, stale))
        values = {"qubo": input.qubo, "lp": input.lp, "milp": input.milp, "answer": answer, "compute": compute}
        values = {key: shlex.quote(os.path.abspath(path)) for key, path in values.items()}
        values.update(seed=wildcards.seed, seconds=f"{params.seconds:g}", rnaqubo_fold=shlex.quote(RNAQUBO_FOLD),
                      rnaqubo_anneal=shlex.quote(RNAQUBO_ANNEAL), workflow=shlex.quote(workflow.basedir),
                      solvers=shlex.quote(os.path.join(workflow.basedir, "solvers")))
        command = params.command.format(**values)
        # The command runs in a process group of its own under timeout(1), which
        # holds the limit even if this harness is ended first: at the limit the
        # group gets SIGTERM (so that a solver may clean up), and SIGKILL
        # GRACE seconds later. A pipeline fails when any of its commands does.
        with open(os.path.join(directory, "solver.log"), "w") as log:
            start = time.monotonic()
            process = subprocess.Popen(["timeout", "-k", f"{GRACE:g}", f"{params.seconds:g}",
                                        "bash", "-o", "pipefail", "-c", command],
                                       stdout=log, stderr=log, start_new_session=True)
            try:
                code = process.wait(timeout=params.seconds + GRACE + 5)
            except subprocess.TimeoutExpired:
                code = None
            finally:
                # Whatever the command left running in its group goes with it.
                try:
                    os.killpg(process.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
                if process.poll() is None:
                    process.wait()
            seconds = time.monotonic() - start
            timed_out = code is None or (code in (124, 137) and seconds >= params.seconds)
            status = "timeout" if timed_out else "ok" if code == 0 else "failed"
        with open(input.figures) as f:
            figures = json.load(f)
        certified = "yes" if figures["certified"] else "no"
        optimum = str(figures["optimum"])
        with open(os.path.join(directory, "solver.log"), errors="replace") as f:
            proven, bound = benchmark_summary.solver_proof(f.read())
        row = {"instance": wildcards.name, "variables": benchmark_summary.instance_variables(input.qubo),
               "solver": wildcards.solver, "seed": wildcards.seed,
               "seconds": f"{seconds:.4f}", "status": status, "value": "NA", "optimum": optimum, "ratio": "NA",
               "certified": certified, "conflict_free": "NA", "f1": "NA",
               "compute_seconds": compute_seconds(compute) if status == "ok" else "NA",
               "proven": proven, "bound": bound, "above_target": "NA"}
        # An empty file is no answer (an empty selection is a line of its own).
        if status == "ok" and (not os.path.exists(answer) or os.path.getsize(answer) == 0):
            row["status"] = "failed"
        elif status == "ok":
            decoded, text = decode(os.path.dirname(input.qubo), answer, params.zero_based,
                                   os.path.join(directory, "decoded.json"))
            with open(os.path.join(directory, "decoded.txt"), "w") as f:
                f.write(text + "\n")
            if decoded is None:
                row["status"] = "failed"
            else:
                row.update(decoded)
                row["above_target"] = "yes" if int(row["value"]) > int(optimum) else "no"
        benchmark_summary.write_table(output[0], benchmark_summary.RUN_COLUMNS, [row])


rule runs_table:
    input:
        [RUN_DIR.format(name=name, solver=solver, seed=seed) + "/run.tsv"
         for name in INSTANCES for solver in SOLVERS for seed in solver_seeds(solver)],
    output:
        "results/benchmark/runs.tsv",
    run:
        rows = []
        for path in input:
            with open(path, newline="") as f:
                rows += list(csv.DictReader(f, delimiter="\t"))
        os.makedirs(os.path.dirname(output[0]), exist_ok=True)
        benchmark_summary.write_table(output[0], benchmark_summary.RUN_COLUMNS, rows)


rule summary:
    input:
        runs="results/benchmark/runs.tsv",
        scripts=[SUMMARY_SCRIPT, STATISTICS_SCRIPT],
    output:
        "results/benchmark/summary.tsv",
    run:
        rows = benchmark_summary.summarise(benchmark_summary.read_runs(input.runs), set(DETERMINISTIC))
        benchmark_summary.write_table(output[0], benchmark_summary.SUMMARY_COLUMNS, rows)


def version_line(arguments):
    """The first line a program prints about its version, or "not installed"."""
    try:
        result = subprocess.run(arguments, capture_output=True, text=True, timeout=30, stdin=subprocess.DEVNULL)
    except (OSError, subprocess.TimeoutExpired):
        return "not installed"
    for line in (result.stdout + result.stderr).splitlines():
        if re.search(r"[0-9]+\.[0-9]+", line):
            return line.strip()
    return "unknown"


LOAD_FILE = "runs/benchmark/load_start.json"


onstart:
    # The machine's load when the runs start, for the report's header.
    os.makedirs(os.path.dirname(LOAD_FILE), exist_ok=True)
    with open(LOAD_FILE, "w") as f:
        json.dump([round(x, 2) for x in os.getloadavg()], f)


rule report:
    input:
        runs="results/benchmark/runs.tsv",
        summary="results/benchmark/summary.tsv",
        scripts=[REPORT_SCRIPT, STATISTICS_SCRIPT],
        programs=PROGRAM_FILES,
    output:
        report="results/benchmark/report.html",
        figures=directory("results/benchmark/figures"),
    params:
        zero_based=[solver for solver, entry in SOLVERS.items()
                    if workflow_settings.flag(entry.get("zero_based", False), f"solver {solver}: 'zero_based'")],
    run:
        try:
            with open(LOAD_FILE) as f:
                load_start = json.load(f)
        except (OSError, ValueError):
            load_start = None
        versions = {
            "rnaqubo-fold": version_line([RNAQUBO_FOLD, "--version"]),
            "cbc": version_line(["cbc", "-quit"]),
            "glpsol": version_line(["glpsol", "--version"]),
            "snakemake": version_line(["snakemake", "--version"]),
            "python": version_line(["/usr/bin/python3", "--version"]),
        }
        settings = {"seconds": SECONDS, "repeats": REPEATS, "first_seed": FIRST_SEED, "deterministic": DETERMINISTIC,
                    "versions": versions, "load_start": load_start}
        settings_path = os.path.join(os.path.dirname(output.report), "settings.json")
        with open(settings_path, "w") as f:
            json.dump(settings, f, indent=1)
        subprocess.run(["/usr/bin/python3", REPORT_SCRIPT, input.runs, input.summary, "runs/benchmark/instances",
                        "runs/benchmark/runs", RNAQUBO_FOLD, output.report, settings_path, output.figures]
                       + params.zero_based, check=True)


onerror:
    workflow_settings.report_failed_jobs(workflow, sys.stderr)
