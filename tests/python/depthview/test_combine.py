"""Reference combination: siblings merged per cell, placements carried into the top cell's frame,
checked against KLayout's own flattening."""

from __future__ import annotations

from collections import Counter

import pytest
from klayout import db

from tarnwick.core.depthview import KTrans, Output, ParseGDS, Reference

from .conftest import M1, UNKNOWN, WG, canonical, flattened, pdk_layers, random_layout


def k(rot, mirror, x, y):
    return KTrans(db.Trans(rot, mirror, x, y))


def test_siblings_merge_by_cell_in_first_seen_order(layers):
    parser = ParseGDS(db.Layout(), layers)
    a1, a2, b = k(0, False, 1, 0), k(1, False, 2, 0), k(2, True, 3, 0)
    top = parser.export_cells(combine=False)
    refs = [
        Reference(7, "x", trans_count=1, trans=[a1]),
        Reference(4, "y", trans_count=1, trans=[b]),
        Reference(7, "x2", trans_count=1, trans=[a2]),
    ]
    from tarnwick.core.depthview import Cell, ParsedCells

    cell = Cell(0, "top", references=refs)
    parser.parsed_cells = ParsedCells(top.instances, top.layer_map, [cell])
    assert parser.combine_references(Output.CELL) is parser.parsed_cells
    assert parser.cell_combined
    first, second = cell.references
    assert first is refs[0] and second is refs[1]
    assert first.trans == [a1, a2] and first.trans_count == 2
    assert second.trans == [b] and second.trans_count == 1


def test_nested_placements_are_composed_parent_after_child(layers):
    # T places A twice (a1, a2); A places B as an array of three (b1, b2, b3).
    ly = db.Layout()
    t, a, b = ly.create_cell("T"), ly.create_cell("A"), ly.create_cell("B")
    b.shapes(ly.layer(*WG)).insert(db.Box(0, 0, 10, 10))
    a1, a2 = db.Trans(1, False, 100, 0), db.Trans(0, True, 0, 500)
    t.insert(db.CellInstArray(a.cell_index(), a1))
    t.insert(db.CellInstArray(a.cell_index(), a2))
    a.insert(
        db.CellInstArray(
            b.cell_index(), db.Trans(3, False, 5, 5), db.Vector(20, 0), db.Vector(0, 0), 3, 1
        )
    )
    bs = list(next(iter(a.each_inst())).cell_inst.each_trans())
    parser = ParseGDS(ly, layers)
    (top,) = parser.export_cells().cells
    (ref_a,) = top.references
    assert [x.trans for x in ref_a.trans] == [a1, a2] and ref_a.trans_count == 2
    (ref_b,) = ref_a.references
    assert ref_b.trans_count == 6
    assert [x.trans for x in ref_b.trans] == [p * c for c in bs for p in (a1, a2)]


def test_cells_without_references_are_left_alone(layers):
    ly = db.Layout()
    ly.create_cell("lonely").shapes(ly.layer(*WG)).insert(db.Box(0, 0, 1, 1))
    parser = ParseGDS(ly, layers)
    (top,) = parser.export_cells(combine=False).cells
    empty = top.references
    parser.combine_references(Output.CELL)
    assert top.references is empty


def test_combining_an_absent_result_fails_and_keeps_the_flags(layers):
    parser = ParseGDS(db.Layout(), layers)
    for output in (Output.CELL, Output.LAYER):
        with pytest.raises(AssertionError):
            parser.combine_references(output)
    assert not parser.cell_combined and not parser.layer_combined
    assert parser.combine_references("other") is None


def placed_polygons(parser, parsed_cells, spec) -> Counter:
    """Every pool polygon of layer `spec` placed by the combined references' transforms."""
    layer_id = str(parser.reverse_layer_map[spec])
    result: Counter = Counter()

    def dbu(polygon):
        return [(round(x * 1000), round(y * 1000)) for x, y in polygon]

    def walk(cell, transforms):
        for index in cell.polygons.get(layer_id, []):
            points = dbu(parser.instances[index])
            for t in transforms:
                moved = [t * db.Point(x, y) for x, y in points]
                result[canonical((p.x, p.y) for p in moved)] += 1
        for ref in cell.references:
            # Combined: every placement is already in the top cell's frame.
            walk(ref, [x.trans for x in ref.trans])

    for top in parsed_cells.cells:
        walk(top, [db.Trans()])
    return result


@pytest.mark.parametrize("seed", range(12))
def test_combined_tree_reproduces_klayout_flattening(seed):
    ly = random_layout(seed, levels=4 + seed % 2, tops=2 + seed % 2)
    assert len(ly.top_cells()) >= 2
    layers = pdk_layers()
    parser = ParseGDS(ly, layers, curve_tolerance=None)
    parsed = parser.export_cells()
    assert parser.cell_combined
    for top in parsed.cells:  # one reference per distinct cell among siblings
        stack = [top]
        while stack:
            cell = stack.pop()
            indices = [r.cell_index for r in cell.references]
            assert len(indices) == len(set(indices))
            stack.extend(cell.references)
    for spec in (WG, M1):
        assert placed_polygons(parser, parsed, spec) == flattened(ly, spec)
    assert UNKNOWN not in parser.reverse_layer_map
