"""Components: a tesselink cell plus ports, settings and named references."""

from __future__ import annotations

import collections
import contextlib
import errno
import json
import math
import os
import tempfile
import weakref
from collections.abc import Callable, Iterable, Iterator, Sequence
from dataclasses import dataclass, replace
from pathlib import Path
from typing import Any

import klayout.db as kdb
import tesselink
from tesselink.kcell import TKCell
from tesselink.layer import LayerEnum

from brenvik.hierarchy import cells_above, cells_below
from brenvik.limits import limit_from_environment
from brenvik.serialize import clean_value

#: Name of the KLayout meta info entry that carries a component's metadata in a GDS file.
META_KEY = "brenvik"
#: Cell KLayout writes its context information into; never a design cell.
CONTEXT_CELL = "$$$CONTEXT_INFO$$$"


class MetadataError(ValueError):
    """A GDS file's component metadata cannot be read back."""


#: Most instances that wrapping a hierarchy in components may meet (a GDS reader splits an
#: off-grid array into one instance per row or column, so a few bytes can ask for millions);
#: the environment variable below overrides it.
MAX_INSTANCES = 1_000_000
MAX_INSTANCES_VARIABLE = "BRENVIK_MAX_INSTANCES"


class TooManyInstancesError(ValueError):
    """A hierarchy holds more instances than `max_instances` allows."""


LayerSpec = Any  # a LayerEnum member, a (layer, datatype) pair or a kdb.LayerInfo


def layer_tuple(layer: LayerSpec) -> tuple[int, int]:
    """The ``(layer, datatype)`` pair of a layer given as enum member, pair or LayerInfo."""
    if isinstance(layer, LayerEnum):
        return (layer.layer, layer.datatype)
    if isinstance(layer, kdb.LayerInfo):
        return (layer.layer, layer.datatype)
    if isinstance(layer, str):
        from brenvik.pdk import get_active_pdk

        try:
            member = get_active_pdk().layers[layer]
        except KeyError:
            raise KeyError(f"unknown layer name {layer!r} in the active PDK") from None
        return (member.layer, member.datatype)
    if isinstance(layer, Sequence) and len(layer) == 2:
        return (int(layer[0]), int(layer[1]))
    raise TypeError(f"cannot interpret {layer!r} as a layer")


def layer_index(layout: kdb.Layout, layer: LayerSpec) -> int:
    """Index of ``layer`` in ``layout`` (created when missing)."""
    if isinstance(layer, LayerEnum):
        return layout.layer(layer.layer_info())
    return layout.layer(*layer_tuple(layer))


def _snap(value: float) -> float:
    """Round a coordinate to the 1 nm grid, without float noise."""
    return round(round(float(value) / tesselink.DBU_UM) * tesselink.DBU_UM, 6)


@dataclass(frozen=True)
class Port:
    """A port: where and how something connects to a component.

    ``center`` is in µm, ``orientation`` in degrees (direction pointing out of the component),
    ``width`` in µm and ``layer`` a LayerEnum member or (layer, datatype) pair.
    """

    name: str
    center: tuple[float, float]
    orientation: float
    width: float
    layer: LayerSpec
    port_type: str = "optical"

    def __post_init__(self) -> None:
        if not isinstance(self.name, str) or not self.name:
            raise ValueError(f"port name must be a non-empty text, got {self.name!r}")
        x, y = self.center
        object.__setattr__(self, "center", (_snap(x), _snap(y)))
        orientation = float(self.orientation) % 360.0
        if math.isclose(orientation, 360.0):
            orientation = 0.0
        object.__setattr__(self, "orientation", round(orientation, 9))
        if self.width <= 0:
            raise ValueError(f"port {self.name!r}: width must be positive, got {self.width}")
        object.__setattr__(self, "width", float(self.width))

    @property
    def x(self) -> float:
        return self.center[0]

    @property
    def y(self) -> float:
        return self.center[1]

    @property
    def layer_tuple(self) -> tuple[int, int]:
        return layer_tuple(self.layer)

    def key(self) -> tuple[int, int]:
        """Position on the integer nm grid, used to decide whether ports coincide."""
        return (round(self.x / tesselink.DBU_UM), round(self.y / tesselink.DBU_UM))

    def transformed(self, trans: kdb.DCplxTrans, name: str | None = None) -> Port:
        """This port moved by ``trans`` (mirror at x first, then rotation, then shift)."""
        point = trans * kdb.DPoint(*self.center)
        orientation = -self.orientation if trans.is_mirror() else self.orientation
        return replace(
            self,
            name=name or self.name,
            center=(point.x, point.y),
            orientation=orientation + trans.angle,
            width=self.width * trans.mag,
        )

    def to_dict(self) -> dict[str, Any]:
        layer = self.layer_tuple
        return {
            "name": self.name,
            "center": [self.x, self.y],
            "orientation": self.orientation,
            "width": self.width,
            "layer": [layer[0], layer[1]],
            "layer_name": self.layer.name if isinstance(self.layer, LayerEnum) else None,
            "port_type": self.port_type,
        }

    @classmethod
    def from_dict(cls, data: dict[str, Any]) -> Port:
        return cls(
            name=data["name"],
            center=(data["center"][0], data["center"][1]),
            orientation=data["orientation"],
            width=data["width"],
            layer=(int(data["layer"][0]), int(data["layer"][1])),
            port_type=data.get("port_type", "optical"),
        )


