"""ParseGDS set-up, polygon extraction and the cell hierarchy walk."""

from __future__ import annotations

import math
import random

import pytest
from klayout import db

from tarnwick.core.depthview import Cell, KTrans, Output, ParseGDS, PdkLayer, Reference

from .conftest import M1, UNKNOWN, WG, demo_layout


def hull_um(polygon, dbu=0.001):
    return [(p.x / (1 / dbu), p.y / (1 / dbu)) for p in polygon.to_dtype().each_point_hull()]


def test_construction(layers):
    ly = db.Layout()
    ly.layer(*UNKNOWN)
    ly.layer(*WG)
    ly.layer(*M1)
    second_wg = ly.insert_layer(db.LayerInfo(*WG))
    a, b = ly.create_cell("a"), ly.create_cell("b")
    parser = ParseGDS(ly, layers, z_scale=2, curve_tolerance=1)
    assert parser.layout is ly and parser.layers is layers
    assert parser.z_scale == 2.0 and isinstance(parser.z_scale, float)
    assert parser.curve_tolerance == 1.0 and isinstance(parser.curve_tolerance, float)
    assert parser.layer_map == {1: WG, 2: M1, second_wg: WG}
    assert parser.reverse_layer_map == {WG: second_wg, M1: 2}  # the later index wins
    assert {k: c.name for k, c in parser.cell_index_map.items()} == {
        a.cell_index(): "a",
        b.cell_index(): "b",
    }
    assert parser.instances == [] and parser.instance_index == 0
    assert parser.instance_mapping == {}
    assert parser.parsed_cells is None and parser.parsed_layers is None
    assert not parser.cell_combined and not parser.layer_combined
    assert parser.exclude_layers == []
    assert ParseGDS(ly, layers).exclude_layers is not parser.exclude_layers
    patterns = []
    assert ParseGDS(ly, layers, exclude_layers=patterns).exclude_layers is patterns
    assert ParseGDS(ly, layers).curve_tolerance == 0.01
    assert ParseGDS(ly, layers, curve_tolerance=None).curve_tolerance is None


def test_bad_arguments_raise(layers):
    with pytest.raises(TypeError, match="klayout.db.Layout"):
        ParseGDS("not a layout", layers)
    with pytest.raises(TypeError, match="curve_tolerance"):
        ParseGDS(db.Layout(), layers, curve_tolerance="fine")


def test_layer_lookups(layers):
    parser = ParseGDS(db.Layout(), {WG: PdkLayer("WG", 0.22, 1.5, "#ff0000")}, z_scale=2)
    assert parser.get_name(WG) == "WG (1, 0)"
    assert parser.get_zmin(WG) == 3.0
    assert parser.get_height(WG) == 0.44
    assert parser.get_color(WG) == "#ff0000"
    assert parser.get_name((5, 0)) == "(5, 0)"
    assert parser.get_zmin((5, 0)) == -2.0
    assert parser.get_height((5, 0)) == 0.05 * 2
    assert parser.get_color((5, 0)) == "#000000"


def test_texts_take_shape_positions_and_layers_without_polygons_have_no_entry(layers):
    ly = db.Layout()
    top = ly.create_cell("top")
    wg, m1 = ly.layer(*WG), ly.layer(*M1)
    top.shapes(m1).insert(db.Text("only text", db.Trans()))
    top.shapes(wg).insert(db.Text("label", db.Trans()))  # KLayout lists texts last
    top.shapes(wg).insert(db.Box(0, 0, 10, 10))
    top.shapes(wg).insert(db.Box(0, 0, 20, 20))
    parser = ParseGDS(ly, layers, curve_tolerance=None)
    (cell,) = parser.export_cells(combine=False).cells
    assert cell == Cell(top.cell_index(), "top", {str(wg): [0, 1]}, [])
    positions = [i for i, s in enumerate(top.shapes(wg).each()) if not s.is_text()]
    assert parser.instance_mapping == {
        (top.cell_index(), wg, positions[0]): 0,
        (top.cell_index(), wg, positions[1]): 1,
    }

    ly2 = db.Layout()
    top2 = ly2.create_cell("top")
    top2.shapes(ly2.layer(*WG)).insert(db.Text("first", db.Trans()))
    top2.shapes(ly2.layer(*WG)).insert(db.Polygon(db.Box(0, 0, 5, 5)))
    parser2 = ParseGDS(ly2, layers, curve_tolerance=None)
    parser2.export_cells(combine=False)
    order = [s.is_text() for s in top2.shapes(0).each()]
    assert list(parser2.instance_mapping) == [(top2.cell_index(), 0, order.index(False))]


def test_shapes_without_polygon_form_and_missing_cells_raise(layers):
    ly = db.Layout()
    top = ly.create_cell("top")
    top.shapes(ly.layer(*WG)).insert(db.Edge(0, 0, 10, 10))
    with pytest.raises(TypeError, match="no polygon form"):
        ParseGDS(ly, layers).export_cells()
    with pytest.raises(TypeError):
        ParseGDS(ly, layers).extract_dpolygon(None)

    ly = db.Layout()
    top = ly.create_cell("top")
    child = ly.create_cell("child")
    top.insert(db.CellInstArray(child.cell_index(), db.Trans()))
    parser = ParseGDS(ly, layers)
    del parser.cell_index_map[child.cell_index()]
    with pytest.raises(KeyError):
        parser.export_cells()
    assert parser.parsed_cells is None


