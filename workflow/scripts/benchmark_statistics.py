"""The benchmark's statistics of repeated runs: the success probability with its
Clopper-Pearson interval, the time to solution with 99% confidence (TTS99) with
a bootstrap interval, and the residual gap's mean and quantiles.

Every figure is a plain float (math.inf where it is infinite) or None where it
is undefined; the bootstrap draws from a generator seeded with BOOTSTRAP_SEED,
so that the same runs give the same intervals.
"""
import math

# numpy and scipy are imported where they are used: the workflow loads this
# module in every job, most of which never compute a statistic.

LEVEL = 0.95  # the confidence of every interval
BOOTSTRAP_DRAWS = 2000
BOOTSTRAP_SEED = 20240607


def clopper_pearson(successes, trials, level=LEVEL):
    """The exact (Clopper-Pearson) interval (low, high) of a success probability
    from `successes` of `trials` (trials >= 1)."""
    if trials < 1 or not 0 <= successes <= trials:
        raise ValueError(f"{successes} successes of {trials} trials")
    from scipy import stats

    tail = (1 - level) / 2
    low = 0.0 if successes == 0 else float(stats.beta.ppf(tail, successes, trials - successes + 1))
    high = 1.0 if successes == trials else float(stats.beta.ppf(1 - tail, successes + 1, trials - successes))
    return low, high


def tts99(tau, p_s):
    """tau ln(0.01) / ln(1 - p_s): the time to reach the target with 99%
    confidence by independent restarts of time tau; tau at p_s >= 0.99 (one
    run is already that sure), inf at p_s = 0."""
    if p_s >= 0.99:
        return tau
    if p_s <= 0:
        return math.inf
    return tau * math.log(0.01) / math.log(1 - p_s)


def tts99_interval(times, successes, level=LEVEL, draws=BOOTSTRAP_DRAWS, seed=BOOTSTRAP_SEED):
    """The percentile-bootstrap interval (low, high) of TTS99 over runs with
    the given times and success flags (tau the median time, p_s the share of
    successes), resampling whole runs. Where no run succeeded the interval's
    low end is the TTS99 at the Clopper-Pearson upper end of p_s (the least
    the time could be), and its high end inf."""
    import numpy

    times = numpy.asarray(times, dtype=float)
    hits = numpy.asarray(successes, dtype=bool)
    count = len(times)
    if count == 0 or len(hits) != count:
        raise ValueError("the runs' times and successes differ in number, or there are none")
    if not hits.any():
        return tts99(float(numpy.median(times)), clopper_pearson(0, count, level)[1]), math.inf
    generator = numpy.random.default_rng(seed)
    picks = generator.integers(0, count, size=(draws, count))
    taus = numpy.median(times[picks], axis=1)
    shares = hits[picks].mean(axis=1)
    values = numpy.array([tts99(tau, share) for tau, share in zip(taus, shares)])
    tail = (1 - level) / 2
    # 'inverted_cdf' picks drawn values, so that an infinite draw is inf, never nan.
    low, high = numpy.quantile(values, [tail, 1 - tail], method="inverted_cdf")
    return float(low), float(high)


def gap_figures(gaps):
    """{mean, median, q90, best} of relative gaps to the target (a negative
    gap is above it); None each when there are none."""
    import numpy

    if not gaps:
        return {"mean": None, "median": None, "q90": None, "best": None}
    values = numpy.asarray(gaps, dtype=float)
    return {"mean": float(values.mean()), "median": float(numpy.median(values)),
            "q90": float(numpy.quantile(values, 0.9)), "best": float(values.min())}
