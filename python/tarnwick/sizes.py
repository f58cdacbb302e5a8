"""Byte counts as people read them."""

from __future__ import annotations

__all__ = ["format_size"]


def format_size(count: int) -> str:
    """``count`` bytes as "812 bytes", "12.3 KiB", "4.0 MiB" or "1.2 GiB" (binary units)."""
    value = float(count)
    for unit in ("bytes", "KiB", "MiB"):
        if value < 1024:
            return f"{count:,} bytes" if unit == "bytes" else f"{value:,.1f} {unit}"
        value /= 1024
    return f"{value:,.1f} GiB"
