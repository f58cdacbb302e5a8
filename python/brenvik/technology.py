"""Process technology: layer stacks (heights, materials, derived layers) and layer views."""

from __future__ import annotations

import re
from collections.abc import Iterator, Mapping
from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Any, Union

import klayout.db as kdb
from tesselink.layer import LayerEnum
from tesselink.layout import KCLayout

from brenvik.component import layer_index, layer_tuple
from brenvik.gds_stream import through_gds
from brenvik.hierarchy import cells_below
from brenvik.limits import limit_from_environment

if TYPE_CHECKING:
    from brenvik.component import Component

_OPERATIONS = {
    "and": "and",
    "&": "and",
    "or": "or",
    "|": "or",
    "not": "not",
    "-": "not",
    "xor": "xor",
    "^": "xor",
}
_SYMBOL = {"and": "&", "or": "|", "not": "-", "xor": "^"}

#: Most shapes that computing one derived layer may flatten. The flat copy costs memory and
#: time per shape, and a file of a few hundred bytes can place a shape a billion times (one
#: 32767 x 32767 array); the environment variable below overrides it.
MAX_FLAT_SHAPES = 5_000_000
MAX_FLAT_SHAPES_VARIABLE = "BRENVIK_MAX_FLAT_SHAPES"


class TooManyShapesError(ValueError):
    """A derived layer would flatten more shapes than `max_flat_shapes` allows."""


class _LayerExpression:
    """Boolean operators shared by logical and derived layers."""

    def __and__(self, other: LayerExpression) -> DerivedLayer:
        return DerivedLayer(self, other, "and")  # type: ignore[arg-type]

    def __or__(self, other: LayerExpression) -> DerivedLayer:
        return DerivedLayer(self, other, "or")  # type: ignore[arg-type]

    def __sub__(self, other: LayerExpression) -> DerivedLayer:
        return DerivedLayer(self, other, "not")  # type: ignore[arg-type]

    def __xor__(self, other: LayerExpression) -> DerivedLayer:
        return DerivedLayer(self, other, "xor")  # type: ignore[arg-type]


@dataclass(frozen=True, eq=True)
class LogicalLayer(_LayerExpression):
    """One drawn GDS layer (a LayerEnum member or a (layer, datatype) pair)."""

    layer: Any

    def __post_init__(self) -> None:
        layer_tuple(self.layer)  # rejects values that are not layers

    @property
    def tuple(self) -> tuple[int, int]:
        return layer_tuple(self.layer)

    def get_region(self, cell: kdb.Cell) -> kdb.Region:
        """Merged-free region of this layer over ``cell`` and its whole hierarchy (flattened).

        A layer the layout does not have gives an empty region; the layout is not changed.
        """
        layout = cell.layout()
        index = layout.find_layer(*self.tuple)
        if index is None:
            return kdb.Region()
        return kdb.Region(cell.begin_shapes_rec(index))

    def __str__(self) -> str:
        return self.layer.name if isinstance(self.layer, LayerEnum) else str(self.tuple)


@dataclass(frozen=True, eq=True)
class DerivedLayer(_LayerExpression):
    """The boolean ``left <operation> right`` of two layers (logical or derived).

    ``operation`` is ``"and"``/``"&"``, ``"or"``/``"|"``, ``"not"``/``"-"`` (left minus
    right) or ``"xor"``/``"^"``.
    """

    left: LayerExpression
    right: LayerExpression
    operation: str = "and"

    def __post_init__(self) -> None:
        op = _OPERATIONS.get(str(self.operation).lower())
        if op is None:
            raise ValueError(f"unknown layer operation {self.operation!r}")
        object.__setattr__(self, "operation", op)
        for side in (self.left, self.right):
            if not isinstance(side, LogicalLayer | DerivedLayer):
                raise TypeError(f"operands must be LogicalLayer or DerivedLayer, got {side!r}")

    def get_region(self, cell: kdb.Cell) -> kdb.Region:
        """The boolean result over ``cell``'s flattened geometry."""
        left = self.left.get_region(cell)
        right = self.right.get_region(cell)
        if self.operation == "and":
            return left & right
        if self.operation == "or":
            return left | right
        if self.operation == "not":
            return left - right
        return left ^ right

    def layers(self) -> list[LogicalLayer]:
        """Every logical layer the expression reads."""
        out: list[LogicalLayer] = []
        for side in (self.left, self.right):
            out += side.layers() if isinstance(side, DerivedLayer) else [side]
        return out

    def __str__(self) -> str:
        return f"({self.left} {_SYMBOL[self.operation]} {self.right})"


LayerExpression = Union[LogicalLayer, DerivedLayer]  # noqa: UP007 - used at run time too


def _as_expression(value: Any) -> LayerExpression:
    if isinstance(value, LogicalLayer | DerivedLayer):
        return value
    return LogicalLayer(layer=value)


