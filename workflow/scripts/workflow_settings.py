"""Reading the workflows' configuration values."""


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
