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


def _log_reader_output(lines: list[str], path: Path, debug: bool = False) -> None:
    """KLayout's warnings, once each with a count when they repeat, through the host logger,
    naming `path`. Its error lines are dropped: the exception that follows says the same. Any
    other line was not KLayout's and goes to stderr as it is. `debug`: logged at debug level."""
    from tarnwick.logger import get_logger

    warnings: Counter = Counter()
    for line in lines:
        if line.startswith("ERROR"):
            continue
        if not line.startswith("Warning"):  # not KLayout's: passed on as it was
            print(line, file=sys.stderr)
            continue
        text = re.sub(r"^Warning:\s*", "", line)
        if _IN_FILE.match(text):  # names the file by itself; the logged lines name it
            continue
        warnings[_POSITION.sub("", text)] += 1
    logger = get_logger()
    log = logger.debug if debug else logger.warning
    for text, count in warnings.items():
        times = f" ({count:,} times)" if count > 1 else ""
        log(f"reading {path}: {text}{times}")


_GDS_START = b"\x00\x06\x00\x02"  # the stream's first record: HEADER with its version


def _is_gds(path: Path) -> bool:
    with open(path, "rb") as file:
        return file.read(4) == _GDS_START


def _as_gds_holds_it(layout: Any) -> Any:
    """`layout` as a GDS stream carries it, made in memory: what another format can hold and GDS
    cannot (arrays in any lattice form, repeated shapes, polygons of any size, layer names) takes
    the one form GDS gives it, so that a scene of any format is the scene of the same layout
    saved as GDS."""
    from brenvik.gds_stream import through_gds

    return through_gds(layout)


def _cell_name(cell: Any) -> str | None:
    try:
        return cell.name
    except RuntimeError:  # a name that is not UTF-8; the scene's reader has its own fallback
        return None


def _gds_cell_names(path: Path) -> list[bytes]:
    """The cell names of a GDS file as bytes, in the order KLayout's reader meets them (a
    structure's STRNAME, or a reference's SNAME to a structure not met yet): KLayout's Python API
    hands names out only as UTF-8 text, so a name in another encoding is taken from the file."""
    names: dict[bytes, None] = {}
    with open(path, "rb") as file:
        data = file.read()
    position = 0
    while position + 4 <= len(data):
        length = int.from_bytes(data[position : position + 2], "big")
        if length < 4:
            break
        if data[position + 2] in (0x06, 0x12):  # STRNAME, SNAME
            names.setdefault(data[position + 4 : position + length].rstrip(b"\0"))
        position += length
    return list(names)


def _read_names_as_latin1(layout: Any, path: Path) -> None:
    """Renames every cell whose name is not UTF-8 (old GDS files carry Latin-1 names) to the
    same bytes read as Latin-1: every byte is kept, so the name stays what the file says. The
    file's names are matched to KLayout's cells by order, and used only when every other cell's
    name agrees with that match; otherwise the layout is left as it is."""
    cells = list(layout.each_cell())
    unreadable = [cell for cell in cells if _cell_name(cell) is None]
    if not unreadable or not _is_gds(path):
        return
    names = _gds_cell_names(path)
    if len(names) != len(cells):
        return
    by_index = dict(zip(sorted(cell.cell_index() for cell in cells), names, strict=True))
    for cell in cells:
        name = _cell_name(cell)
        if name is not None and name.encode() != by_index[cell.cell_index()]:
            return
    for cell in unreadable:
        cell.name = by_index[cell.cell_index()].decode("latin-1")


def _listing(names: list[str]) -> str:
    shown = ", ".join(names[:_SHOWN_CELLS])
    more = len(names) - _SHOWN_CELLS
    return shown + (f" and {more:,} more" if more > 0 else "")


# Hierarchies at most this deep are never near the scene's text limit; deeper ones are measured.
_SHALLOW_LEVELS = 100
_FIELDS_PER_NODE = 256  # the bytes the scene counts for a node besides its name and id


def _text_limit(limit: int) -> str:
    return f"{limit >> 20:,} MiB" if limit >= 1 << 20 else f"{limit:,} bytes"


def _refuse_deep_chain(layout: Any, tops: list[Any]) -> None:
    """ValueError when a hierarchy is so deep that the scene's node names and ids alone (each id
    holds its parent's) would pass the message limit: raised before the scene builds anything.

    The count follows one chain of cells from each drawn cell down to a cell with shapes, always
    into the deepest child, with the cells' own names: every cell on it is a node of the scene,
    so the scene counts at least as much."""
    from tarnwick.settings import get_max_message_bytes

    if max(top.hierarchy_levels() for top in tops) <= _SHALLOW_LEVELS:
        return
    limit = get_max_message_bytes()
    # Levels from each cell down to its deepest cell with shapes (-1: no shapes below it).
    depth: dict[int, int] = {}
    for index in layout.each_cell_bottom_up():
        cell = layout.cell(index)
        below = -1 if cell.bbox().empty() else 0
        for child in cell.each_child_cell():
            if depth.get(child, -1) >= 0:
                below = max(below, depth[child] + 1)
        depth[index] = below
    for top in tops:
        index, id_size, total = top.cell_index(), len("/Cells"), 0
        while depth.get(index, -1) >= 0:
            cell = layout.cell(index)
            name = len((_cell_name(cell) or "?").encode())
            id_size += 1 + name
            total += id_size + name + _FIELDS_PER_NODE
            if total > limit:
                raise ValueError(
                    f"the hierarchy below {_cell_name(top)!r} is {depth[top.cell_index()]:,} "
                    "levels deep: the scene's node names and ids alone would take more than the "
                    f"limit of {_text_limit(limit)} of text; set TARNWICK_MAX_MESSAGE_BYTES to a "
                    "higher number to show it anyway"
                )
            children = [c for c in cell.each_child_cell() if depth.get(c, -1) >= 0]
            if not children:
                break
            index = max(children, key=lambda c: depth[c])


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
    lines: list[str] = []
    try:
        with _captured_output() as lines:
            layout.read(str(path))
    finally:
        _log_reader_output(lines, path)
    if not _is_gds(path):
        # What KLayout says about the GDS form (its record limits) is not about the user's file.
        with _captured_output() as lines:
            layout = _as_gds_holds_it(layout)
        _log_reader_output(lines, path, debug=True)
    _read_names_as_latin1(layout, path)
    tops = [top for top in layout.top_cells() if _cell_name(top) != CONTEXT_CELL]
    if not tops:
        raise ValueError(f"{path} holds no cells: an empty layout has nothing to show or use")
    if cell is not None:
        chosen = layout.cell(cell) if isinstance(cell, str) else None
        if chosen is None:
            names = [_cell_name(top) or f"#{top.cell_index()}" for top in tops]
            raise UnknownCellError(f"{path} has no cell {cell!r} (top cells: {_listing(names)})")
        tops = [chosen]
        # The rest of the file is not drawn: dropped, so that nothing (the undrawn-layer notice
        # among it) counts shapes outside the cell's hierarchy, and its memory goes now.
        from brenvik.hierarchy import cells_below

        kept = cells_below(chosen) | {chosen.cell_index()}
        dropped = [index for index in layout.each_cell_top_down() if index not in kept]
        if dropped:
            layout.delete_cells(dropped)
    _refuse_deep_chain(layout, tops)
    if layer_stack is not None:
        layer_stack.add_derived_layers(layout, [top.cell_index() for top in tops])
    return layout, [top.cell_index() for top in tops]
