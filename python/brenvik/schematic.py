"""Schematic cells: components described by a ``.pic.yml`` netlist file.

A ``.pic.yml`` file is YAML with these sections::

    instances:          # name -> cell name, or {component: cell name, settings: {...}}
      mmi: mmi1x2
      arm: {component: straight, settings: {length: 20}}
    placements:         # optional; name -> {x, y, rotation (multiple of 90), mirror}
      mmi: {x: 0, y: 0}
    connections:        # optional; "inst,port": "inst,port" - places the unplaced side so
      mmi,o2: arm,o1    # its port meets the other one, facing it
    routes:             # optional; waveguides drawn between instance ports
      r1:
        links: {arm,o2: other,o1}
        settings: {width: 0.5, layer: WG}
    ports:              # optional; top port name -> "inst,port"
      o1: mmi,o1

Instance components are looked up by name in the active PDK's cells when the cell is built.
"""

from __future__ import annotations

import hashlib
import re
import sys
import types
from collections.abc import Callable
from pathlib import Path
from typing import Any

import klayout.db as kdb
import yaml

from brenvik.cell import cell
from brenvik.component import Component, Port, layer_tuple

#: Suffix of the name of every module holding a schematic cell function.
MODULE_SUFFIX = "_picyml"
#: Package under which schematic modules are registered in ``sys.modules``.
MODULE_PACKAGE = "brenvik.schematics"

_SECTIONS = {"name", "instances", "placements", "connections", "routes", "ports", "info"}

# Schematic files being built right now (outermost first), to stop self-reference.
_BUILDING: list[Path] = []


class SchematicError(ValueError):
    """A schematic file is malformed or cannot be assembled."""


class SchematicRecursionError(RecursionError):
    """A schematic contains itself, directly or through other schematics."""


def schematic_stem(path: Path) -> str:
    """File name without its ``.pic.yml`` / ``.pic.yaml`` / ``.yml`` / ``.yaml`` ending."""
    name = path.name
    for suffix in (".pic.yml", ".pic.yaml", ".yml", ".yaml"):
        if name.endswith(suffix):
            return name[: -len(suffix)]
    return path.stem


def _identifier(text: str) -> str:
    ident = re.sub(r"\W", "_", text)
    return ident if ident and not ident[0].isdigit() else f"_{ident}"


def _module_for(path: Path, stem: str) -> types.ModuleType:
    """The module ``brenvik.schematics.<stem>_picyml`` for ``path`` (a path-hashed name when
    another file with the same stem already owns that name)."""
    modname = f"{MODULE_PACKAGE}.{_identifier(stem)}{MODULE_SUFFIX}"
    existing = sys.modules.get(modname)
    if existing is not None and getattr(existing, "__file__", None) != str(path):
        digest = hashlib.sha1(str(path).encode()).hexdigest()[:8]
        modname = f"{MODULE_PACKAGE}.{_identifier(stem)}_{digest}{MODULE_SUFFIX}"
        existing = sys.modules.get(modname)
    if existing is not None:
        return existing
    module = types.ModuleType(modname, f"Schematic cells read from {path}")
    module.__file__ = str(path)
    sys.modules[modname] = module
    return module


def cell_from_yaml(path: str | Path, name: str | None = None) -> Callable[[], Component]:
    """A cell function building the schematic in the ``.pic.yml`` file at ``path``.

    The function is named ``name`` (default: the file's stem), lives in a module whose name
    ends with ``_picyml`` and has a ``pic_yml_path`` attribute. Its code reports the YAML file
    as its source file. The file is read each time the cell is built (results are cached like
    any cell).
    """
    path = Path(path).resolve()
    if not path.is_file():
        raise FileNotFoundError(f"no schematic file at {path}")
    stem = schematic_stem(path)
    func_name = _identifier(name or stem)
    module = _module_for(path, stem)

    def build() -> Component:
        return build_schematic(path)

    build.__code__ = build.__code__.replace(
        co_filename=str(path), co_name=func_name, co_qualname=func_name, co_firstlineno=1
    )
    build.__name__ = func_name
    build.__qualname__ = func_name
    build.__module__ = module.__name__
    build.__doc__ = f"Schematic cell read from {path.name}."
    build.pic_yml_path = path  # type: ignore[attr-defined]
    func = cell(build)
    setattr(module, func_name, func)
    return func


