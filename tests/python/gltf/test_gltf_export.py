"""glTF export: valid files, drawn by three.js where the viewer page draws the scene, the same
bytes for the same scene."""

from __future__ import annotations

import base64
import json
import math

import numpy as np
import pytest
from tarnwick.core.pdk import get_pdk
from tarnwick.viewer_page import write_page

from tarnwick.core import depthview
from tarnwick.core.depthview import Output

from .conftest import free_angle_gds

S = 1e-6  # metres per micrometre


def decode(record) -> np.ndarray:
    return np.frombuffer(base64.b64decode(record["buffer"]), dtype=np.float32).astype(np.float64)


def parts(node):
    stack = [node]
    while stack:
        node = stack.pop()
        if "shape" in node:
            yield node
        stack.extend(node.get("parts", []))


def scene_extent(content: str) -> tuple[int, np.ndarray, np.ndarray]:
    """Triangles the scene asks for (each polygon of n points: two caps of n - 2 and n walls of
    two) and the box of everything drawn, in the file's frame (metres, y up)."""
    data = json.loads(content)["data"]
    pool = [decode(r).reshape(-1, 2) for r in data["instances"]]
    triangles, low, high = 0, np.full(3, np.inf), np.full(3, -np.inf)
    for part in parts(data):
        shape = part["shape"]
        matrices = decode(shape["matrices"]).reshape(-1, 2, 3)
        if len(matrices) == 0:
            matrices = np.array([[[1, 0, 0], [0, 1, 0]]], np.float64)
        zmin, height = part["loc"][0][2], shape["height"]
        for ref in shape["refs"]:
            points = pool[ref]
            triangles += (4 * len(points) - 4) * len(matrices)
            homogeneous = np.hstack([points, np.ones((len(points), 1))])
            for matrix in matrices:
                xy = homogeneous @ matrix.T
                for z in (zmin, zmin + height):
                    world = np.column_stack([xy[:, 0], np.full(len(xy), z), -xy[:, 1]]) * S
                    low, high = np.minimum(low, world.min(0)), np.maximum(high, world.max(0))
    return triangles, low, high


def test_demo_chip_is_valid_and_three_js_draws_the_scene(tmp_path, validate, loader_page):
    chip = get_pdk().get_component("demo_chip")
    content = depthview.scene_content(chip, Output.LAYER)
    triangles, low, high = scene_extent(content)
    files = {
        "layer.glb": {"output": Output.LAYER},
        "cell.gltf": {"output": Output.CELL},
        "plain.glb": {"output": Output.LAYER, "instancing": False},
    }
    for name, options in files.items():
        written = depthview.export_gltf(chip, tmp_path / name, **options)
        assert written["bytes"] == (tmp_path / name).stat().st_size
        assert written["triangles"] == triangles
    validate(*(tmp_path / name for name in files))
    # Instancing keeps the file about as small as its distinct polygons.
    assert (tmp_path / "layer.glb").stat().st_size < (tmp_path / "plain.glb").stat().st_size
    for name in ("layer.glb", "plain.glb"):
        loader_page.load(tmp_path / name)
        drawn = loader_page.evaluate("gltfCheck.summary()")
        assert drawn["triangles"] == triangles, name
        assert np.allclose(drawn["min"], low, rtol=0, atol=1e-10), (name, drawn["min"], low)
        assert np.allclose(drawn["max"], high, rtol=0, atol=1e-10), (name, drawn["max"], high)


def test_turned_magnified_and_mirrored_placements_land_where_the_page_draws_them(
    tmp_path, validate, loader_page
):
    gds = str(free_angle_gds(tmp_path / "angles.gds"))
    part = ["Cells", "top", "bar", "M1 (41, 0)"]
    loaded = [*part[:-1], "M1_(41,_0)"]  # three.js's loader keeps no spaces in names
    corners = [[0, 0, 0], [20, 0, 0], [0, 2, 0], [20, 2, 0.6]]
    page = loader_page.chromium.page()
    try:
        path = write_page(depthview.scene_content(gds, Output.CELL), tmp_path / "angles.html")
        assert page.open(path) == "ready"
        matrices = page.evaluate(f"tarnwick.viewer.placements({json.dumps('/' + '/'.join(part))})")
    finally:
        page.close()
    assert len(matrices) == 3
    expected = [
        [(a * x + b * y + tx, d * x + e * y + ty, 1.9 + z) for x, y, z in corners]
        for a, b, tx, d, e, ty in matrices
    ]
    # The turned copy's far corner, as the page places it.
    far = (100 + 20 * math.cos(math.radians(30)), 20 * math.sin(math.radians(30)))
    assert any(math.dist(copy[1][:2], far) < 1e-4 for copy in expected)
    for instancing in (True, False):
        target = tmp_path / f"angles-{instancing}.glb"
        depthview.export_gltf(gds, target, Output.CELL, instancing=instancing)
        validate(target)
        loader_page.load(target)
        placed = loader_page.evaluate(f"gltfCheck.placed({json.dumps(loaded)}, {corners})")
        # World (metres, y up) back to the layout's micrometres, z up.
        layout = [[(x / S, -z / S, y / S) for x, y, z in copy] for copy in placed]
        # The page keeps its placements in its own drawing order.
        assert np.allclose(sorted(layout), sorted(expected), atol=1e-4), (instancing, layout)


def test_the_same_scene_gives_the_same_bytes(tmp_path, validate):
    gds = str(free_angle_gds(tmp_path / "angles.gds"))
    first, second = tmp_path / "first.gltf", tmp_path / "second.gltf"
    depthview.export_gltf(gds, first, Output.LAYER, z_scale=3)
    depthview.export_gltf(gds, second, Output.LAYER, z_scale=3)
    assert first.read_bytes() == second.read_bytes()
    validate(first)
    asset = json.loads(first.read_text())["asset"]
    assert asset["extras"]["metres_per_micrometre"] == S and asset["extras"]["z_scale"] == 3
    with pytest.raises(ValueError, match=r"\.glb .*\.gltf"):
        depthview.export_gltf(gds, tmp_path / "chip.obj")
    assert sorted(p.name for p in tmp_path.iterdir()) == ["angles.gds", "first.gltf", "second.gltf"]


def test_view_writes_a_gltf_file_instead_of_the_message_and_page(tmp_path, validate, capsys):
    from tarnwick.cli import main

    assert main(["view", "ring", "-o", str(tmp_path / "ring.glb"), "--by", "cell"]) == 0
    assert f"wrote {tmp_path / 'ring.glb'}" in capsys.readouterr().out
    validate(tmp_path / "ring.glb")
    assert main(["view", "ring", "--format", "glb", "-o", str(tmp_path / "ring.gltf")]) == 2
    assert main(["view", "ring", "--format", "gltf", "--serve"]) == 2
    assert "--format glb writes a .glb file" in capsys.readouterr().err
    assert sorted(p.name for p in tmp_path.iterdir()) == ["ring.glb"]
