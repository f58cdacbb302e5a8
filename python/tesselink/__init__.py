"""tesselink: a small cell library on top of ``klayout.db``.

``kcl`` is the default layout, replaced by :func:`reset_kcl`.
"""

from __future__ import annotations

from tesselink import kcell
from tesselink.kcell import TKCell
from tesselink.layer import LayerEnum
from tesselink.layout import DBU_UM, KCLayout, get_kcl, kcl, reset_kcl, set_kcl

__all__ = [
    "DBU_UM",
    "KCLayout",
    "LayerEnum",
    "TKCell",
    "get_kcl",
    "kcell",
    "kcl",
    "reset_kcl",
    "set_kcl",
]