class Ports:
    """Ordered collection of ports with unique names.

    Iterating yields :class:`Port` objects in insertion order; ``ports["o1"]`` looks a port up
    by name and ``ports[0]`` by position.
    """

    def __init__(self, ports: Iterable[Port] = ()) -> None:
        self._ports: dict[str, Port] = {}
        for port in ports:
            self.add(port)

    def add(self, port: Port) -> Port:
        if port.name in self._ports:
            raise ValueError(f"a port named {port.name!r} already exists")
        self._ports[port.name] = port
        return port

    def names(self) -> list[str]:
        return list(self._ports)

    def keys(self) -> list[str]:
        return list(self._ports)

    def get(self, name: str, default: Port | None = None) -> Port | None:
        return self._ports.get(name, default)

    def __getitem__(self, key: str | int) -> Port:
        if isinstance(key, int):
            return list(self._ports.values())[key]
        try:
            return self._ports[key]
        except KeyError:
            raise KeyError(f"no port {key!r}; ports are {list(self._ports)}") from None

    def __contains__(self, name: object) -> bool:
        return name in self._ports

    def __iter__(self) -> Iterator[Port]:
        return iter(list(self._ports.values()))

    def __len__(self) -> int:
        return len(self._ports)

    def __repr__(self) -> str:
        return f"Ports({list(self._ports)})"


def _registry(layout: kdb.Layout) -> weakref.WeakValueDictionary[int, Any]:
    """The components of a layout's cells, by cell index, held weakly (see KCLayout)."""
    registry = getattr(layout, "registry", None)
    if registry is None:
        registry = weakref.WeakValueDictionary()
        layout.registry = registry
    return registry


def _make_trans(x: float, y: float, rotation: float, mirror: bool) -> kdb.DTrans:
    quarters = float(rotation) / 90.0
    if not math.isclose(quarters, round(quarters), abs_tol=1e-9):
        raise ValueError(f"rotation must be a multiple of 90 degrees, got {rotation}")
    code = round(quarters) % 4
    return kdb.DTrans(code, bool(mirror), float(x), float(y))


