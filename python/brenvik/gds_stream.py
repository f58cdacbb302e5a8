"""A layout as a GDS stream carries it, made in memory."""

from __future__ import annotations

import klayout.db as kdb

__all__ = ["through_gds"]


def through_gds(layout: kdb.Layout) -> kdb.Layout:
    """A new layout read back from a GDS stream of `layout` written in memory (never to disk),
    without context information or timestamps: what GDS cannot hold takes the one form GDS gives
    it, exactly as a GDS file written and read again would."""
    options = kdb.SaveLayoutOptions()
    options.format = "GDS2"
    options.write_context_info = False
    options.gds2_write_timestamps = False
    back = kdb.Layout()
    back.read_bytes(layout.write_bytes(options), kdb.LoadLayoutOptions())
    return back
