"""Small helpers shared by the component libraries."""

from __future__ import annotations

from collections.abc import Mapping
from typing import Any

__all__ = ["flatten_dict"]


def flatten_dict(d: Mapping[Any, Any], sep: str = "_") -> dict[str, Any]:
    """Flatten a nested mapping into a new flat dict.

    Every leaf (any value that is not a mapping) becomes one entry whose key is the path of
    nested keys, each converted with ``str`` and joined by ``sep``. Entries keep the order in
    which the leaves appear in the nested mapping. An empty nested mapping has no leaves and so
    contributes no entry. The input is not modified.

    If two different paths join to the same text (e.g. ``{"a_b": 1, "a": {"b": 2}}`` with
    ``sep="_"``), the later leaf wins, like repeated keys in a dict literal.
    """
    if not isinstance(d, Mapping):
        raise TypeError(f"flatten_dict expects a mapping, got {type(d).__name__}")
    out: dict[str, Any] = {}
    # Iterative depth-first walk (explicit stack) so very deep maps cannot hit the recursion
    # limit; children are pushed in reverse so they pop in their original order.
    stack: list[tuple[tuple[str, ...], Any]] = [((), d)]
    while stack:
        path, value = stack.pop()
        if isinstance(value, Mapping):
            items = list(value.items())
            for key, child in reversed(items):
                stack.append(((*path, str(key)), child))
        elif path:
            out[sep.join(path)] = value
    return out