class ComponentReference:
    """A named instance (or regular array of instances) of a component inside another."""

    def __init__(
        self, parent: Component, instance: kdb.Instance, component: Component, name: str
    ) -> None:
        # The parent holds its references: a weak link back keeps the two out of a reference
        # cycle, so a component nobody holds is freed at once, with its layout.
        self._parent = weakref.ref(parent)
        self.instance = instance
        self.component = component
        self.name = name

    @property
    def parent(self) -> Component:
        parent = self._parent()
        if parent is None:
            raise ReferenceError("the component that held this reference is gone")
        return parent

    @property
    def trans(self) -> kdb.DCplxTrans:
        return self.instance.dcplx_trans

    @property
    def x(self) -> float:
        return _snap(self.trans.disp.x)

    @property
    def y(self) -> float:
        return _snap(self.trans.disp.y)

    @property
    def rotation(self) -> float:
        return self.trans.angle % 360.0

    @property
    def mirror(self) -> bool:
        return self.trans.is_mirror()

    @property
    def is_array(self) -> bool:
        return self.instance.is_regular_array()

    @property
    def columns(self) -> int:
        return self.instance.na if self.is_array else 1

    @property
    def rows(self) -> int:
        return self.instance.nb if self.is_array else 1

    @property
    def spacing(self) -> tuple[float, float]:
        """Column and row pitch of an array (x of the column vector, y of the row vector)."""
        if not self.is_array:
            return (0.0, 0.0)
        dcia = self.instance.dcell_inst
        return (_snap(dcia.a.x), _snap(dcia.b.y))

    def element_transformations(self) -> list[tuple[int, int, kdb.DCplxTrans]]:
        """(column, row, transformation) of every element; one entry for a plain instance."""
        trans = self.trans
        if not self.is_array:
            return [(0, 0, trans)]
        dcia = self.instance.dcell_inst
        out = []
        for j in range(dcia.nb):
            for i in range(dcia.na):
                shift = kdb.DCplxTrans(dcia.a * i + dcia.b * j)
                out.append((i, j, shift * trans))
        return out

    @property
    def ports(self) -> Ports:
        """The component's ports placed by this reference.

        For an array every element contributes its ports, named ``<port>_<column>_<row>``.
        """
        elements = self.element_transformations()
        ports = Ports()
        for i, j, trans in elements:
            for port in self.component.ports:
                name = port.name if len(elements) == 1 else f"{port.name}_{i}_{j}"
                ports.add(port.transformed(trans, name=name))
        return ports

    def placement(self) -> dict[str, Any]:
        return {"x": self.x, "y": self.y, "rotation": self.rotation, "mirror": self.mirror}

    def __repr__(self) -> str:
        return (
            f"ComponentReference({self.name!r} -> {self.component.name!r}, "
            f"x={self.x}, y={self.y}, rotation={self.rotation}, mirror={self.mirror})"
        )


