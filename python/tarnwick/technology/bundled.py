"""The technologies that ship with tarnwick: the open CMOS processes sky130, gf180mcu and
ihp-sg13g2 (public layer numbers and heights), the demo PDK's own stack, and `generic`.

Wells, implants and markers are thin slabs just below the substrate surface, hidden unless
`--all-layers` is given; pin and label datatypes share their metal's heights and are hidden too.
"""

from __future__ import annotations

from tarnwick.technology.model import TechLayer, Technology

__all__ = ["BUNDLED", "bundled", "demo_technology", "technology_from_pair"]

# Heights of the hidden slabs of wells, implants and markers.
_SLAB_Z, _SLAB_T = -0.1, 0.1

# name, layer/datatype, zmin, thickness, colour; zmin None marks a hidden slab.
_SKY130 = """
nwell 64/20 - - #c8c8ff
dnwell 64/18 - - #a0a0e0
hvi 75/20 - - #e0c0e0
nsdm 93/44 - - #d0ffd0
psdm 94/20 - - #ffd8b0
npc 95/20 - - #f0e0a0
pad 76/20 - - #c0c0c0
diff 65/20 0 0.3230 #2ca02c
tap 65/44 0 0.3230 #98df8a
poly 66/20 0.3262 0.18 #d62728
licon1 66/44 0.3230 0.6131 #7f7f7f
li1 67/20 0.9361 0.10 #9467bd
mcon 67/44 1.0361 0.34 #8c564b
met1 68/20 1.3761 0.36 #1f77b4
via 68/44 1.7361 0.27 #bcbd22
met2 69/20 2.0061 0.36 #ff7f0e
via2 69/44 2.3661 0.42 #17becf
met3 70/20 2.7861 0.845 #e377c2
via3 70/44 3.6311 0.39 #7f7f00
met4 71/20 4.0211 0.845 #aec7e8
via4 71/44 4.8661 0.505 #5f5f5f
met5 72/20 5.3711 1.26 #ffbb78
"""

_GF180 = """
nwell 21/0 - - #c8c8ff
dnwell 12/0 - - #a0a0e0
pplus 31/0 - - #ffd8b0
nplus 32/0 - - #d0ffd0
comp 22/0 0 0.312 #2ca02c
poly2 30/0 0.32 0.20 #d62728
contact 33/0 0.312 0.918 #7f7f7f
metal1 34/0 1.23 0.55 #1f77b4
via1 35/0 1.78 0.60 #bcbd22
metal2 36/0 2.38 0.55 #ff7f0e
via2 38/0 2.93 0.60 #17becf
metal3 42/0 3.53 0.55 #e377c2
via3 40/0 4.08 0.60 #7f7f00
metal4 46/0 4.68 0.55 #aec7e8
via4 41/0 5.23 0.90 #5f5f5f
metaltop 53/0 6.13 1.1925 #ffbb78
"""

_IHP = """
NWell 31/0 - - #c8c8ff
nSD 7/0 - - #d0ffd0
pSD 14/0 - - #ffd8b0
ThickGateOx 44/0 - - #e0c0e0
Passiv 9/0 - - #c0c0c0
Activ 1/0 0 0.40 #2ca02c
GatPoly 5/0 0.40 0.16 #d62728
Cont 6/0 0.40 0.64 #7f7f7f
Metal1 8/0 1.04 0.42 #1f77b4
Via1 19/0 1.46 0.54 #bcbd22
Metal2 10/0 2.00 0.49 #ff7f0e
Via2 29/0 2.49 0.54 #17becf
Metal3 30/0 3.03 0.49 #e377c2
Via3 49/0 3.52 0.54 #7f7f00
Metal4 50/0 4.06 0.49 #aec7e8
Via4 66/0 4.55 0.54 #5f5f5f
Metal5 67/0 5.09 0.49 #9467bd
TopVia1 125/0 5.58 0.85 #8c564b
TopMetal1 126/0 6.43 2.00 #ffbb78
TopVia2 133/0 8.43 2.80 #c49c94
TopMetal2 134/0 11.23 3.00 #f7b6d2
"""

