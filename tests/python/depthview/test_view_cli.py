"""``tarnwick view``: runs depthview, writes the message content and the page beside it, and
reports stages and counts."""

from __future__ import annotations

import base64
import json

import brenvik
import numpy as np
import pytest
from tarnwick.cli import main

from tarnwick.core import communication


def run(capsys, *argv):
    code = main(["view", *argv])
    out, err = capsys.readouterr()
    return code, out, err


def test_default_is_demo_chip_by_layer(tmp_path, capsys):
    target = tmp_path / "scene" / "demo.json"
    code, out, err = run(capsys, "-o", str(target))
    assert code == 0, err
    (message,) = communication.messages()
    content = target.read_text(encoding="utf-8")
    assert content == message.content
    data = json.loads(content)["data"]
    assert data["name"] == "Layers"
    assert "demo_chip" in out
    page = target.with_suffix(".html")
    html = page.read_text(encoding="utf-8")
    assert data["instances"][0]["buffer"] in html
    assert html.lstrip().startswith("<!doctype html>")
    for stage in ("component", "read", "parse", "convert", "encode", "write", "total"):
        assert f"\n  {stage} " in out, stage
    polygons = len(data["instances"])
    assert f"{polygons:,} distinct" in out
    assert f"wrote {target} " in out and f"wrote {page} " in out
    # Progress: every stage is named on stderr as it starts.
    for text in ("reading the layout", "parsing", "converting", "encoding"):
        assert text in err


def placed_and_placements(data):
    placed = placements = 0

    def walk(node):
        nonlocal placed, placements
        if "shape" in node:
            record = node["shape"]["matrices"]
            count = len(base64.b64decode(record["buffer"])) // 24
            placements += count
            placed += len(node["shape"]["refs"]) * max(count, 1)
        for child in node.get("parts", []):
            walk(child)

    walk(data)
    return placed, placements


def test_counts_match_the_written_scene(tmp_path, capsys):
    target = tmp_path / "c.json"
    code, out, _ = run(capsys, "demo_chip", "--by", "cell", "-o", str(target))
    assert code == 0
    data = json.loads(target.read_text())["data"]
    assert data["name"] == "Cells"
    placed, placements = placed_and_placements(data)
    assert placements > 0
    assert f"{placed:,} placed; placements: {placements:,}" in out
    size = target.stat().st_size
    assert f"message: {size / 1024:,.1f} KiB" in out


def test_gds_file_exclusions_z_scale_and_no_simplification(tmp_path, capsys):
    gds = tmp_path / "chip.gds"
    brenvik.get_component("demo_chip").write_gds(str(gds))
    code, out, err = run(
        capsys, str(gds), "--z-scale", "3", "--curve-tolerance", "none", "--exclude", "M*", "via*"
    )
    assert code == 0, err
    assert "GDS file" in out and "excluding M* via*" in out
    written = tmp_path / "out" / "chip.json"  # the working directory is tmp_path
    data = json.loads(written.read_text())["data"]
    names = [node["name"] for node in data["parts"]]
    assert names and not any(n.startswith(("M1", "M2", "VIA")) for n in names)
    wg = next(node for node in data["parts"] if node["name"].startswith("WG"))

    def leaves(node):
        if "shape" in node:
            yield node
        for child in node.get("parts", []):
            yield from leaves(child)

    heights = [leaf["shape"]["height"] for leaf in leaves(wg)]
    thickness = brenvik.get_layer_stack().layers["core"].thickness
    assert heights and heights == pytest.approx([3 * thickness] * len(heights))
    # No simplification: the instances hold the exact hull points (one placement is enough).
    first = np.frombuffer(base64.b64decode(data["instances"][0]["buffer"]), np.float32)
    assert first.size % 2 == 0 and first.size >= 6


def test_unknown_cell_and_missing_file(tmp_path, capsys):
    code, _, err = run(capsys, "no_such_cell")
    assert code == 1 and "no cell 'no_such_cell'" in err
    code, _, err = run(capsys, str(tmp_path / "missing.gds"))
    assert code == 1 and "no such GDS file" in err
    assert communication.messages() == []


def test_bad_tolerance_is_refused(capsys):
    with pytest.raises(SystemExit):
        main(["view", "--curve-tolerance", "fine"])
    assert "not a number" in capsys.readouterr().err


def test_unbuilt_viewer_still_writes_the_json(tmp_path, capsys, monkeypatch):
    monkeypatch.setenv("TARNWICK_VIEWER_DIST", str(tmp_path / "nothing-here"))
    target = tmp_path / "only.json"
    code, _, err = run(capsys, "-o", str(target))
    assert code == 1
    assert target.is_file() and not target.with_suffix(".html").exists()
    assert "npm run build" in err


def test_cell_of_a_file_and_its_errors(tmp_path, capsys):
    from .conftest import random_layout

    path = tmp_path / "tops.gds"
    random_layout(4, tops=3).write(str(path))
    target = tmp_path / "one.json"
    code, out, _ = run(capsys, str(path), "--cell", "c4_1", "--by", "cell", "-o", str(target))
    tops = [part["name"] for part in json.loads(target.read_text())["data"]["parts"]]
    assert (code, tops) == (0, ["c4_1"]) and "cell c4_1" in out
    code, _, err = run(capsys, str(path), "--cell", "nope")
    (error,) = [line for line in err.splitlines() if line.startswith("tarnwick view:")]
    assert code == 1 and "has no cell 'nope' (top cells: c4_2, c4_1, c4_0, " in error
    code, _, err = run(capsys, "ring", "--cell", "x")
    assert code == 2 and "--cell" in err
    assert main(["watch", "ring", "--cell", "x"]) == 2  # refused before looking for a server
    from tarnwick.cli import _parser
    from tarnwick.cli.watch import _view_command

    args = _parser().parse_args(["watch", str(path), "--cell", "c4_1"])
    assert "--cell c4_1" in " ".join(_view_command(args)) and "--debug" not in _view_command(args)
    args = _parser().parse_args(["--debug", "watch", str(path)])
    assert "--debug" in _view_command(args)