class Component:
    """A layout cell with ports, the settings it was made with and named references.

    ``base`` is the underlying :class:`tesselink.kcell.TKCell`; new components are created in
    the library layout ``tesselink.kcl`` unless ``layout`` is given.
    """

    def __init__(
        self,
        name: str | None = None,
        *,
        layout: kdb.Layout | None = None,
        base: TKCell | None = None,
    ) -> None:
        if base is None:
            layout = layout if layout is not None else tesselink.get_kcl()
            base = TKCell.create(layout, name or "Unnamed")
        elif name is not None:
            base.name = name
        self.base: TKCell = base
        self.settings: dict[str, Any] = {}
        self.info: dict[str, Any] = {}
        self.function_name: str | None = None
        self.ports = Ports()
        self.references: list[ComponentReference] = []
        # Whether `references` names the cell's instances one by one in each_inst order (true
        # for a wrapped or copied cell until a reference is added).
        self._references_follow_instances = False
        self.routes: dict[str, Any] = {}
        _registry(base.layout)[base.cell_index] = self

    # ------------------------------------------------------------------ identity
    @classmethod
    def from_cell(cls, kdb_cell: kdb.Cell) -> Component:
        """The component owning ``kdb_cell``; wraps it (restoring GDS metadata) if none does,
        and likewise every cell below it.

        The cells are wrapped bottom-up in one loop, so a hierarchy of any depth is fine."""
        layout = kdb_cell.layout()
        registry = _registry(layout)
        existing = registry.get(kdb_cell.cell_index())
        if existing is not None:
            return existing
        below = {kdb_cell.cell_index(), *cells_below(kdb_cell)}
        _refuse_too_many_instances(kdb_cell, below)
        wrapped = []  # held until the top holds them through its references
        for index in layout.each_cell_bottom_up():
            if index in below and index not in registry:
                wrapped.append(cls._wrap(layout.cell(index), registry))
        return registry[kdb_cell.cell_index()]

    @classmethod
    def _wrap(cls, kdb_cell: kdb.Cell, registry: dict[int, Component]) -> Component:
        """A new component for ``kdb_cell``, whose child cells are wrapped already."""
        comp = cls(base=TKCell(kdb_cell))
        meta = _read_meta(kdb_cell)
        try:
            if meta:
                comp.settings = dict(meta.get("settings") or {})
                comp.info = dict(meta.get("info") or {})
                comp.function_name = meta.get("function")
                for pdata in meta.get("ports") or []:
                    comp.ports.add(Port.from_dict(pdata))
                comp.routes = dict(meta.get("routes") or {})
            names = _instance_names_from_meta(kdb_cell, meta)
        except (AttributeError, IndexError, KeyError, TypeError, ValueError) as error:
            raise MetadataError(
                f"cell {kdb_cell.name!r} carries malformed {META_KEY} metadata "
                f"({type(error).__name__}: {error}): write the file again from its source"
            ) from error
        for inst, inst_name in zip(kdb_cell.each_inst(), names, strict=True):
            child = registry[inst.cell_index]
            comp.references.append(ComponentReference(comp, inst, child, inst_name))
        comp._references_follow_instances = True
        return comp

    @property
    def name(self) -> str:
        return self.base.name

    @name.setter
    def name(self, value: str) -> None:
        self.base.name = unique_cell_name(self.layout, value, exclude=self.cell_index)

    @property
    def kdb_cell(self) -> kdb.Cell:
        return self.base.kdb_cell

    @property
    def layout(self) -> kdb.Layout:
        return self.base.layout

    @property
    def cell_index(self) -> int:
        return self.base.cell_index

    @property
    def dbu(self) -> float:
        return self.layout.dbu

    def bbox(self) -> kdb.DBox:
        return self.kdb_cell.dbbox()

    def hierarchy_cell_indices(self) -> list[int]:
        """This cell followed by every cell below it."""
        return [self.cell_index, *sorted(cells_below(self.kdb_cell))]

    # ------------------------------------------------------------------ geometry
    def add_polygon(self, points: Iterable[Sequence[float]], layer: LayerSpec) -> kdb.Shape:
        """Add a polygon given by its vertices in µm on ``layer``."""
        pts = [kdb.DPoint(float(p[0]), float(p[1])) for p in points]
        if len(pts) < 3:
            raise ValueError("a polygon needs at least three points")
        return self.kdb_cell.shapes(layer_index(self.layout, layer)).insert(kdb.DPolygon(pts))

    def add_shape(self, shape: Any, layer: LayerSpec) -> kdb.Shape:
        """Add a KLayout shape in µm (DPolygon, DBox, DPath, DText, ...) on ``layer``."""
        return self.kdb_cell.shapes(layer_index(self.layout, layer)).insert(shape)

    def add_label(
        self, text: str, position: Sequence[float] = (0.0, 0.0), layer: LayerSpec = (66, 0)
    ) -> kdb.Shape:
        """Add a text label at ``position`` (µm)."""
        dtext = kdb.DText(str(text), kdb.DTrans(float(position[0]), float(position[1])))
        return self.kdb_cell.shapes(layer_index(self.layout, layer)).insert(dtext)

    # ------------------------------------------------------------------ hierarchy
    def _child_in_layout(self, component: Component) -> Component:
        """``component`` itself if it lives in this layout, else its copy in this layout.

        Copies are remembered per target layout so placing the same foreign component many
        times copies its cells once.
        """
        if component.layout is self.layout:
            return component
        imports = getattr(self.layout, "foreign_copies", None)
        if imports is None:
            imports = {}
            self.layout.foreign_copies = imports
        key = (id(component.layout), component.cell_index)
        hit = imports.get(key)
        if hit is not None and hit[0] is component:
            return hit[1]
        copied = component.copy_into(self.layout)
        imports[key] = (component, copied)
        return copied

    def _check_no_cycle(self, component: Component) -> None:
        if component.layout is not self.layout:
            return
        if component.cell_index == self.cell_index or component.cell_index in cells_above(
            self.kdb_cell
        ):
            raise ValueError(f"placing {component.name!r} in {self.name!r} makes a cycle")

    def _ref_name(self, component: Component, name: str | None) -> str:
        taken = {r.name for r in self.references}
        if name is not None:
            if name in taken:
                raise ValueError(f"{self.name}: a reference named {name!r} already exists")
            return name
        n = len(self.references)
        while f"{component.name}_{n}" in taken:
            n += 1
        return f"{component.name}_{n}"

    def add_ref(
        self,
        component: Component,
        name: str | None = None,
        x: float = 0.0,
        y: float = 0.0,
        rotation: float = 0,
        mirror: bool = False,
    ) -> ComponentReference:
        """Place ``component`` in this one: mirrored at the x axis (if ``mirror``), rotated by
        ``rotation`` degrees (a multiple of 90), then moved to (``x``, ``y``) µm."""
        self._check_no_cycle(component)
        child = self._child_in_layout(component)
        ref_name = self._ref_name(child, name)
        trans = _make_trans(x, y, rotation, mirror)
        inst = self.kdb_cell.insert(kdb.DCellInstArray(child.cell_index, trans))
        ref = ComponentReference(self, inst, child, ref_name)
        self.references.append(ref)
        self._references_follow_instances = False
        return ref

    def add_array(
        self,
        component: Component,
        columns: int,
        rows: int,
        spacing: Sequence[float] = (10.0, 10.0),
        name: str | None = None,
        x: float = 0.0,
        y: float = 0.0,
        rotation: float = 0,
        mirror: bool = False,
    ) -> ComponentReference:
        """Place a ``columns`` x ``rows`` regular array (one KLayout CellInstArray) of
        ``component``, with column pitch ``spacing[0]`` along x and row pitch ``spacing[1]``
        along y, the first element transformed as in :meth:`add_ref`."""
        columns, rows = int(columns), int(rows)
        if columns < 1 or rows < 1:
            raise ValueError(f"array needs at least one column and row, got {columns}x{rows}")
        self._check_no_cycle(component)
        child = self._child_in_layout(component)
        ref_name = self._ref_name(child, name)
        trans = _make_trans(x, y, rotation, mirror)
        dx, dy = float(spacing[0]), float(spacing[1])
        cia = kdb.DCellInstArray(
            child.cell_index, trans, kdb.DVector(dx, 0), kdb.DVector(0, dy), columns, rows
        )
        inst = self.kdb_cell.insert(cia)
        ref = ComponentReference(self, inst, child, ref_name)
        self.references.append(ref)
        self._references_follow_instances = False
        return ref

    # ------------------------------------------------------------------ ports
    def add_port(
        self,
        name: str | None = None,
        center: Sequence[float] | None = None,
        orientation: float = 0.0,
        width: float = 0.5,
        layer: LayerSpec = (1, 0),
        port_type: str = "optical",
        port: Port | None = None,
    ) -> Port:
        """Add a port, either from the fields or by copying ``port`` (renamed to ``name``)."""
        if port is not None:
            new = replace(port, name=name or port.name)
        else:
            if name is None or center is None:
                raise ValueError("add_port needs a name and a center (or a port to copy)")
            new = Port(
                name=name,
                center=(float(center[0]), float(center[1])),
                orientation=orientation,
                width=width,
                layer=layer,
                port_type=port_type,
            )
        return self.ports.add(new)

    # ------------------------------------------------------------------ copies
    def copy(self, name: str | None = None) -> Component:
        """A deep copy: new cells for this cell and every cell below, same instances and
        arrays, same ports, settings and reference names. The original is untouched."""
        return self.copy_into(self.layout, name=name)

    def copy_into(self, layout: kdb.Layout, name: str | None = None) -> Component:
        """Deep copy of the hierarchy into ``layout`` (coordinates kept in µm)."""
        if _copies_whole(self, layout):
            copied = _copy_whole_layout(self, layout)
        else:
            copied = _copy_component(self, layout, {})
        if name is not None:
            copied.name = name
        return copied

    # ------------------------------------------------------------------ files
    def metadata(self) -> dict[str, Any]:
        """Settings, ports and reference names of this component as plain data."""
        instances = []
        for ref in self.references:
            if not ref.instance.is_valid():
                continue
            instances.append({"name": ref.name, **_instance_signature(ref.instance)})
        return {
            "name": self.name,
            "function": self.function_name,
            "settings": clean_value(self.settings),
            "info": clean_value(self.info),
            "ports": [p.to_dict() for p in self.ports],
            "instances": instances,
            "routes": clean_value(self.routes),
        }

    def write_gds(self, path: str | Path, with_metadata: bool = True) -> Path:
        """Write this cell and its whole hierarchy (only those cells) as GDS at ``path``.

        With ``with_metadata`` every written cell that belongs to a component carries that
        component's metadata (settings, ports, reference names) as persisted KLayout meta info
        in the file's context; without it the file holds geometry only. Timestamps are not
        written, so equal content gives equal bytes. Parent directories are not created.

        The file appears complete or not at all: it is written under a temporary name beside
        ``path`` and renamed into place once flushed; a failed write (a full disk, a directory in
        the way) raises ``OSError`` and leaves no partial file. KLayout's own file writer can
        drop the error of its last buffer, so the file is checked to end with its end-of-library
        record before it takes the name.
        """
        path = Path(path)
        if not path.parent.is_dir():
            raise FileNotFoundError(f"directory {path.parent} does not exist")
        layout = self.layout
        registry = _registry(layout)
        cells = self.hierarchy_cell_indices()
        for index in cells:
            cell = layout.cell(index)
            cell.remove_meta_info(META_KEY)
            owner = registry.get(index)
            if with_metadata and owner is not None:
                payload = json.dumps(owner.metadata(), separators=(",", ":"))
                cell.add_meta_info(
                    kdb.LayoutMetaInfo(META_KEY, payload, "component metadata (JSON)", True)
                )
        options = kdb.SaveLayoutOptions()
        options.format = "GDS2"
        # Cell by cell: KLayout's own selection of a cell with its hierarchy recurses once per
        # level and overflows the native stack on very deep hierarchies.
        options.clear_cells()
        for index in cells:
            options.add_this_cell(index)
        options.write_context_info = bool(with_metadata)
        options.gds2_write_timestamps = False
        _write_whole_file(path, lambda temporary: layout.write(temporary, options))
        return path

    # ------------------------------------------------------------------ netlist
    def get_netlist(
        self,
        recursive: bool = False,
        on_multi_connect: str = "warn",
        on_dangling_port: str = "warn",
    ) -> dict[str, Any]:
        """Netlist of this component; see :func:`brenvik.netlist.get_netlist`."""
        from brenvik.netlist import get_netlist

        return get_netlist(
            self,
            recursive=recursive,
            on_multi_connect=on_multi_connect,
            on_dangling_port=on_dangling_port,
        )

    def __repr__(self) -> str:
        return f"Component({self.name!r}, ports={self.ports.names()})"


