"""Layouts and command runs for the technology tests."""

from __future__ import annotations

import json

import pytest
from klayout import db
from tarnwick.cli import main


def write_layout(path, layers, child_layers=(), child_copies=0) -> str:
    """A layout at `path` (GDS or OASIS by its suffix): top cell "top" with one box per
    (layer, datatype) of `layers`, and `child_copies` placements of a cell "child" holding one
    box per entry of `child_layers`."""
    layout = db.Layout()
    top = layout.create_cell("top")
    for n, (layer, datatype) in enumerate(layers):
        top.shapes(layout.layer(layer, datatype)).insert(db.Box(n * 1000, 0, n * 1000 + 500, 500))
    if child_copies:
        child = layout.create_cell("child")
        for n, (layer, datatype) in enumerate(child_layers):
            child.shapes(layout.layer(layer, datatype)).insert(db.Box(n * 100, 0, n * 100 + 50, 50))
        for copy in range(child_copies):
            top.insert(db.CellInstArray(child.cell_index(), db.Trans(0, 5000 * (copy + 1))))
    layout.write(str(path))
    return str(path)


def layer_parts(content: str) -> dict[str, dict]:
    """{layer name: {"zmin", "height", "color"}} of a message grouped by layer."""
    out = {}
    for layer in json.loads(content)["data"].get("parts", []):
        leaf = layer
        while "parts" in leaf:
            leaf = leaf["parts"][0]
        out[layer["name"]] = {
            "zmin": leaf["loc"][0][2],
            "height": leaf["shape"]["height"],
            "color": leaf["color"],
        }
    return out


@pytest.fixture
def view(tmp_path, capsys):
    """Runs `tarnwick view` into tmp_path/out; (status, stdout, stderr, message text or None)."""

    def run(*argv):
        target = tmp_path / "out" / "scene.json"
        code = main(["view", *map(str, argv), "-o", str(target)])
        out, err = capsys.readouterr()
        content = target.read_text(encoding="utf-8") if target.exists() else None
        return code, out, err, content

    return run
