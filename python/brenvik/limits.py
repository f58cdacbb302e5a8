"""Size limits that an environment variable may change."""

from __future__ import annotations

import os


def limit_from_environment(variable: str, default: int) -> int:
    """The whole number >= 0 in the environment variable `variable` (underscores allowed), or
    `default` when it is unset or blank; ValueError for anything else."""
    text = os.environ.get(variable, "").strip()
    if not text:
        return default
    try:
        value = int(text.replace("_", ""))
    except ValueError:
        value = -1
    if value < 0:
        raise ValueError(f"{variable} must be a whole number >= 0, not {text!r}")
    return value
