"""Cell functions of the demo process."""

from __future__ import annotations

import math
from pathlib import Path

from brenvik.cell import cell
from brenvik.component import Component
from brenvik.demo_pdk.layers import DemoLayer as L
from brenvik.schematic import cell_from_yaml

SCHEMATICS = Path(__file__).resolve().parent / "schematics"

#: Vertices per full circle of curved shapes.
CIRCLE_POINTS = 256


def _arc(radius: float, start_deg: float, end_deg: float, center=(0.0, 0.0), n=None):
    """Points on an arc from ``start_deg`` to ``end_deg`` (both included)."""
    span = end_deg - start_deg
    n = n or max(8, int(abs(span) / 360.0 * CIRCLE_POINTS))
    cx, cy = center
    out = []
    for k in range(n + 1):
        a = math.radians(start_deg + span * k / n)
        out.append((cx + radius * math.cos(a), cy + radius * math.sin(a)))
    return out


def _rect(c: Component, x0: float, y0: float, x1: float, y1: float, layer) -> None:
    c.add_polygon([(x0, y0), (x1, y0), (x1, y1), (x0, y1)], layer)


@cell
def straight(length: float = 10.0, width: float = 0.5, slab_width: float = 0.0) -> Component:
    """A straight waveguide along x from (0, 0); a rib one when ``slab_width`` > 0."""
    if length <= 0 or width <= 0:
        raise ValueError("length and width must be positive")
    c = Component()
    _rect(c, 0, -width / 2, length, width / 2, L.WG)
    if slab_width > 0:
        _rect(c, 0, -slab_width / 2, length, slab_width / 2, L.SLAB)
    c.add_port("o1", center=(0, 0), orientation=180, width=width, layer=L.WG)
    c.add_port("o2", center=(length, 0), orientation=0, width=width, layer=L.WG)
    c.info["length"] = length
    return c


@cell
def bend_circular(radius: float = 10.0, angle: float = 90.0, width: float = 0.5) -> Component:
    """A circular bend starting at (0, 0) heading east and turning left by ``angle``."""
    if radius <= width / 2 or not 0 < angle <= 180:
        raise ValueError("need radius > width/2 and 0 < angle <= 180")
    c = Component()
    center = (0.0, radius)
    outer = _arc(radius + width / 2, -90, -90 + angle, center)
    inner = _arc(radius - width / 2, -90, -90 + angle, center)
    c.add_polygon(outer + inner[::-1], L.WG)
    end_x = radius * math.sin(math.radians(angle))
    end_y = radius * (1 - math.cos(math.radians(angle)))
    c.add_port("o1", center=(0, 0), orientation=180, width=width, layer=L.WG)
    c.add_port("o2", center=(end_x, end_y), orientation=angle, width=width, layer=L.WG)
    c.info["length"] = radius * math.radians(angle)
    return c


@cell
def taper(length: float = 10.0, width1: float = 0.5, width2: float = 2.0) -> Component:
    """A linear taper from ``width1`` at (0, 0) to ``width2`` at (length, 0)."""
    c = Component()
    c.add_polygon(
        [(0, -width1 / 2), (length, -width2 / 2), (length, width2 / 2), (0, width1 / 2)], L.WG
    )
    c.add_port("o1", center=(0, 0), orientation=180, width=width1, layer=L.WG)
    c.add_port("o2", center=(length, 0), orientation=0, width=width2, layer=L.WG)
    return c


@cell
def ring(
    radius: float = 10.0, gap: float = 0.2, width: float = 0.5, heater_width: float = 2.0
) -> Component:
    """A ring resonator with a heater, coupled to a straight bus waveguide along y = 0."""
    c = Component()
    cy = width / 2 + gap + width / 2 + radius
    # The ring is drawn as two half annuli: GDS has no polygons with holes, and cutting a
    # hole open when writing would not round-trip exactly.
    for start in (0.0, 180.0):
        outer = _arc(radius + width / 2, start, start + 180, (0, cy))
        inner = _arc(radius - width / 2, start, start + 180, (0, cy))
        c.add_polygon(outer + inner[::-1], L.WG)
    heater_out = _arc(radius + heater_width / 2, 200, 340, (0, cy))
    heater_in = _arc(radius - heater_width / 2, 200, 340, (0, cy))
    c.add_polygon(heater_out + heater_in[::-1], L.HEATER)
    bus_length = 2 * radius + 10
    bus = c.add_ref(straight(length=bus_length, width=width), name="bus", x=-bus_length / 2)
    c.add_port("o1", port=bus.ports["o1"])
    c.add_port("o2", port=bus.ports["o2"])
    c.add_label("ring", (0, cy), L.TEXT)
    return c