def test_hierarchy_walk_extracts_each_shape_once(layers):
    ly = demo_layout()
    parser = ParseGDS(ly, layers, curve_tolerance=None)
    parsed = parser.export_cells(combine=False)
    assert parsed.instances is parser.instances and parsed.layer_map is parser.layer_map
    (top,) = parsed.cells
    assert type(top) is Cell and top.name == "top"
    first, second, arr = top.references
    assert type(first) is Reference and first.name == second.name == "child"
    assert first.polygons == second.polygons and first.polygons is not second.polygons
    assert first.trans_count == 1 and len(second.trans) == 1
    (leaf,) = arr.references
    assert leaf.trans_count == 6
    leaf_cell = ly.cell("arr")
    (inst,) = leaf_cell.each_inst()
    assert [k.trans for k in leaf.trans] == list(inst.cell_inst.each_trans())
    # Every distinct shape once: top 2, child 2, leaf 1.
    assert len(parser.instances) == parser.instance_index == 5
    # Depth-first walk order: the top's own polygons first, then each subtree in turn.
    assert top.polygons == {"0": [0], "1": [1]}
    assert first.polygons == {"0": [2, 3]} and leaf.polygons == {"1": [4]}


def test_array_placements_follow_klayout_order(layers):
    ly = db.Layout()
    top = ly.create_cell("top")
    child = ly.create_cell("child")
    arrays = [
        db.CellInstArray(
            child.cell_index(),
            db.Trans(1, True, 10, 20),
            db.Vector(100, 0),
            db.Vector(0, 300),
            3,
            2,
        ),
        db.CellInstArray(
            child.cell_index(),
            db.Trans(2, False, -5, 7),
            db.Vector(13, 17),
            db.Vector(-40, 3),
            2,
            4,
        ),
        # Complex placements: KLayout's complex transformations, array steps included.
        db.CellInstArray(
            child.cell_index(),
            db.ICplxTrans(2.0, 45, False, 10, 20),
            db.Vector(100, 0),
            db.Vector(0, 300),
            2,
            2,
        ),
        db.CellInstArray(child.cell_index(), db.ICplxTrans(1.0, 30, True, 1, 2)),
    ]
    for inst in arrays:
        top.insert(inst)
    refs = ParseGDS(ly, layers).export_cells(combine=False).cells[0].references
    by_klayout = [
        [
            t.to_s()
            for t in (
                inst.cell_inst.each_cplx_trans()
                if inst.cell_inst.is_complex()
                else inst.cell_inst.each_trans()
            )
        ]
        for inst in top.each_inst()
    ]
    assert [[k.trans.to_s() for k in r.trans] for r in refs] == by_klayout
    assert [r.trans_count for r in refs] == [6, 8, 4, 1]


def test_export_cells_again_reuses_instance_indices_and_shares_the_pool(layers):
    ly = demo_layout()
    parser = ParseGDS(ly, layers, curve_tolerance=None)
    first = parser.export_cells(combine=False)
    pool = list(parser.instances)
    second = parser.export_cells(combine=False)
    assert second is parser.parsed_cells and second is not first
    assert first.cells[0] is not second.cells[0]
    assert second.cells == first.cells and parser.instances == pool
    # A polygon added to the layout later and found by a later parse shows through the
    # earlier result.
    ly.cell("top").shapes(ly.layer(*WG)).insert(db.Box(0, 0, 1, 1))
    parser.export_cells(combine=False)
    assert len(first.instances) == len(pool) + 1


def test_layout_without_known_layers(layers):
    ly = demo_layout()
    parser = ParseGDS(ly, {UNKNOWN: layers[WG]})
    (top,) = parser.export_cells(combine=False).cells
    assert parser.layer_map == {} and parser.instances == []

    def walk(cell):
        assert cell.polygons == {}
        return 1 + sum(walk(r) for r in cell.references)

    assert walk(top) == 5


