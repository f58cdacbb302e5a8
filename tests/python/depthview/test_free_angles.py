"""Cells placed at any angle or magnification land where KLayout's own flattening puts them."""

from __future__ import annotations

import base64
import json
import math
import random

import numpy as np
import pytest
from klayout import db

from tarnwick.core import communication
from tarnwick.core import depthview as dv
from tarnwick.core.depthview import KTrans, Output

from .conftest import M1, WG, pdk_layers


def decode(record) -> np.ndarray:
    return np.frombuffer(base64.b64decode(record["buffer"]), dtype=np.float32)


def leaves(node, layer=None):
    if node.get("name", "").endswith(")") and " (" in node.get("name", ""):
        layer = node["name"]
    if "shape" in node:
        yield layer, node["shape"]
    for child in node.get("parts", []):
        yield from leaves(child, layer)


def message_polygons(content: str, dbu: float) -> dict:
    """Every placed polygon of a message, by layer name: points in database units (floats)."""
    data = json.loads(content)["data"]
    pool = [decode(r).astype(np.float64).reshape(-1, 2) for r in data.get("instances", [])]
    found: dict = {}
    for layer, shape in leaves(data):
        matrices = decode(shape["matrices"]).astype(np.float64).reshape(-1, 2, 3)
        if len(matrices) == 0:
            matrices = np.array([[[1, 0, 0], [0, 1, 0]]], np.float64)
        for ref in shape["refs"]:
            points = np.hstack([pool[ref], np.ones((len(pool[ref]), 1))])
            for matrix in matrices:
                found.setdefault(layer, []).append((points @ matrix.T) / dbu)
    return found


def klayout_polygons(layout: db.Layout, layers: dict) -> dict:
    """KLayout's flattening of every top cell, by layer name, in database units."""
    found: dict = {}
    for index in layout.layer_indices():
        info = layout.get_info(index)
        spec = (info.layer, info.datatype)
        if spec not in layers:
            continue
        name = f"{layers[spec].name} {spec}"
        for top in layout.top_cells():
            it = layout.begin_shapes(top, index)
            while not it.at_end():
                if not it.shape().is_text():
                    polygon = it.shape().polygon.transformed(it.trans())
                    found.setdefault(name, []).append(
                        np.array([(p.x, p.y) for p in polygon.each_point_hull()], np.float64)
                    )
                it.next()
    return found


def same_ring(a: np.ndarray, b: np.ndarray, tolerance: float) -> bool:
    """Equal rings up to start point and orientation, every coordinate within `tolerance`."""
    if len(a) != len(b):
        return False
    for ring in (b, b[::-1]):
        for shift in range(len(ring)):
            if np.all(np.abs(np.roll(ring, shift, axis=0) - a) <= tolerance):
                return True
    return False


def assert_lands_like_klayout(content: str, layout: db.Layout, layers: dict) -> None:
    got = message_polygons(content, layout.dbu)
    expected = klayout_polygons(layout, layers)
    assert sorted(got) == sorted(expected)
    for layer, polygons in expected.items():
        assert len(got[layer]) == len(polygons), layer
        left = list(got[layer])
        for polygon in polygons:
            centre = polygon.mean(axis=0)
            left.sort(key=lambda p: float(np.abs(p.mean(axis=0) - centre).sum()))
            match = next((k for k, p in enumerate(left[:8]) if same_ring(p, polygon, 1.0)), None)
            assert match is not None, (layer, polygon.tolist(), left[0].tolist())
            left.pop(match)


def complex_layout(seed: int) -> db.Layout:
    """Three levels below a top cell, placed at free angles, magnified above and below 1,
    mirrored, in arrays with complex base placements, complex inside complex."""
    rng = random.Random(seed)
    ly = db.Layout()
    wg, m1 = ly.layer(*WG), ly.layer(*M1)
    leaf = ly.create_cell("leaf")
    leaf.shapes(wg).insert(db.Polygon([db.Point(0, 0), db.Point(800, 0), db.Point(300, 500)]))
    leaf.shapes(m1).insert(db.Box(-200, -100, 200, 700))
    leaf.shapes(wg).insert(db.Path([db.Point(0, 0), db.Point(0, 900)], 60))
    cells = [leaf]
    for level in range(3):
        cell = ly.create_cell(f"level{level}")
        cell.shapes(m1 if level % 2 else wg).insert(db.Box(0, 0, 300 + 50 * level, 100))
        for _ in range(2):
            trans = db.ICplxTrans(
                rng.choice([0.5, 1.0, 1.3, 2.0]),
                rng.choice([30.0, 45.0, 12.5, 90.0, 217.0]),
                rng.random() < 0.5,
                rng.randint(-3000, 3000),
                rng.randint(-3000, 3000),
            )
            target = rng.choice(cells)
            if rng.random() < 0.4:
                cell.insert(
                    db.CellInstArray(
                        target.cell_index(),
                        trans,
                        db.Vector(1500, 200),
                        db.Vector(-100, 1200),
                        2,
                        3,
                    )
                )
            else:
                cell.insert(db.CellInstArray(target.cell_index(), trans))
        cells.append(cell)
    top = ly.create_cell("top")
    top.insert(db.CellInstArray(cells[-1].cell_index(), db.ICplxTrans(1.5, 30.0, True, 700, -900)))
    top.insert(db.CellInstArray(leaf.cell_index(), db.Trans(1, False, 100, 100)))
    return ly