@cell
def mmi1x2(
    width: float = 0.5,
    width_taper: float = 1.0,
    length_taper: float = 10.0,
    length_mmi: float = 5.5,
    width_mmi: float = 2.5,
    gap_mmi: float = 0.25,
) -> Component:
    """A 1x2 multimode-interference splitter: input o1, outputs o2 (upper) and o3 (lower)."""
    c = Component()
    _rect(c, 0, -width_mmi / 2, length_mmi, width_mmi / 2, L.WG)
    c.add_polygon(
        [
            (-length_taper, -width / 2),
            (0, -width_taper / 2),
            (0, width_taper / 2),
            (-length_taper, width / 2),
        ],
        L.WG,
    )
    offset = gap_mmi / 2 + width_taper / 2
    x_end = length_mmi + length_taper
    for y in (offset, -offset):
        c.add_polygon(
            [
                (length_mmi, y - width_taper / 2),
                (x_end, y - width / 2),
                (x_end, y + width / 2),
                (length_mmi, y + width_taper / 2),
            ],
            L.WG,
        )
    c.add_port("o1", center=(-length_taper, 0), orientation=180, width=width, layer=L.WG)
    c.add_port("o2", center=(x_end, offset), orientation=0, width=width, layer=L.WG)
    c.add_port("o3", center=(x_end, -offset), orientation=0, width=width, layer=L.WG)
    return c


@cell
def grating_coupler(
    n_periods: int = 30,
    period: float = 0.66,
    fill_factor: float = 0.5,
    taper_length: float = 16.0,
    taper_angle: float = 35.0,
    width: float = 0.5,
) -> Component:
    """A focusing grating coupler: a fan-shaped taper from the waveguide port o1 at (0, 0)
    (facing west) and ``n_periods`` curved teeth on a slab; port ``fiber`` marks where the
    fibre couples."""
    c = Component()
    half = taper_angle / 2
    fan = _arc(taper_length, -half, half)
    c.add_polygon([(0, -width / 2), *fan, (0, width / 2)], L.WG)
    teeth_half = half + 2.0
    r = taper_length
    for _ in range(n_periods):
        r0 = r + period * (1 - fill_factor)
        r1 = r + period
        c.add_polygon(_arc(r1, -teeth_half, teeth_half) + _arc(r0, teeth_half, -teeth_half), L.WG)
        r = r1
    r_end = r + 1.0
    slab_half = teeth_half + 2.0
    c.add_polygon(
        _arc(r_end, -slab_half, slab_half) + _arc(taper_length - 1.0, slab_half, -slab_half),
        L.SLAB,
    )
    fiber_x = (taper_length + r) / 2
    c.add_label("gc", (fiber_x, 0), L.TEXT)
    c.add_port("o1", center=(0, 0), orientation=180, width=width, layer=L.WG)
    c.add_port(
        "fiber",
        center=(fiber_x, 0),
        orientation=0,
        width=10.0,
        layer=L.WG,
        port_type="fiber",
    )
    return c


@cell
def via(size: float = 0.7) -> Component:
    """One square via centred at the origin."""
    c = Component()
    _rect(c, -size / 2, -size / 2, size / 2, size / 2, L.VIA)
    c.add_port("e1", center=(0, 0), orientation=90, width=size, layer=L.VIA, port_type="electrical")
    return c


@cell
def via_array(
    columns: int = 4, rows: int = 4, pitch: float = 2.0, via_size: float = 0.7
) -> Component:
    """A regular array of vias (one KLayout array instance) between M1 and M2 plates."""
    c = Component()
    w = (columns - 1) * pitch + via_size + 1.0
    h = (rows - 1) * pitch + via_size + 1.0
    for layer in (L.M1, L.M2):
        _rect(c, -w / 2, -h / 2, w / 2, h / 2, layer)
    x0 = -(columns - 1) * pitch / 2
    y0 = -(rows - 1) * pitch / 2
    c.add_array(via(size=via_size), columns, rows, spacing=(pitch, pitch), x=x0, y=y0, name="vias")
    c.add_port("e1", center=(0, h / 2), orientation=90, width=w, layer=L.M2, port_type="electrical")
    return c


@cell
def pad(size: float = 80.0, vias: int = 4) -> Component:
    """A bond pad on M2 over M1, joined by a via array in its centre."""
    c = Component()
    for layer in (L.M1, L.M2):
        _rect(c, -size / 2, -size / 2, size / 2, size / 2, layer)
    c.add_ref(via_array(columns=vias, rows=vias), name="vias")
    c.add_label("pad", (0, 0), L.TEXT)
    c.add_port(
        "e1", center=(0, size / 2), orientation=90, width=size, layer=L.M2, port_type="electrical"
    )
    return c


