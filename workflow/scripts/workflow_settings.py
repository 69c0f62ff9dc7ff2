"""Reading the workflows' configuration values."""
import math
import sys
import re


def flag(value, what):
    """A true/false setting: a YAML boolean, or one of the words that Snakemake's
    --config passes as text (true/false, yes/no, 1/0, any case). Anything else
    raises ValueError naming what."""
    if isinstance(value, bool):
        return value
    words = {"true": True, "yes": True, "1": True, "false": False, "no": False, "0": False}
    if str(value).lower() not in words:
        raise ValueError(f"{what} must be true or false, not {value!r}")
    return words[str(value).lower()]


def positive_seconds(value, what):
    """A time in seconds: a finite number above 0 (an int or float of YAML, or its
    text). Anything else (NaN, infinities, 0, negatives, booleans, words) raises
    ValueError naming what and the value."""
    number = math.nan
    if not isinstance(value, bool):
        try:
            number = float(value)
        except (TypeError, ValueError):
            pass
    if not (math.isfinite(number) and number > 0):
        raise ValueError(f"{what} must be a finite number of seconds above 0, not {value!r}")
    return number


def whole_number(value, what, minimum=None):
    """An integer (of at least minimum, when given): a YAML int, or its digits
    as text. Anything else raises ValueError naming what and the value."""
    if isinstance(value, int) and not isinstance(value, bool):
        number = value
    elif isinstance(value, str) and re.fullmatch(r"\s*[+-]?[0-9]+\s*", value):
        number = int(value)
    else:
        number = None
    if number is None or (minimum is not None and number < minimum):
        least = "" if minimum is None else f" of at least {minimum}"
        raise ValueError(f"{what} must be a whole number{least}, not {value!r}")
    return number


def report_failed_jobs(workflow, stream, lines=20):
    """Writes to stream, for each job of the run that failed, its rule and the
    last lines of each of its log files: what Snakemake's -q leaves out. A run
    that failed before any job ran (no scheduler yet) writes nothing."""
    scheduler = getattr(workflow, "scheduler", None)
    for job in sorted(getattr(scheduler, "failed", ()), key=str):
        logs = [str(path) for path in job.log]
        if not logs:
            print(f"rule {job.rule.name} failed: {job}", file=stream)
        for path in logs:
            try:
                with open(path, errors="replace") as log:
                    tail = log.read().splitlines()[-lines:]
            except OSError as failure:
                tail = [f"(cannot read it: {failure.strerror})"]
            print(f"rule {job.rule.name} failed; the end of its log {path}:", file=stream)
            for line in tail:
                print(f"  {line}", file=stream)


def quiet_job_process(workflow):
    """In the process Snakemake starts for one job of a run: directive (it
    always passes --quiet), drops the start-up lines ("Building DAG of jobs",
    "Provided cores") that would otherwise interleave with the run's own
    output, even under -q; warnings and errors still pass."""
    import logging
    from snakemake.common import Mode
    from snakemake.logging import logger
    if workflow.mode == Mode.subprocess:
        logger.logger.addFilter(lambda record: record.levelno != logging.WARNING)


def tell_if_silenced(message):
    """Writes message to standard error when Snakemake prints nothing at all
    (-q all, as `-q all` reads when "all" follows -q): a configuration error
    raised while the jobs are planned is otherwise lost."""
    from snakemake.logging import logger
    if logger.is_quiet_about("all"):
        print(message, file=sys.stderr)
