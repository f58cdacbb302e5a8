"""A technology: a named layer stack with its layer views, and how it becomes the component
library's `LayerStack` and `LayerViews`."""

from __future__ import annotations

import colorsys
import math
from dataclasses import dataclass, field, replace
from typing import Any

__all__ = [
    "DEFAULT_THICKNESS",
    "TechLayer",
    "Technology",
    "TechnologyError",
    "build_pair",
    "distinct_color",
]

#: Thickness in µm of a layer that `--all-layers` adds because the technology does not know it.
DEFAULT_THICKNESS = 0.2

# Readable on the viewer's light and dark backgrounds, far apart from one another.
_PALETTE = (
    "#e6194b", "#3cb44b", "#4363d8", "#f58231", "#911eb4", "#42d4f4", "#f032e6", "#bfef45",
    "#469990", "#9a6324", "#800000", "#808000", "#000075", "#fabed4", "#ffd8b1", "#aaffc3",
    "#dcbeff", "#a9a9a9", "#ffe119", "#008080",
)  # fmt: skip


class TechnologyError(ValueError):
    """Technology input that cannot be used; the text is one line naming the file, the line and
    the key where it can."""


def distinct_color(position: int) -> str:
    """The `position`-th of a sequence of distinct, readable colours ("#rrggbb")."""
    if position < len(_PALETTE):
        return _PALETTE[position]
    # Beyond the palette: hues a golden angle apart, in two lightness bands.
    hue = (position * 0.618033988749895) % 1.0
    light = 0.45 if position % 2 else 0.6
    r, g, b = colorsys.hls_to_rgb(hue, light, 0.75)
    return f"#{round(r * 255):02x}{round(g * 255):02x}{round(b * 255):02x}"


@dataclass(frozen=True)
class TechLayer:
    """One layer of a technology: heights in µm, colour as "#rrggbb" (None: one is picked)."""

    name: str
    layer: int
    datatype: int
    zmin: float
    thickness: float
    color: str | None = None
    visible: bool = True

    @property
    def spec(self) -> tuple[int, int]:
        return (self.layer, self.datatype)

    @property
    def zmax(self) -> float:
        return self.zmin + self.thickness


@dataclass
class Technology:
    """A named layer stack. `base` is a ready (LayerStack, LayerViews) pair that the technology
    extends (the demo PDK's own, with its derived layers): while `layers` equals `base_layers`,
    the pair is used exactly as it is. `all_layers` draws every layer of a file, the unknown ones
    stacked above the known."""

    name: str
    layers: list[TechLayer] = field(default_factory=list)
    description: str = ""
    source: str = ""
    all_layers: bool = False
    base: tuple[Any, Any] | None = None
    base_layers: list[TechLayer] | None = None
    # Names of layers the technology has no heights for, from a .lyp file.
    lyp_names: dict[tuple[int, int], str] = field(default_factory=dict)

    def __post_init__(self) -> None:
        check_layers(self.layers, self.source or self.name)

    def layer(self, spec: tuple[int, int]) -> TechLayer | None:
        for layer in self.layers:
            if layer.spec == spec:
                return layer
        return None

    def knows(self, spec: tuple[int, int]) -> bool:
        return self.layer(spec) is not None

    def name_of(self, spec: tuple[int, int]) -> str | None:
        """The layer's name: the technology's, else the one a .lyp file gave, else None."""
        layer = self.layer(spec)
        return layer.name if layer is not None else self.lyp_names.get(spec)

    def extended(self, file_layers) -> Technology:
        """Every layer visible, and those of `file_layers` ((layer, datatype) pairs) that the
        technology does not know stacked above its highest layer, in (layer, datatype) order,
        `DEFAULT_THICKNESS` thick each, named "layer/datatype", with distinct colours."""
        layers = [replace(layer, visible=True) for layer in self.layers]
        top = max((layer.zmax for layer in layers), default=0.0)
        used = {layer.color for layer in layers}
        names = {layer.name for layer in layers}
        position = 0
        for spec in sorted(set(file_layers)):
            if self.knows(spec):
                continue
            while distinct_color(position) in used:
                position += 1
            color = distinct_color(position)
            used.add(color)
            name = f"{spec[0]}/{spec[1]}"
            while name in names:
                name += "'"
            names.add(name)
            layers.append(TechLayer(name, spec[0], spec[1], top, DEFAULT_THICKNESS, color))
            top += DEFAULT_THICKNESS
        return replace(self, layers=layers, all_layers=False)

    def stack_and_views(self):
        """The component library's (LayerStack, LayerViews) of this technology."""
        if self.base is not None and self.layers == self.base_layers:
            return self.base
        return build_pair(self.name, self.layers, self.base)


