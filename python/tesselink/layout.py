"""The library's layout: a KLayout ``Layout`` with a fixed database unit."""

from __future__ import annotations

import weakref
from typing import Any

import klayout.db as kdb

#: Database unit of every library layout, in micrometres.
DBU_UM = 0.001


class KCLayout(kdb.Layout):
    """A ``klayout.db.Layout`` used by the component libraries (dbu 0.001 µm).

    Besides the KLayout layout itself it carries ``registry``, a map from cell index to the
    Python object (e.g. a component) that higher-level libraries attach to that cell, so a cell
    found while walking the hierarchy can be mapped back to the object that owns it. The map
    holds its objects weakly: an object lives as long as someone else holds it, and the layout
    with it, so a layout that nobody uses any more is freed at once, without waiting for the
    garbage collector to find the cycle between the two.
    """

    def __init__(self, name: str = "kcl", dbu: float = DBU_UM) -> None:
        super().__init__()
        self.dbu = dbu
        self.name = name
        self.registry: weakref.WeakValueDictionary[int, Any] = weakref.WeakValueDictionary()

    def layer_index(self, layer: int, datatype: int) -> int:
        """Index of the (layer, datatype) layer in this layout, created when missing."""
        return self.layer(int(layer), int(datatype))

    def __repr__(self) -> str:
        return f"KCLayout(name={self.name!r}, cells={self.cells()}, dbu={self.dbu})"


kcl = KCLayout("default")


def get_kcl() -> KCLayout:
    """The current default layout (the module attribute ``tesselink.kcl``)."""
    import tesselink

    return tesselink.kcl


def set_kcl(layout: KCLayout) -> KCLayout:
    """Make ``layout`` the default layout (``tesselink.kcl``) and return it."""
    import tesselink

    if not isinstance(layout, kdb.Layout):
        raise TypeError(f"expected a layout, got {type(layout).__name__}")
    tesselink.kcl = layout
    globals()["kcl"] = layout
    return layout


def reset_kcl() -> KCLayout:
    """Replace the default layout by a fresh, empty one and return it.

    Objects built in the previous layout keep working (they hold their own layout); new cells
    go into the fresh one.
    """
    return set_kcl(KCLayout("default"))