def max_instances() -> int:
    """The most instances (arrays count once) that wrapping a hierarchy may meet: each becomes
    a Python reference object. `MAX_INSTANCES`, or the whole number in the environment variable
    named by `MAX_INSTANCES_VARIABLE`."""
    return limit_from_environment(MAX_INSTANCES_VARIABLE, MAX_INSTANCES)


def _refuse_too_many_instances(top: kdb.Cell, cells: set[int]) -> None:
    layout = top.layout()
    total = sum(layout.cell(index).child_instances() for index in cells)
    limit = max_instances()
    if total > limit:
        raise TooManyInstancesError(
            f"cell {top.name!r} and the cells below it hold {total:,} instances, more than the "
            f"limit of {limit:,} (set {MAX_INSTANCES_VARIABLE} to raise it)"
        )


# A GDS stream ends with its end-of-library record (length 4, type ENDLIB, no data: 00 04 04 00),
# after which only zero bytes may follow: with the zeros at the end taken off, a complete file
# ends with 00 04 04.
_ENDLIB_WITHOUT_ZEROS = b"\x00\x04\x04"


def _write_whole_file(path: Path, write: Callable[[str], None]) -> None:
    """Let ``write`` write the GDS file at a temporary path beside ``path``, check that it is
    complete, flush it to disk and rename it over ``path``. On failure the temporary file is
    removed, ``path`` is left as it was and ``OSError`` names what went wrong."""
    target = Path(os.path.realpath(path))
    if target.is_dir():
        raise IsADirectoryError(errno.EISDIR, "Is a directory", str(path))
    if target.exists() and not target.is_file():
        raise OSError(f"{path} is not a regular file, so it cannot be replaced by a GDS file")
    descriptor, temporary = tempfile.mkstemp(
        prefix=f".{target.name[:100]}.", suffix=".tmp", dir=target.parent
    )
    os.close(descriptor)
    try:
        try:
            write(temporary)
        except RuntimeError as error:  # KLayout's writer reports a failed write so
            raise OSError(errno.EIO, f"cannot write the GDS file: {error}", str(path)) from None
        with open(temporary, "rb+") as file:
            size = file.seek(0, os.SEEK_END)
            file.seek(max(0, size - 65536))
            if not file.read().rstrip(b"\0").endswith(_ENDLIB_WITHOUT_ZEROS):
                raise OSError(
                    errno.EIO,
                    f"the GDS file was cut short at {size:,} bytes (is the disk full?)",
                    str(path),
                )
            file.flush()
            os.fsync(file.fileno())
            mask = os.umask(0o022)
            os.umask(mask)
            os.fchmod(file.fileno(), 0o666 & ~mask)
        os.replace(temporary, target)
    except BaseException:
        with contextlib.suppress(OSError):
            os.unlink(temporary)
        raise


