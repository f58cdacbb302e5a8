"""Walks of a cell hierarchy with an explicit stack.

KLayout's `Cell.called_cells` and `Cell.caller_cells` recurse in C++ once per level, which
overflows the native stack on a hierarchy about a hundred thousand levels deep; these walks take
one step per cell and need no stack of their own."""

from __future__ import annotations

import klayout.db as kdb


def _reachable(cell: kdb.Cell, neighbours: str) -> set[int]:
    layout = cell.layout()
    found: set[int] = set()
    todo = [cell.cell_index()]
    while todo:
        for index in getattr(layout.cell(todo.pop()), neighbours)():
            if index not in found:
                found.add(index)
                todo.append(index)
    return found


def cells_below(cell: kdb.Cell) -> set[int]:
    """The indices of every cell that `cell` places, directly or further down."""
    return _reachable(cell, "each_child_cell")


def cells_above(cell: kdb.Cell) -> set[int]:
    """The indices of every cell that places `cell`, directly or further up."""
    return _reachable(cell, "each_parent_cell")
