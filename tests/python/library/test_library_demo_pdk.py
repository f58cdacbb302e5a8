"""The demo PDK: layers, cells and the hierarchical demo chip."""

from __future__ import annotations

import os
import subprocess
import sys
import time
from pathlib import Path

import klayout.db as kdb
import pytest
from brenvik import Component
from brenvik.demo_pdk import CELLS, PDK, DemoLayer, demo_chip

REPO_PYTHON = Path(__file__).resolve().parents[3] / "python"
BUILDABLE = sorted(set(CELLS) - {"self_ref"})


def _walk(cell: kdb.Cell, depth: int = 1):
    """Yield (depth, instance) for every instance in the tree below ``cell``."""
    for inst in cell.each_inst():
        yield depth, inst
        yield from _walk(inst.cell, depth + 1)


def _flat_count(cell: kdb.Cell) -> int:
    layout = cell.layout()
    # Counted by walking the shapes: Region.count() on a layout-backed region would also count
    # placements of the cells outside this tree.
    return sum(1 for li in layout.layer_indexes() for _ in cell.begin_shapes_rec(li).each())


class TestLayers:
    def test_layer_numbers(self):
        expected = {
            "WG": (1, 0),
            "SLAB": (2, 0),
            "SHALLOW": (3, 0),
            "HEATER": (47, 0),
            "M1": (41, 0),
            "M2": (45, 0),
            "VIA": (44, 0),
            "TEXT": (66, 0),
            "FLOORPLAN": (64, 0),
        }
        assert {m.name: m.tuple for m in DemoLayer} == expected

    def test_views_and_stack_cover_the_drawn_layers(self):
        for member in DemoLayer:
            has_view = member.tuple in PDK.layer_views
            assert has_view == (member is not DemoLayer.FLOORPLAN)
        thickness = PDK.layer_stack.get_layer_to_thickness()
        for name in ("WG", "SLAB", "SHALLOW", "HEATER", "M1", "VIA", "M2"):
            assert thickness[DemoLayer[name].tuple] > 0


class TestCells:
    def test_about_ten_cells(self):
        assert len(CELLS) >= 10
        assert PDK.cells is not CELLS and PDK.cells == CELLS

    @pytest.mark.parametrize("name", BUILDABLE)
    def test_every_cell_builds_with_ports_and_netlist(self, name):
        c = PDK.get_component(name)
        assert isinstance(c, Component)
        assert len(c.ports) > 0
        assert not c.bbox().empty()
        netlist = c.get_netlist()
        assert netlist["name"] == c.name
        assert netlist["instances"] or c.kdb_cell.child_cells() == 0

    def test_curved_shapes_have_many_points(self):
        bend = PDK.get_component("bend_circular")
        (shape,) = bend.kdb_cell.shapes(bend.layout.find_layer(1, 0)).each()
        assert shape.polygon.num_points() > 60
        gc = PDK.get_component("grating_coupler", n_periods=12)
        teeth = [s for s in gc.kdb_cell.shapes(gc.layout.find_layer(1, 0)).each()]
        assert len(teeth) == 12 + 1
        assert all(t.polygon.num_points() > 20 for t in teeth)

    def test_arrays_are_klayout_arrays(self):
        for name in ("via_array", "pad_array"):
            c = PDK.get_component(name)
            assert any(inst.is_regular_array() for inst in c.kdb_cell.each_inst()), name

    def test_texts_only_on_the_text_layer(self):
        chip = demo_chip()
        layout = chip.layout
        text_layer = layout.find_layer(66, 0)
        # The iterator yields itself, so each shape is looked at while iterating.
        kinds = [it.shape().is_text() for it in chip.kdb_cell.begin_shapes_rec(text_layer).each()]
        assert len(kinds) > 10 and all(kinds)
        for index in layout.layer_indexes():
            if index == text_layer:
                continue
            it = chip.kdb_cell.begin_shapes_rec(index)
            assert not any(i.shape().is_text() for i in it.each())

    def test_ring_is_a_resonator_beside_a_bus(self):
        c = PDK.get_component("ring", radius=5.0, gap=0.3)
        (bus,) = c.references
        assert bus.name == "bus"
        wg = kdb.Region(c.kdb_cell.shapes(c.layout.find_layer(1, 0)))
        assert wg.merged().count() == 1  # the two halves form one ring
        assert wg.merged().holes().count() == 1
        ring_bottom = wg.bbox().bottom * c.layout.dbu
        bus_top = bus.component.bbox().top
        assert ring_bottom - bus_top == pytest.approx(0.3, abs=0.002)


class TestDemoChip:
    def test_thousands_of_polygons_when_flattened(self):
        assert _flat_count(demo_chip().kdb_cell) >= 2000

    def test_deep_hierarchy_with_arrays_rotations_and_mirrors(self):
        chip = demo_chip()
        walked = list(_walk(chip.kdb_cell))
        assert max(depth for depth, _ in walked) >= 4
        angles = {int(inst.dcplx_trans.angle) % 360 for _, inst in walked}
        assert angles == {0, 90, 180, 270}
        assert any(inst.dcplx_trans.is_mirror() for _, inst in walked)
        assert any(inst.is_regular_array() for _, inst in walked)
        top_level = {inst.dcplx_trans.angle % 360 for inst in chip.kdb_cell.each_inst()}
        assert {0, 90, 270} <= top_level

    def test_quadrants_do_not_overlap(self):
        chip = demo_chip()
        boxes = [r.instance.dbbox() for r in chip.references if r.name.startswith("q")]
        assert len(boxes) == 4
        for i, a in enumerate(boxes):
            for b in boxes[i + 1 :]:
                assert not a.overlaps(b)

    def test_writing_is_fast(self, tmp_path):
        chip = demo_chip()
        start = time.perf_counter()
        chip.write_gds(tmp_path / "chip.gds")
        assert time.perf_counter() - start < 1.0


def test_importing_the_demo_pdk_builds_only_the_default_component():
    probe = (
        "import tesselink, brenvik.demo_pdk\nprint([c.name for c in tesselink.kcl.each_cell()])\n"
    )
    result = subprocess.run(
        [sys.executable, "-c", probe],
        capture_output=True,
        text=True,
        env={**os.environ, "PYTHONPATH": str(REPO_PYTHON)},
        check=True,
    )
    assert result.stdout.strip() == "['straight_length5']"


def test_active_pdk_default_needs_no_setup():
    probe = "import brenvik\nprint(brenvik.get_active_pdk().name)\n"
    result = subprocess.run(
        [sys.executable, "-c", probe],
        capture_output=True,
        text=True,
        env={**os.environ, "PYTHONPATH": str(REPO_PYTHON)},
        check=True,
    )
    assert result.stdout.strip() == "demo"