def unique_cell_name(layout: kdb.Layout, name: str, exclude: int | None = None) -> str:
    """``name`` if no other cell of ``layout`` has it, else ``name$1``, ``name$2``, ..."""
    candidate, n = name, 0
    while True:
        existing = layout.cell(candidate)
        if existing is None or existing.cell_index() == exclude:
            return candidate
        n += 1
        candidate = f"{name}${n}"


def _instance_signature(inst: kdb.Instance) -> dict[str, Any]:
    """What identifies an instance independently of how a file stores it: child cell,
    rotation/mirror, element count and the box spanned by the element origins (GDS readers may
    swap or negate the array vectors and move the array origin, but not these)."""
    dcia = inst.dcell_inst
    trans = dcia.trans
    na, nb = (dcia.na, dcia.nb) if dcia.is_regular_array() else (1, 1)
    origins = kdb.DBox()
    for i in (0, na - 1):
        for j in (0, nb - 1):
            vector = trans.disp
            if dcia.is_regular_array():
                vector = vector + dcia.a * i + dcia.b * j
            origins += kdb.DPoint(vector.x, vector.y)
    return {
        "cell": inst.cell.name,
        "rot": trans.rot,
        "mirror": trans.is_mirror(),
        "n": na * nb,
        "origins": [_snap(v) for v in (origins.left, origins.bottom, origins.right, origins.top)],
    }


