"""brenvik: a component library for chip layout on top of tesselink and ``klayout.db``.

The demo PDK (:mod:`brenvik.demo_pdk`) is the active PDK until another one is set.
"""

from __future__ import annotations

__version__ = "9.34.0"

from brenvik import schematic, technology
from brenvik.cell import cache_size, cell, clear_cache
from brenvik.component import Component, ComponentReference, Port, Ports, import_gds
from brenvik.netlist import get_netlist
from brenvik.pdk import (
    Pdk,
    UnknownCellError,
    cell_source_path,
    get_active_pdk,
    get_component,
    get_layer_stack,
    get_layer_views,
    reset_active_pdk,
    set_active_pdk,
)
from brenvik.technology import (
    Color,
    DerivedLayer,
    LayerLevel,
    LayerStack,
    LayerView,
    LayerViews,
    LogicalLayer,
)

__all__ = [
    "Color",
    "Component",
    "ComponentReference",
    "DerivedLayer",
    "LayerLevel",
    "LayerStack",
    "LayerView",
    "LayerViews",
    "LogicalLayer",
    "Pdk",
    "Port",
    "Ports",
    "UnknownCellError",
    "__version__",
    "cache_size",
    "cell",
    "cell_source_path",
    "clear_cache",
    "get_active_pdk",
    "get_component",
    "get_layer_stack",
    "get_layer_views",
    "get_netlist",
    "import_gds",
    "reset_active_pdk",
    "schematic",
    "set_active_pdk",
    "technology",
]
