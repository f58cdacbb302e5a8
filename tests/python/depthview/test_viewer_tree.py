"""Viewer conversion: the scene trees by cell and by layer, their map form and JSON text."""

from __future__ import annotations

from collections import Counter

import numpy as np
import orjson
import pytest
from klayout import db

from tarnwick.core import shared
from tarnwick.core.depthview import (
    KTrans,
    Output,
    ParseGDS,
    Part,
    Parts,
    Shape,
    ViewerData,
)

from .conftest import M1, WG, canonical, demo_layout, flattened, pdk_layers, random_layout


def small_layout():
    """top with polygons on WG and M1; child (WG) placed twice."""
    ly = db.Layout()
    wg, m1 = ly.layer(*WG), ly.layer(*M1)
    top, child = ly.create_cell("top"), ly.create_cell("child")
    top.shapes(wg).insert(db.Polygon([db.Point(0, 0), db.Point(1000, 0), db.Point(1000, 1000)]))
    top.shapes(m1).insert(db.Box(0, 0, 500, 500))
    child.shapes(wg).insert(db.Box(0, 0, 100, 100))
    top.insert(db.CellInstArray(child.cell_index(), db.Trans(1, False, 2000, 0)))
    top.insert(db.CellInstArray(child.cell_index(), db.Trans(0, True, 0, 3000)))
    return ly


def ids(node):
    yield node.id
    for child in getattr(node, "parts", []):
        yield from ids(child)


def test_by_cell_tree(layers):
    parser = ParseGDS(small_layout(), layers, curve_tolerance=None)
    parser.export_cells(combine=False)
    scene = parser.to_viewer(Output.CELL)
    assert parser.cell_combined
    assert type(scene) is ViewerData and (scene.name, scene.id) == ("Cells", "/Cells")
    assert list(ids(scene)) == [
        "/Cells",
        "/Cells/top",
        "/Cells/top/WG (1, 0)",
        "/Cells/top/M1 (2, 0)",
        "/Cells/top/child",
        "/Cells/top/child/WG (1, 0)",
    ]
    (top,) = scene.parts
    wg, m1, child = top.parts
    assert type(wg) is Part and type(child) is Parts
    assert wg.shape.refs is parser.parsed_cells.cells[0].polygons["0"]  # shared, not copied
    assert wg.shape.matrices.dtype == np.float32 and wg.shape.matrices.size == 0
    assert wg.loc == ((0, 0, 0.0), (0, 0, 0, 1)) and m1.loc == ((0, 0, 1.5), (0, 0, 0, 1))
    assert (wg.color, wg.shape.height, m1.shape.height) == ("#ff0000", 0.22, 0.5)
    (child_wg,) = child.parts
    assert child_wg.shape.matrices.shape == (12,)
    assert scene.instances[0].dtype == np.float32
    assert scene.instances[0].tolist() == [0.0, 0.0, 1.0, 1.0, 1.0, 0.0]  # KLayout's hull order
    assert [a.tolist() for a in scene.instances] == [
        np.array(p, dtype=np.float32).ravel().tolist() for p in parser.instances
    ]


def test_matrices_carry_the_transforms_with_displacements_in_micrometres(layers):
    ly = small_layout()
    ly.dbu = 0.005  # another database unit: polygons and displacements scale alike
    parser = ParseGDS(ly, layers, curve_tolerance=None)
    parser.export_cells()
    scene = parser.to_viewer(Output.CELL)
    child_ref = parser.parsed_cells.cells[0].references[0]
    rows = []
    for k in child_ref.trans:
        (a, b, x), (d, e, y) = k.trans_matrix()  # in database units, as KTrans keeps them
        rows += [a, b, x / 200, d, e, y / 200]
    matrices = scene.parts[0].parts[2].parts[0].shape.matrices
    assert matrices.tolist() == np.array(rows, dtype=np.float32).tolist()
    assert matrices[2] == np.float32(2000 * 0.005)


def test_exclusion_is_case_insensitive_and_prunes_empty_cells(layers):
    parser = ParseGDS(small_layout(), layers, exclude_layers=["wg*"])
    parser.export_cells()
    scene = parser.to_viewer(Output.CELL)
    assert list(ids(scene)) == ["/Cells", "/Cells/top", "/Cells/top/M1 (2, 0)"]
    parser = ParseGDS(small_layout(), layers, exclude_layers=["W?", "m[!1]"])
    parser.export_cells()
    assert len(list(ids(parser.to_viewer(Output.CELL)))) == 6  # whole names only
    parser = ParseGDS(small_layout(), layers, exclude_layers=["[mw]* (?, 0)"])
    parser.export_cells()
    assert list(ids(parser.to_viewer(Output.CELL))) == ["/Cells"]


def test_by_layer_tree(layers):
    parser = ParseGDS(small_layout(), layers)
    parser.export_layers(combine=False)
    scene = parser.to_viewer(Output.LAYER)
    assert parser.layer_combined
    assert list(ids(scene)) == [
        "/Layers",
        "/Layers/WG (1, 0)",
        "/Layers/WG (1, 0)/top",
        "/Layers/WG (1, 0)/top/components",
        "/Layers/WG (1, 0)/top/child",
        "/Layers/WG (1, 0)/top/child/components",
        "/Layers/M1 (2, 0)",
        "/Layers/M1 (2, 0)/top",
        "/Layers/M1 (2, 0)/top/components",
    ]
    child_part = scene.parts[0].parts[0].parts[1].parts[0]
    assert child_part.name == "components" and child_part.shape.matrices.size == 12


