"""Layers of the demo silicon-photonics process."""

from __future__ import annotations

from tesselink.layer import LayerEnum


class DemoLayer(LayerEnum):
    """GDS layers of the demo process."""

    WG = (1, 0)  # waveguide core, full 220 nm silicon
    SLAB = (2, 0)  # 90 nm slab for rib waveguides and gratings
    SHALLOW = (3, 0)  # shallow etch, derived from WG & SLAB
    M1 = (41, 0)  # first metal
    VIA = (44, 0)  # via between M1 and M2
    M2 = (45, 0)  # second metal (pads, routing)
    HEATER = (47, 0)  # TiN heater
    FLOORPLAN = (64, 0)  # chip outline; no layer view
    TEXT = (66, 0)  # labels (texts only)
