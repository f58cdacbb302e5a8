"""``TKCell``: one cell of a :class:`~tesselink.layout.KCLayout`."""

from __future__ import annotations

import klayout.db as kdb

from tesselink.layout import KCLayout


class TKCell:
    """Wraps one ``klayout.db.Cell`` of a library layout.

    ``kdb_cell`` is the KLayout cell and ``layout`` the layout that owns it.
    """

    __slots__ = ("_cell_index", "_layout")

    def __init__(self, kdb_cell: kdb.Cell) -> None:
        if not isinstance(kdb_cell, kdb.Cell):
            raise TypeError(f"TKCell wraps a klayout.db.Cell, got {type(kdb_cell).__name__}")
        layout = kdb_cell.layout()
        if layout is None:
            raise ValueError("the cell does not belong to a layout")
        self._layout = layout
        self._cell_index = kdb_cell.cell_index()

    @classmethod
    def create(cls, layout: KCLayout, name: str) -> TKCell:
        """Create a new cell called ``name`` (made unique by KLayout if taken) in ``layout``."""
        return cls(layout.create_cell(name))

    @property
    def layout(self) -> kdb.Layout:
        return self._layout

    @property
    def cell_index(self) -> int:
        return self._cell_index

    @property
    def kdb_cell(self) -> kdb.Cell:
        return self._layout.cell(self._cell_index)

    @property
    def name(self) -> str:
        return self.kdb_cell.name

    @name.setter
    def name(self, value: str) -> None:
        self.kdb_cell.name = value

    def bbox_um(self) -> kdb.DBox:
        """Bounding box of the cell and its hierarchy, in µm."""
        return self.kdb_cell.dbbox()

    def __eq__(self, other: object) -> bool:
        return (
            isinstance(other, TKCell)
            and other._layout is self._layout
            and other._cell_index == self._cell_index
        )

    def __hash__(self) -> int:
        return hash((id(self._layout), self._cell_index))

    def __repr__(self) -> str:
        return f"TKCell({self.name!r}, index={self._cell_index})"