_SIGNATURE_FIELDS = ("cell", "rot", "mirror", "n", "origins")


def _signature_key(signature: dict[str, Any]) -> tuple:
    origins = signature["origins"]
    return (*(signature[f] for f in _SIGNATURE_FIELDS[:-1]), tuple(origins or ()))


def _read_meta(cell: kdb.Cell) -> dict[str, Any] | None:
    value = cell.meta_info_value(META_KEY)
    if not value:
        return None
    try:
        data = json.loads(value)
    except (TypeError, ValueError):
        return None
    return data if isinstance(data, dict) else None


def _instance_names_from_meta(cell: kdb.Cell, meta: dict[str, Any] | None) -> list[str]:
    """Names for the cell's instances, in ``each_inst`` order: the recorded names when the
    file carried metadata (matched by child cell and placement), generated ones otherwise."""
    recorded: list[dict[str, Any]] = list((meta or {}).get("instances") or [])
    # Recorded names by signature, in recorded order: one look-up per instance.
    by_signature: dict[tuple, collections.deque[str]] = {}
    for r in recorded:
        key = _signature_key({field: r.get(field) for field in _SIGNATURE_FIELDS})
        by_signature.setdefault(key, collections.deque()).append(r["name"])
    used: set[str] = set()
    names: list[str] = []
    pending: list[int] = []
    instances = list(cell.each_inst())
    for k, inst in enumerate(instances):
        candidates = (
            by_signature.get(_signature_key(_instance_signature(inst)), ()) if by_signature else ()
        )
        while candidates and candidates[0] in used:
            candidates.popleft()
        if candidates:
            name = candidates.popleft()
            used.add(name)
            names.append(name)
        else:
            names.append("")
            pending.append(k)
    counter = 0
    for k in pending:
        base = instances[k].cell.name
        while f"{base}_{counter}" in used:
            counter += 1
        names[k] = f"{base}_{counter}"
        used.add(names[k])
        counter += 1
    return names


def _copies_whole(source: Component, layout: kdb.Layout) -> bool:
    """Whether copying `source` into `layout` is copying one whole layout into an empty one of
    the same database unit: `source`'s hierarchy is every cell of its layout (but for the
    metadata context cell), as after reading a GDS file."""
    if layout.cells() != 0 or not math.isclose(source.layout.dbu, layout.dbu):
        return False
    cells = source.layout.cells()
    if source.layout.cell(CONTEXT_CELL) is not None:
        cells -= 1
    return len(source.hierarchy_cell_indices()) == cells


def _copy_whole_layout(source: Component, layout: kdb.Layout) -> Component:
    """The copy of `_copies_whole`: KLayout copies the layout in one step (same cell indices,
    names, instances in the same order), and every cell of the hierarchy gets its component with
    the source's settings, ports and reference names."""
    layout.assign(source.layout)
    below = set(source.hierarchy_cell_indices())
    registry = _registry(layout)
    originals = _registry(source.layout)
    made = []  # held until the top holds them through its references
    for index in source.layout.each_cell_bottom_up():
        if index not in below:
            continue
        original = originals.get(index) or Component.from_cell(source.layout.cell(index))
        target = Component(base=TKCell(layout.cell(index)))
        made.append(target)
        _copy_description(original, target)
        if original._references_follow_instances:
            names = [ref.name for ref in original.references]
        else:
            names = [
                None if ref is None else ref.name for _, ref in _instances_with_references(original)
            ]
        for name, inst in zip(names, target.kdb_cell.each_inst(), strict=True):
            child = registry[inst.cell_index]
            name = name if name is not None else target._ref_name(child, None)
            target.references.append(ComponentReference(target, inst, child, name))
        target._references_follow_instances = True
    return registry[source.cell_index]