@dataclass
class LayerLevel:
    """One level of the process stack.

    ``layer`` is what the level is made of (a logical or derived layer; a bare LayerEnum
    member or pair is taken as a logical layer). ``derived_layer`` is the drawn layer that
    receives the computed polygons when ``layer`` is derived. Heights are in µm.
    """

    layer: LayerExpression
    derived_layer: LayerExpression | None = None
    thickness: float = 0.0
    zmin: float = 0.0
    material: str | None = None
    sidewall_angle: float = 0.0
    mesh_order: int = 3
    info: dict[str, Any] = field(default_factory=dict)

    def __post_init__(self) -> None:
        self.layer = _as_expression(self.layer)
        if self.derived_layer is not None:
            # A derived expression is accepted as target but has nothing to be drawn on.
            self.derived_layer = _as_expression(self.derived_layer)
        if self.thickness < 0:
            raise ValueError(f"thickness must not be negative, got {self.thickness}")

    @property
    def zmax(self) -> float:
        return self.zmin + self.thickness

    @property
    def is_derived(self) -> bool:
        return isinstance(self.layer, DerivedLayer)


@dataclass
class LayerStack:
    """Ordered levels of a process, by name."""

    layers: dict[str, LayerLevel] = field(default_factory=dict)

    def __post_init__(self) -> None:
        self.layers = dict(self.layers)
        for name, level in self.layers.items():
            if not isinstance(level, LayerLevel):
                raise TypeError(f"level {name!r} is not a LayerLevel: {level!r}")

    def __getitem__(self, name: str) -> LayerLevel:
        return self.layers[name]

    def __iter__(self) -> Iterator[str]:
        return iter(self.layers)

    def __len__(self) -> int:
        return len(self.layers)

    def get_layer_to_thickness(self) -> dict[tuple[int, int], float]:
        """Thickness per drawn layer (logical levels, and derived ones by their target)."""
        return {t: lv.thickness for t, lv in self._drawn_levels()}

    def get_layer_to_zmin(self) -> dict[tuple[int, int], float]:
        return {t: lv.zmin for t, lv in self._drawn_levels()}

    def get_layer_to_material(self) -> dict[tuple[int, int], str | None]:
        return {t: lv.material for t, lv in self._drawn_levels()}

    def _drawn_levels(self) -> list[tuple[tuple[int, int], LayerLevel]]:
        out = []
        for level in self.layers.values():
            if isinstance(level.derived_layer, LogicalLayer):
                out.append((level.derived_layer.tuple, level))
            elif level.derived_layer is not None:
                continue
            elif isinstance(level.layer, LogicalLayer):
                out.append((level.layer.tuple, level))
        return out

    def get_component_with_derived_layers(self, component: Component) -> Component:
        """A deep copy of ``component`` (same cell tree, cell names, instances and arrays; new
        cells in a layout of their own) whose
        top cell additionally holds, for every level with a ``derived_layer``, the polygons of
        the level's layer expression computed over the original's flattened geometry.

        Levels with a derived layer expression but no ``derived_layer`` (or a derived
        expression as ``derived_layer``) are skipped. The original component is not changed.
        """
        results = _derived_regions(self._derived_levels(), component.kdb_cell, component.name)
        # The copy goes into a layout of its own, so every cell keeps its name: in the same
        # layout KLayout would have to rename the copies (name$1, ...).
        copied = component.copy_into(KCLayout(dbu=component.layout.dbu), name=component.name)
        for target, region in results:
            index = layer_index(copied.layout, target.layer)
            copied.kdb_cell.shapes(index).insert(region)
        return copied

    def _derived_levels(self) -> list[LayerLevel]:
        return [lv for lv in self.layers.values() if isinstance(lv.derived_layer, LogicalLayer)]

    def add_derived_layers(self, layout: kdb.Layout, cells: list[int]) -> None:
        """Computes, as `get_component_with_derived_layers` does for a component, the derived
        layers of each cell of `cells` (indices into `layout`) over its flattened hierarchy, and
        adds them to that cell in place.

        The cell's shapes on each target layer then take the form a GDS file gives them (holes
        cut open, rectangles as boxes, long polygons split, KLayout's order), exactly as the
        component's copy has them once written to a GDS file and read again."""
        levels = self._derived_levels()
        if not levels:
            return
        for index in cells:
            cell = layout.cell(index)
            targets = []
            for target, region in _derived_regions(levels, cell, cell.name):
                found = layout.find_layer(*target.tuple)
                if found is None and region.is_empty():
                    continue  # an empty layer: a GDS file would not hold it either
                target_index = found if found is not None else layer_index(layout, target.layer)
                cell.shapes(target_index).insert(region)
                if target_index not in targets:
                    targets.append(target_index)
            _as_in_a_gds_file(layout, cell, targets)