# Pin and label datatypes: (metal names, {suffix: datatype}).
_SKY130_PINS = (("li1", "met1", "met2", "met3", "met4", "met5"), {"pin": 16, "label": 5})
_IHP_PINS = (
    ("Metal1", "Metal2", "Metal3", "Metal4", "Metal5", "TopMetal1", "TopMetal2"),
    {"pin": 2},
)

_DESCRIPTIONS = {
    "sky130": "SkyWater SKY130 (sky130A): diffusion, poly, local interconnect and five metals",
    "gf180mcu": "GlobalFoundries GF180MCU (gf180mcuD), five metals",
    "ihp-sg13g2": "IHP SG13G2: five metals and two thick top metals",
}


def _layers(table: str, pins=None) -> list[TechLayer]:
    out = []
    for line in table.strip().splitlines():
        name, spec, zmin, thickness, color = line.split()
        layer, datatype = (int(part) for part in spec.split("/"))
        if zmin == "-":
            out.append(TechLayer(name, layer, datatype, _SLAB_Z, _SLAB_T, color, visible=False))
        else:
            out.append(TechLayer(name, layer, datatype, float(zmin), float(thickness), color))
    if pins is not None:
        metals, datatypes = pins
        by_name = {layer.name: layer for layer in out}
        for metal in metals:
            drawn = by_name[metal]
            for suffix, datatype in datatypes.items():
                out.append(
                    TechLayer(
                        f"{metal}.{suffix}",
                        drawn.layer,
                        datatype,
                        drawn.zmin,
                        drawn.thickness,
                        drawn.color,
                        visible=False,
                    )
                )
    return out


def technology_from_pair(name: str, layer_stack, layer_views, description: str = "") -> Technology:
    """The technology that stands for a (LayerStack, LayerViews) pair as it is. Its layers: those
    the pair draws (as `get_layer_properties` sees them), then those it knows without drawing them
    (stack levels or views without a fill colour), hidden."""
    from tarnwick.core.depthview import get_layer_properties

    drawn = get_layer_properties(layer_stack, layer_views)
    layers = [
        TechLayer(p.name, spec[0], spec[1], float(p.zmin), float(p.thickness), p.color)
        for spec, p in drawn.items()
    ]
    known = {layer.spec for layer in layers}
    names = {layer.name for layer in layers}

    def hidden(spec, name, zmin, thickness):
        if spec in known:
            return
        while name in names:
            name += "'"
        known.add(spec)
        names.add(name)
        layers.append(TechLayer(name, spec[0], spec[1], zmin, thickness, None, visible=False))

    from brenvik.technology import LogicalLayer

    for level in layer_stack.layers.values():
        target = level.derived_layer if level.derived_layer is not None else level.layer
        if isinstance(target, LogicalLayer):
            hidden(target.tuple, str(target), float(level.zmin), float(level.thickness))
    for view in layer_views:
        hidden(tuple(view.layer), view.name, 0.0, 0.0)
    return Technology(
        name,
        layers,
        description=description,
        source="bundled",
        base=(layer_stack, layer_views),
        base_layers=list(layers),
    )


def demo_technology() -> Technology:
    """The active PDK's own stack and views (the demo PDK unless another is active)."""
    from tarnwick.core.pdk import get_pdk

    pdk = get_pdk()
    return technology_from_pair(
        "demo", pdk.layer_stack, pdk.layer_views, f"the active PDK's own stack ({pdk.name})"
    )


def _cmos(name: str, table: str, pins=None):
    return lambda: Technology(
        name, _layers(table, pins), description=_DESCRIPTIONS[name], source="bundled"
    )


def _generic() -> Technology:
    return Technology(
        "generic",
        [],
        description="every layer of the file, stacked in (layer, datatype) order",
        source="bundled",
        all_layers=True,
    )


#: The bundled technologies by name, each made afresh when asked for.
BUNDLED = {
    "demo": demo_technology,
    "sky130": _cmos("sky130", _SKY130, _SKY130_PINS),
    "gf180mcu": _cmos("gf180mcu", _GF180),
    "ihp-sg13g2": _cmos("ihp-sg13g2", _IHP, _IHP_PINS),
    "generic": _generic,
}


def bundled(name: str) -> Technology | None:
    make = BUNDLED.get(name)
    return make() if make is not None else None
