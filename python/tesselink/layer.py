"""``LayerEnum``: base class for enums of GDS (layer, datatype) pairs."""

from __future__ import annotations

import enum

import klayout.db as kdb


class LayerEnum(enum.Enum):
    """Base for an Enum of GDS layers.

    Each member's value is a ``(layer, datatype)`` pair::

        class DemoLayer(LayerEnum):
            WG = (1, 0)

    and each member exposes ``.layer``, ``.datatype`` and ``.name`` (the member name).
    """

    def __init__(self, layer: int, datatype: int) -> None:
        if not isinstance(layer, int) or not isinstance(datatype, int):
            raise TypeError(f"layer and datatype must be int, got {layer!r}, {datatype!r}")
        if not (0 <= layer < 65536 and 0 <= datatype < 65536):
            raise ValueError(f"layer/datatype out of GDS range: {layer}/{datatype}")
        self.layer = layer
        self.datatype = datatype

    @property
    def tuple(self) -> tuple[int, int]:
        """The ``(layer, datatype)`` pair."""
        return (self.layer, self.datatype)

    def layer_info(self) -> kdb.LayerInfo:
        """A KLayout ``LayerInfo`` with layer, datatype and the member name."""
        return kdb.LayerInfo(self.layer, self.datatype, self.name)

    def index(self, layout: kdb.Layout | None = None) -> int:
        """Index of this layer in ``layout`` (default: the library layout), created if missing."""
        if layout is None:
            from tesselink.layout import get_kcl

            layout = get_kcl()
        return layout.layer(self.layer, self.datatype)

    @classmethod
    def from_tuple(cls, layer: int, datatype: int) -> LayerEnum:
        """The member for a ``(layer, datatype)`` pair; ``KeyError`` if none."""
        for member in cls:
            if member.layer == layer and member.datatype == datatype:
                return member
        raise KeyError(f"{cls.__name__} has no layer {layer}/{datatype}")

    def __str__(self) -> str:
        return self.name

    def __repr__(self) -> str:
        return f"<{type(self).__name__}.{self.name}: {self.layer}/{self.datatype}>"