def _surely_empty(expression: LayerExpression, layout: kdb.Layout) -> bool:
    """Whether `expression` is empty in `layout` by the layers it lacks alone."""
    if isinstance(expression, LogicalLayer):
        return layout.find_layer(*expression.tuple) is None
    left = _surely_empty(expression.left, layout)
    right = _surely_empty(expression.right, layout)
    if expression.operation == "and":
        return left or right
    if expression.operation == "not":
        return left
    return left and right


def _derived_regions(levels: list[LayerLevel], cell: kdb.Cell, name: str) -> list[tuple]:
    """(target layer, region) of each level, computed over `cell`'s flattened hierarchy; refused
    with `TooManyShapesError` (naming `name`) before anything is flattened when a level would
    flatten too many shapes."""
    if not levels:
        return []
    layout = cell.layout()
    if all(_surely_empty(level.layer, layout) for level in levels):
        # Nothing to flatten: every expression reads a layer the layout does not have where an
        # empty side empties the result.
        return [(level.derived_layer, kdb.Region()) for level in levels]
    read = {
        index
        for level in levels
        for layer in (
            level.layer.layers() if isinstance(level.layer, DerivedLayer) else [level.layer]
        )
        if (index := layout.find_layer(*layer.tuple)) is not None
    }
    flat = _flat_layers(cell, read)
    results = []
    for level in levels:
        _refuse_huge_flattening(name, layout, level, flat)
        results.append((level.derived_layer, level.layer.get_region(cell)))
    return results


def _as_in_a_gds_file(layout: kdb.Layout, cell: kdb.Cell, layers: list[int]) -> None:
    """Replaces the shapes of `cell` on `layers` by what KLayout reads back from a GDS stream of
    them (written in memory, never to disk)."""
    scratch = kdb.Layout()
    scratch.dbu = layout.dbu
    copy = scratch.create_cell("scratch")
    specs = []
    for index in layers:
        info = layout.get_info(index)
        spec = (info.layer, info.datatype)
        specs.append(spec)
        copy.shapes(scratch.layer(*spec)).insert(cell.shapes(index))
    back = through_gds(scratch)
    top = back.top_cell()
    for index, spec in zip(layers, specs, strict=True):
        shapes = cell.shapes(index)
        shapes.clear()
        found = back.find_layer(*spec)
        if found is not None:
            shapes.insert(top.shapes(found))


def max_flat_shapes() -> int:
    """The most shapes that computing one derived layer may flatten: `MAX_FLAT_SHAPES`, or the
    whole number in the environment variable named by `MAX_FLAT_SHAPES_VARIABLE`."""
    return limit_from_environment(MAX_FLAT_SHAPES_VARIABLE, MAX_FLAT_SHAPES)


@dataclass(frozen=True)
class _FlatLayer:
    """What flattening one layer below a cell costs: its shape count once flattened, and how
    deep its shapes pile up on average (the summed area of every placed cell's extent on the
    layer over the area of the whole extent; at least 1)."""

    shapes: int
    depth: float

    @property
    def work(self) -> float:
        return self.shapes * self.depth


def _flat_layers(top: kdb.Cell, layers: set[int]) -> dict[int, _FlatLayer]:
    """Per layer index of `layers`, the flattening cost of the hierarchy below `top`.

    One pass over the cells in top-down order: a cell's multiplicity is the sum over its
    parents' instances of the parent's multiplicity times the instance's element count, so an
    array of any size costs one step and nothing is expanded."""
    layout = top.layout()
    multiplicity = dict.fromkeys([top.cell_index(), *cells_below(top)], 0)
    multiplicity[top.cell_index()] = 1
    shapes: dict[int, int] = {}
    area: dict[int, int] = {}
    layers = sorted(layers)
    for index in layout.each_cell_top_down():
        times = multiplicity.get(index, 0)
        if not times:
            continue
        cell = layout.cell(index)
        for instance in cell.each_inst():
            multiplicity[instance.cell_index] += times * instance.size()
        for layer in layers:
            own = cell.shapes(layer).size()
            if own:
                shapes[layer] = shapes.get(layer, 0) + times * own
                area[layer] = area.get(layer, 0) + times * cell.bbox(layer).area()
    out = {}
    for layer, count in shapes.items():
        extent = top.bbox(layer).area()
        out[layer] = _FlatLayer(count, max(1.0, area[layer] / extent) if extent > 0 else 1.0)
    return out


