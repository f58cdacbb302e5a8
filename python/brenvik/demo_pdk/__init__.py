"""The demo PDK: a small silicon-photonics process, the default active PDK."""

from __future__ import annotations

from brenvik.demo_pdk import cells
from brenvik.demo_pdk.cells import (
    bend_circular,
    chip_block,
    demo_chip,
    grating_coupler,
    loopback,
    mmi1x2,
    mzi,
    pad,
    pad_array,
    ring,
    self_ref,
    straight,
    taper,
    taper_with_default,
    via,
    via_array,
)
from brenvik.demo_pdk.layers import DemoLayer
from brenvik.demo_pdk.tech import make_layer_stack, make_layer_views
from brenvik.pdk import Pdk

LAYER_STACK = make_layer_stack()
LAYER_VIEWS = make_layer_views()

CELLS = {
    "straight": straight,
    "bend_circular": bend_circular,
    "taper": taper,
    "ring": ring,
    "mmi1x2": mmi1x2,
    "grating_coupler": grating_coupler,
    "via": via,
    "via_array": via_array,
    "pad": pad,
    "pad_array": pad_array,
    "taper_with_default": taper_with_default,
    "mzi": mzi,
    "loopback": loopback,
    "self_ref": self_ref,
    "chip_block": chip_block,
    "demo_chip": demo_chip,
}

PDK = Pdk(
    name="demo",
    cells=CELLS,
    layers=DemoLayer,
    layer_stack=LAYER_STACK,
    layer_views=LAYER_VIEWS,
)

__all__ = ["CELLS", "LAYER_STACK", "LAYER_VIEWS", "PDK", "DemoLayer", "cells"]
