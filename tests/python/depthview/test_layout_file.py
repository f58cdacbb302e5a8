"""A layout file given to depthview is read once into the scene: its message equals, byte for
byte, the one of the component route (import, derived layers, a temporary GDS file read again);
every top cell is drawn unless one cell is named; KLayout's reader output is logged, not printed."""

from __future__ import annotations

import itertools
import logging
import random
import re
import sys
from pathlib import Path

import klayout.db as kdb
import pytest

from tarnwick.core import communication
from tarnwick.core import depthview as dv

from .conftest import demo_layout, random_layout
from .test_free_angles import complex_layout

sys.path.insert(0, str(Path(__file__).resolve().parents[3] / "bench"))
import layout_generator

WG, SLAB, SHALLOW = (1, 0), (2, 0), (3, 0)  # the demo stack computes SHALLOW from WG & SLAB


def message(path, output, *, through_component=False, **options) -> str:
    communication.clear_messages()
    dv._read_file_through_component = through_component
    try:
        dv.depthview(str(path), output, **options)
    finally:
        del dv._read_file_through_component
    return communication.messages()[-1].content


def derived_layout(seed: int) -> kdb.Layout:
    """Overlapping WG and SLAB in an array of a leaf and in the top cell, with a ring (a polygon
    with a hole) and a shape already on the derived layer."""
    rng = random.Random(seed)
    ly = kdb.Layout()
    wg, slab, shallow = (ly.layer(*spec) for spec in (WG, SLAB, SHALLOW))
    top, leaf = ly.create_cell("top"), ly.create_cell("leaf")
    for _ in range(30):
        x, y = rng.randint(0, 5000), rng.randint(0, 5000)
        box = kdb.Box(x, y, x + rng.randint(100, 2000), y + rng.randint(100, 2000))
        leaf.shapes(rng.choice([wg, slab])).insert(box)
    leaf.shapes(wg).insert(
        kdb.Polygon([kdb.Point(0, 0), kdb.Point(3000, 0), kdb.Point(1500, 2500)])
    )
    ring = kdb.Polygon(kdb.Box(-1000, -1000, 1000, 1000))
    ring.insert_hole(kdb.Box(-500, -500, 500, 500))
    top.shapes(slab).insert(kdb.Box(-3000, -3000, 3000, 3000))
    top.shapes(wg).insert(ring)
    top.shapes(shallow).insert(kdb.Box(9000, 9000, 9100, 9100))
    top.insert(
        kdb.CellInstArray(
            leaf.cell_index(),
            kdb.Trans(1, True, 100, 200),
            kdb.Vector(4000, 0),
            kdb.Vector(0, 4000),
            2,
            2,
        )
    )
    return ly


class DemoChip:
    """The demo chip as `tarnwick build` writes it: with its metadata, rib waveguides (derived
    layers) and a hierarchy of the demo PDK's cells."""

    @staticmethod
    def write(path: str) -> None:
        from tarnwick.core.pdk import get_pdk

        get_pdk().get_component("demo_chip").write_gds(path)


LAYOUTS = {
    "the demo chip, with metadata": (DemoChip, ".gds"),
    "generated, arrays and texts": (lambda: layout_generator.make_layout(3000, 5), ".gds"),
    "generated, OASIS": (lambda: layout_generator.make_layout(1500, 2), ".oas"),
    "derived layers, holes": (lambda: derived_layout(0), ".gds"),
    "derived layers, OASIS": (lambda: derived_layout(1), ".oas"),
    "paths and mirrored arrays": (demo_layout, ".gds"),
    "free angles": (lambda: complex_layout(0), ".gds"),
    "free angles, OASIS": (lambda: complex_layout(1), ".oas"),
    "several top cells": (lambda: random_layout(3, tops=3), ".gds"),
}