def _copy_component(source: Component, layout: kdb.Layout, memo: dict[int, Component]) -> Component:
    """Copy ``source``'s cell and the cells below it into ``layout``; shares copies of cells
    reached more than once (``memo`` maps source cell index to the copy).

    Cells are created in depth-first order from an explicit stack (no recursion, so any depth
    is fine), then each copy receives its instances once every cell exists."""
    order: list[tuple[Component, list[tuple[kdb.Instance, ComponentReference | None]]]] = []
    stack = [source]
    while stack:
        current = stack.pop()
        if current.cell_index in memo:
            continue
        memo[current.cell_index] = _copy_cell(current, layout)
        children = _instances_with_references(current)
        order.append((current, children))
        for inst, ref in reversed(children):
            stack.append(ref.component if ref is not None else Component.from_cell(inst.cell))
    for current, children in order:
        target = memo[current.cell_index]
        for inst, ref in children:
            child = ref.component if ref is not None else Component.from_cell(inst.cell)
            child_copy = memo[child.cell_index]
            dcia = inst.dcell_inst
            dcia.cell_index = child_copy.cell_index
            new_inst = target.kdb_cell.insert(dcia)
            name = ref.name if ref is not None else target._ref_name(child_copy, None)
            target.references.append(ComponentReference(target, new_inst, child_copy, name))
    return memo[source.cell_index]


def _copy_description(source: Component, target: Component) -> None:
    """`source`'s settings, info, function name, routes and ports, copied onto `target`."""
    target.settings = dict(source.settings)
    target.info = dict(source.info)
    target.function_name = source.function_name
    target.routes = dict(source.routes)
    for port in source.ports:
        target.ports.add(port)


def _copy_cell(source: Component, layout: kdb.Layout) -> Component:
    """A new component in ``layout`` with ``source``'s name, shapes, ports and settings, and no
    instances yet."""
    src_layout = source.layout
    src_cell = source.kdb_cell
    target = Component(base=TKCell.create(layout, src_cell.name))
    _copy_description(source, target)
    scale = src_layout.dbu / layout.dbu
    for li in src_layout.layer_indexes():
        shapes = src_cell.shapes(li)
        if shapes.is_empty():
            continue
        dst_li = layout.layer(src_layout.get_info(li))
        if math.isclose(scale, 1.0):
            target.kdb_cell.shapes(dst_li).insert(shapes)
        else:
            target.kdb_cell.shapes(dst_li).insert(shapes, kdb.ICplxTrans(scale))
    return target


def _instances_with_references(component: Component) -> list[tuple[Any, Any]]:
    """Each instance of the component's cell, in ``each_inst`` order, with the reference that
    names it (None for an instance placed directly through KLayout).

    KLayout instances compare equal but do not hash alike, so candidates are narrowed by child
    cell and placement text first: linear in the number of instances, not quadratic."""
    candidates: dict[tuple[int, str], list[ComponentReference]] = {}
    for ref in component.references:
        if ref.instance.is_valid():
            key = (ref.instance.cell_index, str(ref.instance.cell_inst))
            candidates.setdefault(key, []).append(ref)
    out = []
    for inst in component.kdb_cell.each_inst():
        refs = candidates.get((inst.cell_index, str(inst.cell_inst)), [])
        ref = next((r for r in refs if r.instance == inst), None)
        out.append((inst, ref))
    return out


def import_gds(path: str | Path) -> Component:
    """A component made from a GDS file's top cell (the first one if there are several).

    The file is read into a fresh layout with its own database unit, keeping the whole
    hierarchy; metadata written by :meth:`Component.write_gds` (settings, ports, reference
    names) is restored.
    """
    path = Path(path)
    if not path.is_file():
        raise FileNotFoundError(f"no GDS file at {path}")
    layout = tesselink.KCLayout(name=path.stem)
    layout.read(str(path))
    tops = [c for c in layout.top_cells() if c.name != CONTEXT_CELL]
    if not tops:
        raise ValueError(f"{path} holds no cells: an empty layout has nothing to show or use")
    return Component.from_cell(tops[0])
