"""Layer extraction: per top cell and layer, a pruned copy of the by-cell tree."""

from __future__ import annotations

from klayout import db

from tarnwick.core.depthview import Cell, Output, ParseGDS, Reference

from .conftest import M1, WG, demo_layout


def two_level(layers):
    ly = db.Layout()
    ly.layer(*WG)
    ly.layer(*M1)
    t, a = ly.create_cell("T"), ly.create_cell("A")
    t.shapes(0).insert(db.Box(0, 0, 10, 10))
    a.shapes(1).insert(db.Box(0, 0, 5, 5))
    t.insert(db.CellInstArray(a.cell_index(), db.Trans(1, False, 100, 0)))
    ly.create_cell("empty")  # a second top cell with nothing on any layer
    return ly, ParseGDS(ly, layers)


def test_pruned_trees_per_layer(layers):
    _ly, parser = two_level(layers)
    parsed = parser.export_layers(combine=False)
    assert parser.parsed_layers is parsed and not parser.layer_combined
    assert parsed.instances is parser.instances and parsed.layer_map is parser.layer_map
    (t_layers, empty_layers) = parsed.layers
    assert empty_layers == {}
    assert list(t_layers) == ["0", "1"]
    assert t_layers["0"] == Cell(0, "T", {"0": [0]}, [])
    under_1 = t_layers["1"]
    assert type(under_1) is Cell and under_1.polygons == {}
    (a,) = under_1.references
    assert type(a) is Reference and a.polygons == {"1": [1]} and a.trans_count == 1


def test_copies_share_lists_not_records(layers):
    ly = demo_layout()
    parser = ParseGDS(ly, layers)
    cells = parser.export_cells(combine=False)
    (top,) = cells.cells
    parsed = parser.export_layers(combine=False)
    copy = parsed.layers[0]["0"]
    assert copy is not top and copy.polygons["0"] is top.polygons["0"]
    assert copy.references[0] is not top.references[0]
    assert copy.references[0].trans is top.references[0].trans
    assert copy.references[0].polygons["0"] is top.references[0].polygons["0"]
    # The M1 copy keeps only the subtree with M1 content (the array), in order.
    assert [r.name for r in parsed.layers[0]["1"].references] == ["arr"]
    # Combining the layer trees leaves the by-cell tree as it was.
    before = [[k.trans for k in r.trans] for r in top.references]
    parser.combine_references(Output.LAYER)
    assert parser.layer_combined and not parser.cell_combined
    assert [[k.trans for k in r.trans] for r in top.references] == before
    assert len(top.references) == 3 and len(parsed.layers[0]["0"].references) == 1


def test_layers_are_cut_from_an_uncombined_parse(layers):
    ly = demo_layout()
    parser = ParseGDS(ly, layers)
    combined = parser.export_cells(combine=True)
    pool = list(parser.instances)
    parsed = parser.export_layers()
    assert parser.parsed_cells is not combined  # parsed again, uncombined
    assert parser.cell_combined and parser.layer_combined
    assert parser.instances == pool
    # Reference placements relative to the top cell: child placed twice, combined into one.
    child = parsed.layers[0]["0"].references[0]
    assert child.name == "child" and child.trans_count == 2
    # An uncombined by-cell parse is used as it is.
    parser2 = ParseGDS(ly, layers)
    uncombined = parser2.export_cells(combine=False)
    parser2.export_layers()
    assert parser2.parsed_cells is uncombined
