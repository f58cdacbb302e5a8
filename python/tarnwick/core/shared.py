"""Utilities shared across the host."""

from __future__ import annotations

from typing import Any

__all__ = ["none"]


def none(value: Any) -> None:
    """JSON fallback hook: a value without a JSON form is written as null."""
    return