@cell
def pad_array(
    columns: int = 6, rows: int = 1, pitch: float = 150.0, size: float = 80.0
) -> Component:
    """``columns`` x ``rows`` pads as one KLayout array instance."""
    c = Component()
    pads = c.add_array(pad(size=size), columns, rows, spacing=(pitch, pitch), name="pads")
    for port in pads.ports:
        c.add_port(port=port)
    return c


@cell
def taper_with_default(
    # A built component as default value, on purpose: the demo PDK ships one such cell.
    base_straight: Component = straight(length=5.0),  # noqa: B008
    taper_length: float = 10.0,
    width2: float = 2.0,
) -> Component:
    """A straight (a component given as parameter, built once by default) then a taper."""
    c = Component()
    s = c.add_ref(base_straight, name="straight")
    o2 = s.ports["o2"]
    t = c.add_ref(
        taper(length=taper_length, width1=o2.width, width2=width2), name="taper", x=o2.x, y=o2.y
    )
    c.add_port("o1", port=s.ports["o1"])
    c.add_port("o2", port=t.ports["o2"])
    return c


mzi = cell_from_yaml(SCHEMATICS / "mzi.pic.yml")
loopback = cell_from_yaml(SCHEMATICS / "loopback.pic.yml")
self_ref = cell_from_yaml(SCHEMATICS / "self_ref.pic.yml")


@cell
def chip_block(ring_columns: int = 6, ring_rows: int = 4, gc_count: int = 8) -> Component:
    """One quarter of the demo chip, filling (0, 0)..(1200, 1200) µm: grating-coupler and
    ring arrays, interferometers, loopbacks, tapers, pads and a via field."""
    c = Component()
    gcs = c.add_array(
        grating_coupler(), 1, gc_count, spacing=(0, 127.0), x=80, y=100, rotation=180, name="gcs"
    )
    c.add_array(ring(), ring_columns, ring_rows, spacing=(60.0, 70.0), x=300, y=100, name="rings")
    c.add_ref(mzi(), name="mzi_a", x=300, y=450)
    c.add_ref(mzi(), name="mzi_b", x=900, y=300, rotation=90)
    c.add_ref(mzi(), name="mzi_c", x=500, y=700, rotation=180, mirror=True)
    c.add_ref(loopback(), name="loop_a", x=700, y=500)
    c.add_ref(loopback(), name="loop_b", x=700, y=800, mirror=True)
    c.add_ref(taper_with_default(), name="taper_a", x=300, y=600, rotation=270)
    c.add_ref(mmi1x2(), name="splitter", x=400, y=850, rotation=90)
    c.add_ref(bend_circular(radius=20), name="bend", x=550, y=900, rotation=180)
    c.add_ref(pad_array(columns=5), name="pads", x=250, y=1080)
    c.add_array(via_array(), 3, 3, spacing=(20.0, 20.0), x=1000, y=1000, rotation=90, name="vf")
    c.add_label("chip_block", (600, 1150), L.TEXT)
    for k, port in enumerate(p for p in gcs.ports if p.name.startswith("o1_")):
        c.add_port(f"o{k + 1}", port=port)
    return c


@cell
def demo_chip(block_margin: float = 50.0) -> Component:
    """The demo chip: four chip blocks, one per quadrant, placed rotated and mirrored, plus
    two rows of edge pads, the chip outline and a title label."""
    c = Component()
    block = chip_block()
    m = block_margin
    # (x, y, rotation, mirror): each maps the block's (0..S, 0..S) square into one quadrant.
    quadrants = {
        "q1": (m, m, 0, False),
        "q2": (-m, m, 90, False),
        "q3": (-m, -m, 270, True),
        "q4": (m, -m, 0, True),
    }
    for name, (x, y, rotation, mirror) in quadrants.items():
        ref = c.add_ref(block, name=name, x=x, y=y, rotation=rotation, mirror=mirror)
        c.add_port(f"{name}_o1", port=ref.ports["o1"])
    c.add_array(pad_array(columns=4), 2, 1, spacing=(1400.0, 0.0), x=-1300, y=1400, name="top_pads")
    c.add_array(
        pad_array(columns=4), 2, 1, spacing=(1400.0, 0.0), x=-1300, y=-1400, name="bot_pads"
    )
    s = 1200 + m + 300
    _rect(c, -s, -s, s, s, L.FLOORPLAN)
    c.add_label("demo_chip", (0, s - 50), L.TEXT)
    return c
