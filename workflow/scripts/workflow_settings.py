"""Reading the workflows' configuration values."""
import math
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
