"""Conversion of parameter values to plain JSON-like data (for names, netlists and files)."""

from __future__ import annotations

import enum
import functools
import json
import math
from collections.abc import Mapping
from pathlib import PurePath
from typing import Any


def clean_value(value: Any) -> Any:
    """A JSON-compatible rendering of ``value``.

    Components are replaced by their name, enums by their member name, functions by their
    name, tuples by lists, mapping keys by text; anything else unknown by its ``str``.
    """
    from brenvik.component import Component, ComponentReference

    if value is None or isinstance(value, bool | int | str):
        return value
    if isinstance(value, float):
        return value if math.isfinite(value) else str(value)
    if isinstance(value, Component | ComponentReference):
        return value.name
    if isinstance(value, enum.Enum):
        return value.name
    if isinstance(value, Mapping):
        return {str(k): clean_value(v) for k, v in value.items()}
    if isinstance(value, list | tuple | set | frozenset):
        items = sorted(value, key=repr) if isinstance(value, set | frozenset) else value
        return [clean_value(v) for v in items]
    if isinstance(value, PurePath):
        return str(value)
    if isinstance(value, functools.partial):
        return {
            "function": clean_value(value.func),
            "args": clean_value(value.args),
            "kwargs": clean_value(value.keywords),
        }
    if callable(value) and hasattr(value, "__name__"):
        return value.__name__
    if hasattr(value, "item") and callable(value.item):  # numpy scalars
        try:
            return clean_value(value.item())
        except (TypeError, ValueError):
            pass
    if hasattr(value, "tolist") and callable(value.tolist):  # numpy arrays
        return clean_value(value.tolist())
    return str(value)


def to_json(value: Any) -> str:
    """Compact, key-order-preserving JSON of ``clean_value(value)``."""
    return json.dumps(clean_value(value), separators=(",", ":"))


def name_fragment(value: Any) -> str:
    """A short, cell-name-safe text for one parameter value (``0.5`` -> ``0p5``)."""
    cleaned = clean_value(value)
    if isinstance(cleaned, float):
        text = f"{cleaned:.6g}"
    elif isinstance(cleaned, list | dict):
        text = json.dumps(cleaned, separators=(",", ":"))
    else:
        text = str(cleaned)
    text = text.replace(".", "p").replace("-", "m")
    return "".join(ch if ch.isalnum() or ch == "_" else "_" for ch in text)