def load_schematic(path: Path) -> dict[str, Any]:
    """Read and check the structure of a ``.pic.yml`` file."""
    try:
        data = yaml.safe_load(path.read_text()) or {}
    except yaml.YAMLError as exc:
        raise SchematicError(f"{path}: invalid YAML: {exc}") from exc
    if not isinstance(data, dict):
        raise SchematicError(f"{path}: top level must be a mapping")
    unknown = set(data) - _SECTIONS
    if unknown:
        raise SchematicError(f"{path}: unknown sections {sorted(unknown)}")
    for section in _SECTIONS - {"name"}:
        value = data.get(section)
        if value is None:
            data[section] = {}
        elif not isinstance(value, dict):
            raise SchematicError(f"{path}: section {section!r} must be a mapping")
    for inst, spec in data["instances"].items():
        if isinstance(spec, str):
            continue
        if not isinstance(spec, dict) or "component" not in spec:
            raise SchematicError(f"{path}: instance {inst!r} needs a component")
    for inst in data["placements"]:
        if inst not in data["instances"]:
            raise SchematicError(f"{path}: placement for unknown instance {inst!r}")
    return data


def _split(ref: str, data: dict[str, Any], path: Path) -> tuple[str, str]:
    inst, sep, port = str(ref).partition(",")
    inst, port = inst.strip(), port.strip()
    if not sep or not inst or not port:
        raise SchematicError(f"{path}: {ref!r} is not 'instance,port'")
    if inst not in data["instances"]:
        raise SchematicError(f"{path}: {ref!r} names unknown instance {inst!r}")
    return inst, port


def _placement(spec: dict[str, Any]) -> tuple[float, float, float, bool]:
    unknown = set(spec) - {"x", "y", "rotation", "mirror"}
    if unknown:
        raise SchematicError(f"unknown placement keys {sorted(unknown)}")
    return (
        float(spec.get("x", 0.0)),
        float(spec.get("y", 0.0)),
        float(spec.get("rotation", 0.0)),
        bool(spec.get("mirror", False)),
    )


def _port_of(components: dict[str, Component], inst: str, port: str, path: Path) -> Port:
    try:
        return components[inst].ports[port]
    except KeyError:
        names = components[inst].ports.names()
        raise SchematicError(f"{path}: instance {inst!r} has no port {port!r} ({names})") from None


def _facing_placement(
    anchor: Port, local: Port, mirror: bool = False
) -> tuple[float, float, float, bool]:
    """Placement that puts ``local`` (a port in the unplaced component's own coordinates)
    onto ``anchor`` (a placed port), facing it."""
    local_orientation = -local.orientation if mirror else local.orientation
    rotation = (anchor.orientation + 180.0 - local_orientation) % 360.0
    if abs(rotation / 90.0 - round(rotation / 90.0)) > 1e-6:
        raise SchematicError(
            f"ports {anchor.name!r} and {local.name!r} cannot face each other by a multiple "
            "of 90 degrees"
        )
    rotation = float(round(rotation / 90.0) * 90 % 360)
    trans = kdb.DCplxTrans(1.0, rotation, mirror, 0.0, 0.0)
    moved = trans * kdb.DPoint(*local.center)
    return (anchor.x - moved.x, anchor.y - moved.y, rotation, mirror)


def _place_transform(x: float, y: float, rotation: float, mirror: bool) -> kdb.DCplxTrans:
    return kdb.DCplxTrans(1.0, rotation, mirror, x, y)


def build_schematic(path: Path) -> Component:
    """Assemble the component described by the schematic file at ``path``."""
    path = Path(path).resolve()
    if path in _BUILDING:
        chain = " -> ".join(p.name for p in [*_BUILDING, path])
        raise SchematicRecursionError(f"schematic {path.name} contains itself: {chain}")
    _BUILDING.append(path)
    try:
        return _assemble(path, load_schematic(path))
    finally:
        _BUILDING.pop()


