"""A GDS or OASIS file read once for the 3D scene.

The file is read into one KLayout layout and handed to the scene as it is: no component is made,
nothing is written. What KLayout prints while it reads (warnings, and the line it prints before
some errors) is caught and logged once through the host logger, naming the user's file. The
cells to draw are every top cell, or one named cell with the hierarchy below it. A layer stack
with derived layers gets them computed on the layout that was read, into each drawn top cell.
"""

from __future__ import annotations

import contextlib
import os
import re
import sys
import tempfile
from collections import Counter
from collections.abc import Iterator
from pathlib import Path
from typing import Any

__all__ = ["UnknownCellError", "read_layout"]

# The cell KLayout's writers use to carry metadata; a reader that does not take it as metadata
# shows it as a top cell of its own, which is not part of the drawing.
CONTEXT_CELL = "$$$CONTEXT_INFO$$$"
_SHOWN_CELLS = 10


class UnknownCellError(ValueError):
    """The file has no cell of the name asked for."""


@contextlib.contextmanager
def _captured_output() -> Iterator[list[str]]:
    """Whatever is written to the process's stdout and stderr inside the block (KLayout writes
    there directly, not through Python), as lines in the yielded list once the block ends. The
    text goes to an anonymous in-memory file, never to the terminal."""
    lines: list[str] = []
    for stream in (sys.stdout, sys.stderr):
        with contextlib.suppress(Exception):
            stream.flush()
    try:
        sink = os.memfd_create("tarnwick-klayout-output")
        sink_file = os.fdopen(sink, "w+b")
    except (AttributeError, OSError):
        sink_file = tempfile.TemporaryFile()  # noqa: SIM115 - closed below
    saved = []
    try:
        for fd in (1, 2):
            try:
                saved.append((fd, os.dup(fd)))
            except OSError:  # a closed stream: nothing to capture there
                continue
            os.dup2(sink_file.fileno(), fd)
        try:
            yield lines
        finally:
            for fd, copy in saved:
                os.dup2(copy, fd)
                os.close(copy)
            sink_file.seek(0)
            text = sink_file.read().decode("utf-8", "replace")
            lines.extend(line.strip() for line in text.splitlines() if line.strip())
    finally:
        sink_file.close()


_IN_FILE = re.compile(r"^In file .*:$")
_POSITION = re.compile(r"\s*\((?:position|file)=.*\)\s*$")


def _log_reader_output(lines: list[str], path: Path) -> None:
    """KLayout's warnings, once each with a count when they repeat, through the host logger,
    naming `path`. Its error lines are dropped: the exception that follows says the same."""
    from tarnwick.logger import get_logger

    warnings: Counter = Counter()
    for line in lines:
        if line.upper().startswith("ERROR"):
            continue
        text = re.sub(r"^warning:\s*", "", line, flags=re.IGNORECASE)
        if _IN_FILE.match(text):  # names the file by itself; the logged lines name it
            continue
        warnings[_POSITION.sub("", text)] += 1
    logger = get_logger()
    for text, count in warnings.items():
        times = f" ({count:,} times)" if count > 1 else ""
        logger.warning(f"reading {path}: {text}{times}")


_GDS_START = b"\x00\x06\x00\x02"  # the stream's first record: HEADER with its version


def _is_gds(path: Path) -> bool:
    with open(path, "rb") as file:
        return file.read(4) == _GDS_START


def _as_gds_holds_it(layout: Any) -> Any:
    """`layout` as a GDS stream carries it, made in memory: what another format can hold and GDS
    cannot (arrays in any lattice form, repeated shapes, polygons of any size, layer names) takes
    the one form GDS gives it, so that a scene of any format is the scene of the same layout
    saved as GDS."""
    import klayout.db as kdb

    options = kdb.SaveLayoutOptions()
    options.format = "GDS2"
    options.write_context_info = False
    options.gds2_write_timestamps = False
    again = kdb.Layout()
    again.read_bytes(layout.write_bytes(options), kdb.LoadLayoutOptions())
    return again


def _cell_name(cell: Any) -> str | None:
    try:
        return cell.name
    except RuntimeError:  # a name that is not UTF-8; the scene's reader has its own fallback
        return None


def _listing(names: list[str]) -> str:
    shown = ", ".join(names[:_SHOWN_CELLS])
    more = len(names) - _SHOWN_CELLS
    return shown + (f" and {more:,} more" if more > 0 else "")


def _refuse_deep_chain(layout: Any, tops: list[Any]) -> None:
    """ValueError when a hierarchy is so deep that the scene's node ids alone (each id holds its
    parent's) would pass the message limit: raised before the scene builds anything. Only levels
    that lead to shapes count, as the scene leaves out cells without any."""
    from tarnwick.settings import get_max_message_bytes

    limit = get_max_message_bytes()
    levels = max(top.hierarchy_levels() for top in tops)
    if levels * levels <= limit:  # the ids of a chain of this depth take at least depth² bytes
        return
    # Levels from each cell down to its deepest cell with shapes (-1: none below it).
    depth: dict[int, int] = {}
    for index in layout.each_cell_bottom_up():
        cell = layout.cell(index)
        below = -1 if cell.is_empty() else 0
        for child in cell.each_child_cell():
            if depth.get(child, -1) >= 0:
                below = max(below, depth[child] + 1)
        depth[index] = below
    deepest = max(depth.get(top.cell_index(), -1) for top in tops)
    # A node at level i has an id of at least 2 i bytes (a "/" and a name per level).
    if deepest > 0 and deepest * (deepest + 1) > limit:
        raise ValueError(
            f"the hierarchy is {deepest:,} levels deep: the scene's node ids alone would take more "
            f"than the limit of {limit >> 20:,} MiB of text; set TARNWICK_MAX_MESSAGE_BYTES to a "
            "higher number to show it anyway"
        )


def read_layout(path: str | os.PathLike, layer_stack: Any = None, cell: str | None = None):
    """The layout of the GDS or OASIS file at `path`, and the indices of the cells to draw: every
    top cell in KLayout's order, or the cell named `cell` (`UnknownCellError` naming the top
    cells when there is none). The derived layers of `layer_stack` (a brenvik LayerStack, or
    None) are computed into each drawn cell."""
    import klayout.db as kdb

    path = Path(path)
    if not path.is_file():
        raise FileNotFoundError(f"no GDS file at {path}")
    layout = kdb.Layout()
    with _captured_output() as lines:
        layout.read(str(path))
        if not _is_gds(path):
            layout = _as_gds_holds_it(layout)
    _log_reader_output(lines, path)
    tops = [top for top in layout.top_cells() if _cell_name(top) != CONTEXT_CELL]
    if not tops:
        raise ValueError(f"{path} holds no cells: an empty layout has nothing to show or use")
    if cell is not None:
        chosen = layout.cell(cell) if isinstance(cell, str) else None
        if chosen is None:
            names = [_cell_name(top) or f"#{top.cell_index()}" for top in tops]
            raise UnknownCellError(f"{path} has no cell {cell!r} (top cells: {_listing(names)})")
        tops = [chosen]
    _refuse_deep_chain(layout, tops)
    if layer_stack is not None:
        layer_stack.add_derived_layers(layout, [top.cell_index() for top in tops])
    return layout, [top.cell_index() for top in tops]
