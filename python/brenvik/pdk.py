"""Process design kits and the active PDK."""

from __future__ import annotations

import functools
import inspect
from collections.abc import Callable, Mapping
from pathlib import Path
from typing import Any

from tesselink.layer import LayerEnum

from brenvik.component import Component
from brenvik.technology import LayerStack, LayerViews


class UnknownCellError(KeyError, ValueError):
    """A PDK was asked for a cell it does not have (both a KeyError and a ValueError)."""

    def __str__(self) -> str:
        return str(self.args[0]) if self.args else "unknown cell"


class Pdk:
    """A process: its layers, layer stack, layer views and cell functions by name."""

    def __init__(
        self,
        name: str,
        cells: Mapping[str, Callable[..., Component]] | None = None,
        layers: type[LayerEnum] | None = None,
        layer_stack: LayerStack | None = None,
        layer_views: LayerViews | None = None,
    ) -> None:
        if not isinstance(name, str) or not name:
            raise ValueError("a PDK needs a non-empty name")
        self.name = name
        self.cells: dict[str, Callable[..., Component]] = dict(cells or {})
        for cell_name, func in self.cells.items():
            if not callable(func):
                raise TypeError(f"PDK {name!r}: cell {cell_name!r} is not callable")
        self.layers = layers
        self.layer_stack = layer_stack if layer_stack is not None else LayerStack()
        self.layer_views = layer_views if layer_views is not None else LayerViews()

    def get_cell(self, name: str) -> Callable[..., Component]:
        """The cell function called ``name``; :class:`UnknownCellError` if there is none."""
        try:
            return self.cells[name]
        except KeyError:
            known = ", ".join(sorted(self.cells)) or "none"
            raise UnknownCellError(
                f"PDK {self.name!r} has no cell {name!r} (known cells: {known})"
            ) from None

    def get_component(self, name: Any, **settings: Any) -> Component:
        """Build the component ``name`` (a cell name, cell function or component) with
        ``settings``."""
        if isinstance(name, Component):
            if settings:
                raise ValueError("settings cannot be applied to an already built component")
            return name
        if isinstance(name, Mapping):
            spec = dict(name)
            return self.get_component(spec["component"], **{**spec.get("settings", {}), **settings})
        func = name if callable(name) else self.get_cell(str(name))
        return func(**settings)

    def get_layer(self, name: str) -> LayerEnum:
        """The layer member called ``name``."""
        if self.layers is None:
            raise KeyError(f"PDK {self.name!r} defines no layers")
        return self.layers[name]

    def activate(self) -> Pdk:
        set_active_pdk(self)
        return self

    def __repr__(self) -> str:
        return f"Pdk({self.name!r}, cells={len(self.cells)})"


_active: Pdk | None = None


def _default_pdk() -> Pdk:
    from brenvik.demo_pdk import PDK

    return PDK


def get_active_pdk() -> Pdk:
    """The active PDK (the demo PDK until another is set)."""
    global _active
    if _active is None:
        _active = _default_pdk()
    return _active


def set_active_pdk(pdk: Pdk) -> None:
    """Make ``pdk`` the active PDK."""
    global _active
    if not isinstance(pdk, Pdk):
        raise TypeError(f"expected a Pdk, got {type(pdk).__name__}")
    _active = pdk


def reset_active_pdk() -> Pdk:
    """Make the demo PDK active again and return it."""
    global _active
    _active = _default_pdk()
    return _active


def get_layer_views() -> LayerViews:
    """The active PDK's layer views."""
    return get_active_pdk().layer_views


def get_layer_stack() -> LayerStack:
    """The active PDK's layer stack."""
    return get_active_pdk().layer_stack


def get_component(name: Any, **settings: Any) -> Component:
    """Build a component by name from the active PDK."""
    return get_active_pdk().get_component(name, **settings)


def cell_source_path(cell_func: Any) -> Path | None:
    """Absolute source file of a cell function: the ``.pic.yml`` file of a schematic cell,
    else the ``.py`` file of the unwrapped function; ``None`` when it cannot be told."""
    while isinstance(cell_func, functools.partial):
        cell_func = cell_func.func
    yml = getattr(cell_func, "pic_yml_path", None)
    if yml is not None:
        return Path(yml).resolve()
    try:
        func = inspect.unwrap(cell_func)
    except ValueError:
        return None
    yml = getattr(func, "pic_yml_path", None)
    if yml is not None:
        return Path(yml).resolve()
    try:
        source = inspect.getsourcefile(func)
    except TypeError:
        return None
    if source is None:
        return None
    path = Path(source)
    return path.resolve() if path.is_file() else None