def _assemble(path: Path, data: dict[str, Any]) -> Component:
    from brenvik.pdk import get_active_pdk

    pdk = get_active_pdk()
    components: dict[str, Component] = {}
    for inst, spec in data["instances"].items():
        if isinstance(spec, str):
            cname, settings = spec, {}
        else:
            cname, settings = spec["component"], dict(spec.get("settings") or {})
        components[inst] = pdk.get_component(cname, **settings)

    placements: dict[str, tuple[float, float, float, bool]] = {
        inst: _placement(spec or {}) for inst, spec in data["placements"].items()
    }
    links = [(_split(a, data, path), _split(b, data, path)) for a, b in data["connections"].items()]

    def world_port(inst: str, port: str) -> Port:
        local = _port_of(components, inst, port, path)
        return local.transformed(_place_transform(*placements[inst]))

    # Place instances through their connections; when nothing more follows, anchor the first
    # unplaced instance at the origin and go on.
    order = list(data["instances"])
    while True:
        progress = True
        while progress:
            progress = False
            for (ia, pa), (ib, pb) in links:
                if ia in placements and ib not in placements:
                    local = _port_of(components, ib, pb, path)
                    placements[ib] = _facing_placement(world_port(ia, pa), local)
                    progress = True
                elif ib in placements and ia not in placements:
                    local = _port_of(components, ia, pa, path)
                    placements[ia] = _facing_placement(world_port(ib, pb), local)
                    progress = True
        unplaced = [inst for inst in order if inst not in placements]
        if not unplaced:
            break
        placements[unplaced[0]] = (0.0, 0.0, 0.0, False)

    for (ia, pa), (ib, pb) in links:
        a, b = world_port(ia, pa), world_port(ib, pb)
        if a.key() != b.key():
            raise SchematicError(
                f"{path}: connection {ia},{pa} -> {ib},{pb} cannot be met: ports at "
                f"{a.center} and {b.center}"
            )

    top = Component()
    refs = {}
    for inst in order:
        x, y, rotation, mirror = placements[inst]
        refs[inst] = top.add_ref(
            components[inst], name=inst, x=x, y=y, rotation=rotation, mirror=mirror
        )

    for route_name, route in data["routes"].items():
        top.routes[str(route_name)] = _draw_route(top, refs, route, data, path)

    for port_name, ref_text in data["ports"].items():
        inst, port = _split(ref_text, data, path)
        try:
            placed = refs[inst].ports[port]
        except KeyError:
            raise SchematicError(f"{path}: instance {inst!r} has no port {port!r}") from None
        top.add_port(str(port_name), port=placed)
    if data.get("info"):
        top.info.update(data["info"])
    return top


def _draw_route(
    top: Component, refs: dict[str, Any], route: Any, data: dict[str, Any], path: Path
) -> dict[str, Any]:
    """Draw Manhattan waveguides (straight, or one corner) for every link of a route."""
    if not isinstance(route, dict) or not isinstance(route.get("links"), dict):
        raise SchematicError(f"{path}: a route needs a 'links' mapping")
    settings = dict(route.get("settings") or {})
    links: dict[str, str] = {}
    for a_text, b_text in route["links"].items():
        (ia, pa), (ib, pb) = _split(a_text, data, path), _split(b_text, data, path)
        try:
            a, b = refs[ia].ports[pa], refs[ib].ports[pb]
        except KeyError as exc:
            raise SchematicError(f"{path}: route names a missing port: {exc}") from None
        width = float(settings.get("width", a.width))
        layer = settings.get("layer", a.layer)
        layer = layer_tuple(layer)
        start, end = kdb.DPoint(a.x, a.y), kdb.DPoint(b.x, b.y)
        if a.orientation % 180 == 0:
            corner = kdb.DPoint(end.x, start.y)
        else:
            corner = kdb.DPoint(start.x, end.y)
        points = [start]
        if corner != start and corner != end:
            points.append(corner)
        points.append(end)
        if start != end:
            top.add_shape(kdb.DPath(points, width).polygon(), layer)
        links[f"{ia},{pa}"] = f"{ib},{pb}"
    return {"links": links, "settings": settings}