def test_by_layer_cells_without_own_polygons_and_unknown_layer_ids(layers):
    ly = demo_layout()
    parser = ParseGDS(ly, layers)
    parsed = parser.export_layers()
    parsed.layers[0]["17"] = parsed.layers[0]["0"]  # a layer index the parser does not know
    scene = parser.to_viewer(Output.LAYER)
    assert [p.name for p in scene.parts] == ["WG (1, 0)", "M1 (2, 0)"]
    arr = scene.parts[1].parts[0].parts[1]
    assert arr.id == "/Layers/M1 (2, 0)/top/arr" and [p.name for p in arr.parts] == ["leaf"]


def test_several_top_cells_share_one_layer_node(layers):
    ly = small_layout()
    other = ly.create_cell("other")
    other.shapes(ly.layer(*WG)).insert(db.Box(0, 0, 7, 7))
    parser = ParseGDS(ly, layers)
    parser.export_layers()
    scene = parser.to_viewer(Output.LAYER)
    assert [p.id for p in scene.parts] == ["/Layers/WG (1, 0)", "/Layers/M1 (2, 0)"]
    assert [c.name for c in scene.parts[0].parts] == ["top", "other"]
    all_ids = list(ids(scene))
    assert len(all_ids) == len(set(all_ids))


def test_failures(layers):
    parser = ParseGDS(small_layout(), layers)
    with pytest.raises(AssertionError):
        parser.to_viewer(Output.CELL)
    with pytest.raises(AssertionError):
        parser.to_viewer(Output.LAYER)
    assert not parser.cell_combined
    parser.export_cells()
    with pytest.raises(ValueError, match="^Unknown output 3$"):
        parser.to_viewer(3)
    parser.parsed_cells.cells[0].polygons["42"] = [0]
    with pytest.raises(KeyError):
        parser.to_viewer(Output.CELL)


def test_asdict_key_orders_and_omissions(layers):
    parser = ParseGDS(small_layout(), layers)
    assert parser.asdict(Parts("a", "/a")) == {
        "name": "a",
        "id": "/a",
        "version": "3",
        "loc": [[0.0, 0.0, 0.0], [0.0, 0.0, 0.0, 1.0]],
    }
    part = parser.asdict(Part("p", "/p", shape=Shape([1], 0.5), color="#fff"))
    assert list(part) == [
        "name",
        "id",
        "version",
        "loc",
        "shape",
        "color",
        "renderback",
        "state",
        "type",
        "subtype",
    ]
    assert part["state"] == [1, 1] and list(part["shape"]) == ["refs", "height", "matrices"]
    assert isinstance(part["shape"]["matrices"], np.ndarray)
    assert list(parser.asdict(ViewerData("a", "/a"))) == ["name", "id", "version", "loc", "format"]
    assert parser.asdict(KTrans(db.Trans(1, False, 2, 3))) == {
        "mirror": False,
        "angle": 90,
        "displacement": [2.0, 3.0],
    }
    parser.export_cells()
    scene = parser.to_viewer(Output.CELL)
    mapped = parser.asdict(scene)
    assert list(mapped) == ["name", "id", "version", "loc", "parts", "format", "instances"]
    assert parser.asdict({"k": (1, [2, ()])}) == {"k": [1, [2, []]]}


def test_create_json_is_orjson_byte_for_byte(layers):
    parser = ParseGDS(demo_layout(), layers)
    parser.export_cells()
    scene = parser.to_viewer(Output.CELL)
    expected = orjson.dumps(
        parser.asdict(scene),
        default=shared.none,
        option=orjson.OPT_INDENT_2 | orjson.OPT_SERIALIZE_NUMPY | orjson.OPT_NON_STR_KEYS,
    )
    text = parser.create_json(scene)
    assert text.encode() == expected
    assert text.startswith('{\n  "name": "Cells"')
    odd = ViewerData("x", "/x", parts=[Parts("p", "/p", loc=({1: object()}, None))])
    assert '"1": null' in parser.create_json(odd)


def placed(scene, parser, name_to_spec) -> dict:
    """Every shape's polygons with its matrices applied, per layer, in database units."""
    result = {spec: Counter() for spec in name_to_spec.values()}

    def walk(node, spec):
        if isinstance(node, Part):
            spec = name_to_spec.get(node.name, spec)
            m = node.shape.matrices.astype(np.float64).reshape(-1, 6)
            if len(m) == 0:
                m = np.array([[1, 0, 0, 0, 1, 0]], dtype=np.float64)
            for ref in node.shape.refs:
                pts = scene.instances[ref].astype(np.float64).reshape(-1, 2)
                for a, b, x, d, e, y in m:
                    moved = (
                        np.column_stack(
                            [a * pts[:, 0] + b * pts[:, 1] + x, d * pts[:, 0] + e * pts[:, 1] + y]
                        )
                        * 1000
                    )
                    result[spec][canonical(moved.tolist())] += 1
            return
        spec = name_to_spec.get(node.name, spec)
        for child in node.parts:
            walk(child, spec)

    walk(scene, None)
    return result


@pytest.mark.parametrize("layout", ["demo", 3, 6, 10])
@pytest.mark.parametrize("output", [Output.CELL, Output.LAYER])
def test_shapes_with_matrices_reproduce_klayout_flattening(layout, output):
    ly = demo_layout() if layout == "demo" else random_layout(layout)
    layers = pdk_layers()
    parser = ParseGDS(ly, layers, curve_tolerance=None)
    if output is Output.CELL:
        parser.export_cells()
    else:
        parser.export_layers()
    scene = parser.to_viewer(output)
    names = {parser.get_name(spec): spec for spec in layers}
    got = placed(scene, parser, names)
    for spec in layers:
        assert got[spec] == flattened(ly, spec)
        assert sum(got[spec].values()) > 0 or layout != "demo"
