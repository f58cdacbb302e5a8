"""Layer stack and layer views of the demo process."""

from __future__ import annotations

from brenvik.demo_pdk.layers import DemoLayer
from brenvik.technology import LayerLevel, LayerStack, LayerView, LayerViews, LogicalLayer

WG = LogicalLayer(layer=DemoLayer.WG)
SLAB = LogicalLayer(layer=DemoLayer.SLAB)


def make_layer_stack() -> LayerStack:
    """Heights in µm above the top of the buried oxide."""
    return LayerStack(
        layers={
            "box": LayerLevel(
                layer=LogicalLayer(layer=DemoLayer.FLOORPLAN),
                thickness=2.0,
                zmin=-2.0,
                material="sio2",
                mesh_order=9,
            ),
            "core": LayerLevel(layer=WG, thickness=0.22, zmin=0.0, material="si", mesh_order=2),
            "slab": LayerLevel(layer=SLAB, thickness=0.09, zmin=0.0, material="si"),
            # Rib regions: where core and slab overlap the silicon is only partly etched.
            "shallow_etch": LayerLevel(
                layer=WG & SLAB,
                derived_layer=LogicalLayer(layer=DemoLayer.SHALLOW),
                thickness=0.13,
                zmin=0.09,
                material="si",
                mesh_order=1,
            ),
            # Strip waveguide outside any slab; only used for 3D views, not drawn.
            "strip": LayerLevel(layer=WG - SLAB, thickness=0.22, zmin=0.0, material="si"),
            "heater": LayerLevel(
                layer=LogicalLayer(layer=DemoLayer.HEATER),
                thickness=0.75,
                zmin=1.1,
                material="tin",
            ),
            "metal1": LayerLevel(
                layer=LogicalLayer(layer=DemoLayer.M1), thickness=0.6, zmin=1.9, material="al"
            ),
            "via1": LayerLevel(
                layer=LogicalLayer(layer=DemoLayer.VIA),
                thickness=0.5,
                zmin=2.5,
                material="tungsten",
            ),
            "metal2": LayerLevel(
                layer=LogicalLayer(layer=DemoLayer.M2), thickness=0.8, zmin=3.0, material="al"
            ),
        }
    )


_VIEWS = {
    "WG": ("#ff6e6e", "#cc0000", "solid"),
    "SLAB": ("#ffc8c8", "#ff8080", "hatched"),
    "SHALLOW": ("#b05a5a", "#800000", "dotted"),
    "M1": ("#5a8cff", "#0030c0", "hatched"),
    "VIA": ("#2a2a2a", "#000000", "solid"),
    "M2": ("#9ad0ff", "#3070b0", "hatched"),
    "HEATER": ("#ffb000", "#b07000", "hatched"),
    "TEXT": (None, "#404040", "solid"),
}


def make_layer_views() -> LayerViews:
    """A view for every layer except FLOORPLAN."""
    return LayerViews(
        layer_views={
            name: LayerView(
                name=name,
                layer=DemoLayer[name].tuple,
                fill_color=fill,
                frame_color=frame,
                dither_pattern=pattern,
            )
            for name, (fill, frame, pattern) in _VIEWS.items()
        }
    )