def build_pair(name: str, layers: list[TechLayer], base=None):
    """(LayerStack, LayerViews) drawing `layers`: on top of a `base` pair, whose levels of the same
    layers take the new names and heights (derived levels keep their expressions) and whose
    views of the same layers are replaced."""
    from brenvik.technology import LayerLevel, LayerStack, LayerView, LayerViews, LogicalLayer
    from tesselink.layer import LayerEnum

    wanted = {layer.spec: layer for layer in layers}
    enum = LayerEnum(f"{name}_layers", {layer.name: layer.spec for layer in layers})  # type: ignore[call-overload]
    colors = picked_colors(layers)
    levels: dict[str, Any] = {}
    placed: set[tuple[int, int]] = set()
    for key, level in (base[0].layers if base else {}).items():
        target = level.derived_layer if level.derived_layer is not None else level.layer
        spec = target.tuple if isinstance(target, LogicalLayer) else None
        if spec in wanted:
            layer = wanted[spec]
            drawn = LogicalLayer(layer=enum[layer.name])
            slot = "derived_layer" if level.derived_layer is not None else "layer"
            level = replace(level, **{slot: drawn}, thickness=layer.thickness, zmin=layer.zmin)
            placed.add(spec)
        levels[key] = level
    for layer in layers:
        if layer.spec in placed:
            continue
        key = layer.name if layer.name not in levels else f"{layer.name} {layer.spec}"
        levels[key] = LayerLevel(
            layer=LogicalLayer(layer=enum[layer.name]), thickness=layer.thickness, zmin=layer.zmin
        )
    views: dict[str, Any] = {}
    for key, view in (base[1].layer_views if base else {}).items():
        if view.layer not in wanted:
            views[key] = view
    for layer in layers:
        views[layer.name] = LayerView(
            name=layer.name,
            layer=layer.spec,
            fill_color=colors[layer.spec] if layer.visible else None,
            frame_color=colors[layer.spec],
            visible=layer.visible,
        )
    return LayerStack(layers=levels), LayerViews(layer_views=views)


def picked_colors(layers: list[TechLayer]) -> dict[tuple[int, int], str]:
    """Each layer's colour: its own, else a distinct one that no other layer uses."""
    used = {layer.color for layer in layers if layer.color}
    out, position = {}, 0
    for layer in layers:
        if layer.color:
            out[layer.spec] = layer.color
            continue
        while distinct_color(position) in used:
            position += 1
        out[layer.spec] = distinct_color(position)
        used.add(out[layer.spec])
    return out


def check_layers(layers: list[TechLayer], where: str) -> None:
    """Refuse what no stack can hold: a layer or name given twice, a bad number or name."""
    by_spec: dict[tuple[int, int], str] = {}
    names: set[str] = set()
    for layer in layers:
        if layer.spec in by_spec:
            raise TechnologyError(
                f"{where}: layer {layer.layer}/{layer.datatype} given twice "
                f"({by_spec[layer.spec]} and {layer.name})"
            )
        by_spec[layer.spec] = layer.name
        if layer.name in names:
            raise TechnologyError(f"{where}: layer name {layer.name!r} given twice")
        names.add(layer.name)
        if not layer.name or layer.name[0] == "_" or layer.name[-1] == "_" or layer.name == "mro":
            raise TechnologyError(
                f"{where}: layer name {layer.name!r}: must not be empty or start or end with '_'"
            )
        if not math.isfinite(layer.zmin):
            raise TechnologyError(f"{where}: layer {layer.name}: zmin must be finite")
        if not (math.isfinite(layer.thickness) and layer.thickness >= 0):
            raise TechnologyError(
                f"{where}: layer {layer.name}: thickness must be a finite number not below 0"
            )