@pytest.mark.parametrize("name", LAYOUTS)
def test_a_file_read_once_gives_the_component_routes_message(name, tmp_path):
    make, suffix = LAYOUTS[name]
    path = tmp_path / f"layout{suffix}"
    make().write(str(path))
    ly = kdb.Layout()
    ly.read(str(path))
    first = ly.top_cells()[0].name  # the component route draws the first top cell only
    outputs = (dv.Output.LAYER, dv.Output.CELL)
    assert [message(path, out, cell=first, curve_tolerance=None) for out in outputs] == [
        message(path, out, through_component=True, curve_tolerance=None) for out in outputs
    ]


def test_every_top_cell_or_the_named_one(tmp_path):
    path = tmp_path / "tops.gds"
    random_layout(4, tops=3).write(str(path))
    every = message(path, dv.Output.CELL)
    ly = kdb.Layout()
    ly.read(str(path))
    tops = [top.name for top in ly.top_cells()]  # in KLayout's order
    assert re.findall(r'"id":"/Cells/([^/"]+)"', every) == tops and len(tops) > 3
    one = message(path, dv.Output.CELL, cell="c4_1")
    assert '"id":"/Cells/c4_1"' in one and '"id":"/Cells/c4_0"' not in one
    assert '"id":"/Cells/c2_0"' in message(path, dv.Output.CELL, cell="c2_0")  # not a top cell
    with pytest.raises(ValueError, match=r"has no cell 'nope' \(top cells: c4_2, c4_1, c4_0, c"):
        message(path, dv.Output.CELL, cell="nope")


def test_reader_warnings_are_logged_once_naming_the_file(tmp_path, caplog, capfd):
    path = tmp_path / "long texts.gds"
    ly = kdb.Layout()
    top = ly.create_cell("top")
    top.shapes(ly.layer(*WG)).insert(kdb.Box(0, 0, 100, 100))
    for i in range(3):  # records longer than GDS allows: KLayout warns at each while reading
        top.shapes(ly.layer(*WG)).insert(kdb.Text("x" * 40000, kdb.Trans(i, 0)))
    ly.write(str(path))
    capfd.readouterr()
    with caplog.at_level(logging.WARNING, logger="tarnwick"):
        message(path, dv.Output.LAYER)
    out, err = capfd.readouterr()
    assert (out, err, [r.getMessage() for r in caplog.records]) == (
        "",
        "",
        [
            (
                f"reading {path}: Record length larger than 0x8000 encountered: interpreting "
                "as unsigned (3 times)"
            )
        ],
    )
    # A magnification of 0: KLayout prints an error line of its own before it raises.
    ly = kdb.Layout()
    top, child = ly.create_cell("top"), ly.create_cell("child")
    child.shapes(ly.layer(*WG)).insert(kdb.Box(0, 0, 10, 10))
    top.insert(kdb.CellInstArray(child.cell_index(), kdb.ICplxTrans(2.0, 0, False, 0, 0)))
    ly.write(str(path))
    data = bytearray(path.read_bytes())
    at = data.find(b"\x00\x0c\x1b\x05")  # the MAG record
    data[at + 4 : at + 12] = bytes(8)
    path.write_bytes(data)
    with pytest.raises(RuntimeError, match="mag > 0"):
        message(path, dv.Output.LAYER)
    assert capfd.readouterr() == ("", "")


def test_a_chain_too_deep_for_the_text_limit_is_refused_once_read(tmp_path, monkeypatch):
    chain = kdb.Layout()
    cells = [chain.create_cell(f"c{i}") for i in range(120)]
    cells[-1].shapes(chain.layer(*WG)).insert(kdb.Box(0, 0, 10, 10))
    for parent, child in itertools.pairwise(cells):
        parent.insert(kdb.CellInstArray(child.cell_index(), kdb.Trans()))
    chain.write(str(tmp_path / "chain.gds"))
    monkeypatch.setenv("TARNWICK_MAX_MESSAGE_BYTES", "40000")
    stages: list = []
    with pytest.raises(ValueError, match="the hierarchy below 'c0' is 119 levels deep"):
        dv.depthview(str(tmp_path / "chain.gds"), dv.Output.LAYER, report=stages.append)
    assert stages == [{"stage": "read"}]  # refused before the scene was built