def _flat_cost(expression: LayerExpression, layout: kdb.Layout, flat: dict[int, _FlatLayer]):
    """(shapes, work) of computing `expression`: its layers' flattened shapes, and those shapes
    weighted by how deep they overlap (KLayout's booleans slow down with the overlap). A side
    is skipped where the other is empty and KLayout does not read it (``a & empty``,
    ``empty - b``)."""
    if isinstance(expression, LogicalLayer):
        index = layout.find_layer(*expression.tuple)
        layer = flat.get(index) if index is not None else None
        return (0, 0.0) if layer is None else (layer.shapes, layer.work)
    left = _flat_cost(expression.left, layout, flat)
    right = _flat_cost(expression.right, layout, flat)
    if expression.operation == "and" and not (left[0] and right[0]):
        return (0, 0.0)
    if expression.operation == "not" and not left[0]:
        return (0, 0.0)
    return (left[0] + right[0], left[1] + right[1])


def _refuse_huge_flattening(
    name: str, layout: kdb.Layout, level: LayerLevel, flat: dict[int, _FlatLayer]
):
    """Raise `TooManyShapesError` if the level's derived layer would flatten more shapes than
    `max_flat_shapes` allows, each counted once per level of overlap."""
    shapes, work = _flat_cost(level.layer, layout, flat)
    limit = max_flat_shapes()
    if work > limit:
        depth = f", overlapping about {work / shapes:,.0f} deep" if work > 1.5 * shapes else ""
        raise TooManyShapesError(
            f"cannot compute the derived layer {level.derived_layer} {level.layer} of "
            f"{name!r}: it would flatten {shapes:,} shapes{depth}, more than the limit "
            f"of {limit:,} shapes (each counted once per level of overlap; set "
            f"{MAX_FLAT_SHAPES_VARIABLE} to raise it)"
        )


_HEX = re.compile(r"^#?([0-9a-fA-F]{6})$")


@dataclass(frozen=True)
class Color:
    """An RGB colour with 0..255 channels."""

    r: int
    g: int
    b: int

    def __post_init__(self) -> None:
        for channel in (self.r, self.g, self.b):
            if not isinstance(channel, int) or not 0 <= channel <= 255:
                raise ValueError(f"colour channels are ints in 0..255, got {channel!r}")

    @classmethod
    def from_hex(cls, text: str) -> Color:
        match = _HEX.match(text.strip())
        if not match:
            raise ValueError(f"not a #rrggbb colour: {text!r}")
        value = int(match.group(1), 16)
        return cls((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF)

    def as_hex(self) -> str:
        return f"#{self.r:02x}{self.g:02x}{self.b:02x}"

    def as_tuple(self) -> tuple[int, int, int]:
        return (self.r, self.g, self.b)


def _as_color(value: Any) -> Color | None:
    if value is None or isinstance(value, Color):
        return value
    if isinstance(value, str):
        return Color.from_hex(value)
    r, g, b = value
    return Color(int(r), int(g), int(b))


@dataclass
class LayerView:
    """How one layer is shown: name, (layer, datatype), colours and pattern."""

    name: str
    layer: tuple[int, int]
    fill_color: Color | None = None
    frame_color: Color | None = None
    dither_pattern: str = "solid"
    visible: bool = True
    transparent: bool = False

    def __post_init__(self) -> None:
        self.layer = layer_tuple(self.layer)
        self.fill_color = _as_color(self.fill_color)
        self.frame_color = _as_color(self.frame_color)


@dataclass
class LayerViews:
    """The views of a process's layers, by name."""

    layer_views: dict[str, LayerView] = field(default_factory=dict)

    def __post_init__(self) -> None:
        self.layer_views = dict(self.layer_views)
        seen: dict[tuple[int, int], str] = {}
        for name, view in self.layer_views.items():
            if view.layer in seen:
                raise ValueError(f"views {seen[view.layer]!r} and {name!r} share {view.layer}")
            seen[view.layer] = name

    def get_from_tuple(self, layer_tuple_: tuple[int, int]) -> LayerView:
        """The view of ``(layer, datatype)``; ``KeyError`` if no view has that pair."""
        key = (int(layer_tuple_[0]), int(layer_tuple_[1]))
        for view in self.layer_views.values():
            if view.layer == key:
                return view
        raise KeyError(f"no layer view for {key}")

    def get(self, name: str) -> LayerView:
        return self.layer_views[name]

    def __getitem__(self, name: str) -> LayerView:
        return self.layer_views[name]

    def __iter__(self) -> Iterator[LayerView]:
        return iter(list(self.layer_views.values()))

    def __len__(self) -> int:
        return len(self.layer_views)

    def __contains__(self, item: object) -> bool:
        if isinstance(item, str):
            return item in self.layer_views
        return any(v.layer == item for v in self.layer_views.values())

    @classmethod
    def from_mapping(cls, data: Mapping[str, Mapping[str, Any]]) -> LayerViews:
        """Views from ``{name: {"layer": (l, d), "fill_color": "#rrggbb", ...}}``."""
        return cls({name: LayerView(name=name, **dict(spec)) for name, spec in data.items()})
