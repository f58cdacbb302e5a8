"""Netlists: which instance ports of a component touch which, read from the placed geometry."""

from __future__ import annotations

from collections import defaultdict
from typing import TYPE_CHECKING, Any

import tesselink

from brenvik.serialize import clean_value

if TYPE_CHECKING:
    from brenvik.component import Component, Port

#: What to do about a kind of problem: record a warning, say nothing, or raise ValueError.
ACTIONS = ("warn", "ignore", "error")


def _check_action(option: str, value: str) -> None:
    if value not in ACTIONS:
        raise ValueError(f"{option} must be one of {ACTIONS}, got {value!r}")


def _position_text(key: tuple[int, int]) -> str:
    x, y = (round(v * tesselink.DBU_UM, 6) for v in key)
    return f"{x:g},{y:g}"


def get_netlist(
    component: Component,
    recursive: bool = False,
    on_multi_connect: str = "warn",
    on_dangling_port: str = "warn",
) -> dict[str, Any]:
    """Netlist of ``component``.

    Sections: ``name``; ``instances`` (instance name -> component cell name and its settings);
    ``connections`` (``"inst1,port": "inst2,port"`` for two ports of two instances at the same
    position, with the same port type); ``ports`` (top port -> the instance port it lies on);
    ``placements`` (x, y, rotation, mirror of each instance); ``routes``; ``nets`` (one entry
    per connection); and, only when there are any, ``warnings`` nested by port type:
    ``{"optical": {"unconnected_ports": {"inst,port": [x, y]},
    "multiple_connections": {"x,y": ["a,o1", "b,o1", "c,o1"]}}}``.

    ``on_multi_connect`` / ``on_dangling_port`` take ``"warn"`` (record the warning),
    ``"ignore"`` (drop it) or ``"error"`` (raise ``ValueError``). Three or more ports at one
    position are a multi-connection and form no connection.

    With ``recursive`` the result maps the name of the component and of every distinct cell
    below it to that cell's netlist.
    """
    _check_action("on_multi_connect", on_multi_connect)
    _check_action("on_dangling_port", on_dangling_port)
    if not recursive:
        return _netlist(component, on_multi_connect, on_dangling_port)
    from brenvik.component import Component

    result: dict[str, Any] = {}
    for index in component.hierarchy_cell_indices():
        sub = Component.from_cell(component.layout.cell(index))
        result[sub.name] = _netlist(sub, on_multi_connect, on_dangling_port)
    return result


def _netlist(component: Component, on_multi_connect: str, on_dangling_port: str) -> dict:
    refs = [r for r in component.references if r.instance.is_valid()]
    instances: dict[str, Any] = {}
    placements: dict[str, Any] = {}
    groups: dict[tuple[str, tuple[int, int]], list[tuple[str, Port]]] = defaultdict(list)
    for ref in refs:
        entry: dict[str, Any] = {
            "component": ref.component.name,
            "settings": clean_value(ref.component.settings),
        }
        if ref.is_array:
            entry["array"] = {
                "columns": ref.columns,
                "rows": ref.rows,
                "spacing": list(ref.spacing),
            }
        instances[ref.name] = entry
        placements[ref.name] = ref.placement()
        for port in ref.ports:
            groups[(port.port_type, port.key())].append((ref.name, port))

    connections: dict[str, str] = {}
    connected: set[str] = set()
    multi: dict[str, dict[str, list[str]]] = defaultdict(dict)
    for (port_type, key), members in groups.items():
        names = [f"{inst},{port.name}" for inst, port in members]
        if len(members) == 2 and members[0][0] != members[1][0]:
            first, second = sorted(names)
            connections[first] = second
            connected.update(names)
        elif len(members) >= 3:
            multi[port_type][_position_text(key)] = names
            connected.update(names)

    # Ports joined by a drawn route are connected even though they do not coincide.
    for route in component.routes.values():
        if isinstance(route, dict):
            for a, b in (route.get("links") or {}).items():
                connected.update((a, b))

    top_ports: dict[str, str] = {}
    for port in component.ports:
        members = groups.get((port.port_type, port.key()))
        if members:
            inst, inst_port = members[0]
            top_ports[port.name] = f"{inst},{inst_port.name}"
    exposed = set(top_ports.values())

    dangling: dict[str, dict[str, list[float]]] = defaultdict(dict)
    for members in groups.values():
        for inst, port in members:
            ref_text = f"{inst},{port.name}"
            if ref_text not in connected and ref_text not in exposed:
                dangling[port.port_type][ref_text] = [port.x, port.y]

    if on_multi_connect == "error" and multi:
        found = {k: v for by_type in multi.values() for k, v in by_type.items()}
        raise ValueError(f"{component.name}: several ports meet at one point: {found}")
    if on_dangling_port == "error" and dangling:
        found = [k for by_type in dangling.values() for k in by_type]
        raise ValueError(f"{component.name}: unconnected instance ports: {found}")
    warnings: dict[str, dict[str, Any]] = {}
    if on_multi_connect == "warn":
        for port_type, found in multi.items():
            warnings.setdefault(port_type, {})["multiple_connections"] = found
    if on_dangling_port == "warn":
        for port_type, found in dangling.items():
            warnings.setdefault(port_type, {})["unconnected_ports"] = found

    netlist: dict[str, Any] = {
        "name": component.name,
        "instances": instances,
        "connections": connections,
        "ports": top_ports,
        "placements": placements,
        "routes": clean_value(component.routes),
        "nets": [{"p1": a, "p2": b} for a, b in connections.items()],
    }
    if warnings:
        netlist["warnings"] = warnings
    return netlist