@pytest.mark.parametrize("output", [Output.CELL, Output.LAYER])
@pytest.mark.parametrize("seed", range(4))
def test_random_free_angle_layouts_land_like_klayout(output, seed):
    layout = complex_layout(seed)
    layers = pdk_layers()
    content = dv.viewer_message(layout, layers, output, curve_tolerance=None)
    assert_lands_like_klayout(content, layout, layers)


def test_a_gds_file_through_depthview(tmp_path):
    """The file of the example: one cell rotated by 30 degrees, another magnified by 2."""
    ly = db.Layout()
    top, rotated, magnified = (ly.create_cell(n) for n in ("top", "rotated", "magnified"))
    rotated.shapes(ly.layer(1, 0)).insert(db.Box(0, 0, 2000, 500))
    magnified.shapes(ly.layer(1, 0)).insert(db.Box(0, 0, 1000, 1000))
    top.insert(
        db.CellInstArray(rotated.cell_index(), db.ICplxTrans(1.0, 30.0, False, 140000, 100000))
    )
    top.insert(db.CellInstArray(magnified.cell_index(), db.ICplxTrans(2.0, 0.0, False, 160000, 0)))
    path = tmp_path / "free.gds"
    ly.write(str(path))
    communication.clear_messages()
    dv.depthview(str(path), Output.CELL, curve_tolerance=None)
    (message,) = communication.messages()
    communication.clear_messages()
    data = json.loads(message.content)["data"]
    by_cell = {c["name"]: c["parts"][0]["shape"] for c in data["parts"][0]["parts"]}
    r = decode(by_cell["rotated"]["matrices"])
    m = decode(by_cell["magnified"]["matrices"])
    c, s = math.cos(math.radians(30)), math.sin(math.radians(30))
    assert np.allclose(r, [c, -s, 140, s, c, 100], atol=1e-6)
    assert np.allclose(m, [2, 0, 160, 0, 2, 0], atol=1e-6)
    assert_lands_like_klayout(message.content, ly, pdk_layers())


def as_complex(t) -> db.DCplxTrans:
    """KLayout's floating-point complex transformation of the same values."""
    if isinstance(t, db.Trans):
        return db.DCplxTrans(1.0, 90.0 * t.angle, t.is_mirror(), t.disp.x, t.disp.y)
    return db.DCplxTrans(t.mag, t.angle, t.is_mirror(), t.disp.x, t.disp.y)


def test_complex_ktrans_forms_and_products():
    t = db.ICplxTrans(2.0, 30.0, True, 10, 20)
    k = KTrans(t)
    assert k.trans is t
    form = k.to_dict()
    assert list(form) == ["mirror", "angle", "displacement", "magnification"]
    assert form["mirror"] is True and form["displacement"] == [10.0, 20.0]
    assert form["angle"] == pytest.approx(30.0) and form["magnification"] == 2.0
    ((a, b, x), (d, e, y)) = k.trans_matrix()
    c, s = math.cos(math.radians(form["angle"])), math.sin(math.radians(form["angle"]))
    assert (a, b, x, d, e, y) == pytest.approx((2 * c, 2 * s, 10, 2 * s, -2 * c, 20))
    # Either side complex: KLayout's complex product, the simple side taken as complex.
    simple = db.Trans(1, False, 5, -7)
    for p, q in ((t, simple), (simple, t), (t, db.DCplxTrans(0.5, 12.5, False, 0.25, 3.5))):
        (product,) = KTrans.multiply(KTrans(p), KTrans(q))
        expected = as_complex(p) * as_complex(q)
        got = product.to_dict()
        assert got["angle"] == pytest.approx(expected.angle)
        assert got["magnification"] == pytest.approx(expected.mag)
        assert got["mirror"] == expected.is_mirror()
        assert got["displacement"] == pytest.approx([expected.disp.x, expected.disp.y])
    assert KTrans(db.DTrans(1, True, 0.5, 0.25)).to_dict() == {
        "mirror": True,
        "angle": 90,
        "displacement": [0.5, 0.25],
    }
    for value in ("r90", 3, None, db.Vector(1, 2)):
        with pytest.raises(TypeError):
            KTrans(value)