def test_polygon_hulls_scaled_by_the_database_unit(layers):
    rng = random.Random(11)
    for dbu in (0.001, 0.005, 0.00025):
        ly = db.Layout()
        ly.dbu = dbu
        top = ly.create_cell("top")
        shapes = top.shapes(ly.layer(*WG))
        for _ in range(30):
            points = [
                db.Point(rng.randint(-(10**6), 10**6), rng.randint(-(10**6), 10**6))
                for _ in range(rng.randint(3, 12))
            ]
            polygon = db.Polygon(points)
            if rng.random() < 0.3:
                polygon.insert_hole([db.Point(0, 0), db.Point(10, 0), db.Point(10, 10)])
            shapes.insert(polygon)
            shapes.insert(db.SimplePolygon(points))
        shapes.insert(
            db.Path([db.Point(0, 0), db.Point(1000, 0), db.Point(1000, 900)], 40, 20, 30, True)
        )
        shapes.insert(db.Box(-5, -7, 11, 13))
        parser = ParseGDS(ly, layers, curve_tolerance=None)
        parser.export_cells()
        # Holes are dropped, the hull kept in KLayout's order, in micrometres.
        assert parser.instances == [hull_um(s.polygon, dbu) for s in shapes.each()]
        for s in shapes.each():
            assert parser.extract_dpolygon(s.polygon) == hull_um(s.polygon, dbu)
    # For the usual 1 nm unit this is the division by 1000, bit for bit.
    ly = db.Layout()
    top = ly.create_cell("top")
    top.shapes(ly.layer(*WG)).insert(db.Box(1, 3, 123457, 7))
    parser = ParseGDS(ly, layers, curve_tolerance=None)
    parser.export_cells()
    assert parser.instances == [
        [
            (1 / 1000, 3 / 1000),
            (1 / 1000, 7 / 1000),
            (123457 / 1000, 7 / 1000),
            (123457 / 1000, 3 / 1000),
        ]
    ]


def circle(radius, points):
    return db.Polygon(
        [
            db.Point(
                round(radius * math.cos(2 * math.pi * i / points)),
                round(radius * math.sin(2 * math.pi * i / points)),
            )
            for i in range(points)
        ]
    )


def test_simplification_uses_the_given_tolerance(layers):
    ly = db.Layout()
    top = ly.create_cell("top")
    child = ly.create_cell("child")
    child.shapes(ly.layer(*WG)).insert(circle(5000, 256))  # radius 5 um
    for i in range(4):
        top.insert(db.CellInstArray(child.cell_index(), db.Trans(i, False, 0, 0)))
    results = {}
    for tolerance in (None, 0.01, 0.05):
        parser = ParseGDS(ly, layers, curve_tolerance=tolerance)
        parser.export_cells()
        assert len(parser.instances) == 1  # once per distinct shape, however often placed
        (polygon,) = parser.instances
        assert polygon[0] != polygon[-1]  # never closed
        results[tolerance] = polygon
    assert len(results[None]) == 256
    assert len(results[0.05]) < len(results[0.01]) < 256
    # The chord error of a polygon on a circle of radius r with n sides is r(1 - cos(pi/n)).
    for tolerance in (0.01, 0.05):
        n = len(results[tolerance])
        assert 5 * (1 - math.cos(math.pi / n)) <= 2 * tolerance
        assert set(results[tolerance]) <= set(results[None])


def test_simplification_failures(layers):
    parser = ParseGDS(db.Layout(), layers)
    two_points = db.Polygon([db.Point(0, 0), db.Point(10, 0)], True)  # raw: kept as given
    with pytest.raises(ValueError):  # no ring can be built from it
        parser.extract_dpolygon(two_points)
    with pytest.raises(IndexError):  # an empty polygon simplifies to an empty ring
        parser.extract_dpolygon(db.Polygon())
    unsimplified = ParseGDS(db.Layout(), layers, curve_tolerance=None)
    assert unsimplified.extract_dpolygon(two_points) == [(0.0, 0.0), (0.01, 0.0)]
    assert unsimplified.extract_dpolygon(db.Polygon()) == []


def test_placements_are_ktrans_of_klayout_placements(layers):
    ly = demo_layout()
    refs = ParseGDS(ly, layers).export_cells(combine=False).cells[0].references
    insts = list(ly.cell("top").each_inst())
    for ref, inst in zip(refs, insts):
        assert all(isinstance(k, KTrans) for k in ref.trans)
        assert [k.trans for k in ref.trans] == list(inst.cell_inst.each_trans())


def test_parse_cells_of_one_cell(layers):
    ly = demo_layout()
    parser = ParseGDS(ly, layers, curve_tolerance=None)
    child = parser.parse_cells(ly.cell("child"))
    assert type(child) is Cell and child.name == "child" and child.polygons == {"0": [0, 1]}
    assert len(parser.instances) == 2


def test_garbage_collector_state_is_restored(layers):
    import gc

    ly = demo_layout()
    parser = ParseGDS(ly, layers)
    assert gc.isenabled()
    parser.export_layers()
    parser.to_viewer(Output.LAYER)
    assert gc.isenabled()
    gc.disable()
    try:
        parser.export_cells()
        assert not gc.isenabled()
    finally:
        gc.enable()
    # Also after a failure.
    parser.parsed_cells = None
    with pytest.raises(AssertionError):
        parser.to_viewer(Output.CELL)
    assert gc.isenabled()


def test_layer_properties_without_a_name_raise_attribute_error():
    from types import SimpleNamespace

    layout = db.Layout()
    layout.layer(1, 0)
    layout.create_cell("T")
    parser = ParseGDS(layout, {(1, 0): SimpleNamespace(thickness=1.0, zmin=0.0, color="#fff")})
    with pytest.raises(AttributeError):
        parser.get_name((1, 0))
