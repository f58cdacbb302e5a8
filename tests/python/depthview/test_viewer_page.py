"""The offline viewer page: built from the message content, opened from a file by headless
Chromium, it renders without JavaScript errors and draws the scene."""

from __future__ import annotations

import json
import shutil
import subprocess
from pathlib import Path

import numpy as np
import pytest
from tarnwick.viewer_page import ViewerNotBuiltError, page_html, viewer_dist, write_page

from tarnwick.core.depthview import numpy_to_buffer_json

from . import browser

REPO = Path(__file__).resolve().parents[3]
BACKGROUND = (0xF4, 0xF5, 0xF7)
VIEW_BOX = (300, 60, browser.WIDTH, browser.HEIGHT)  # the canvas, right of the tree, below the bar

needs_chromium = pytest.mark.skipif(browser.chromium() is None, reason="chromium is not installed")


def part(name, parent, refs, height, zmin, color, matrices=()):
    return {
        "name": name,
        "id": f"{parent}/{name}",
        "version": "3",
        "loc": [[0, 0, zmin], [0, 0, 0, 1]],
        "shape": {"refs": refs, "height": height, "matrices": np.array(matrices, np.float32)},
        "color": color,
        "renderback": False,
        "state": [1, 1],
        "type": "polygon",
        "subtype": "solid",
    }


def synthetic_message(name="top"):
    """A by-cell scene: a top cell with its own rectangle and a child cell placed 30 x 20 times
    (rotated and mirrored in turns), encoded the way depthview encodes it."""
    instances = [
        np.array([0, 0, 40, 0, 40, 6, 0, 6], np.float32),
        np.array([0, 0, 5, 0, 5, 1, 1, 1, 1, 5, 0, 5], np.float32),
    ]
    matrices = []
    for i in range(30):
        for j in range(20):
            if (i + j) % 2:
                matrices += [0, -1, 1.5 * i + 1, 1, 0, 1.5 * j + 8]  # rotated by 90 degrees
            else:
                matrices += [1, 0, 1.5 * i, 0, -1, 1.5 * j + 8]  # mirrored
    top = f"/Cells/{name}"
    scene = {
        "name": "Cells",
        "id": "/Cells",
        "version": "3",
        "loc": [[0.0, 0.0, 0.0], [0.0, 0.0, 0.0, 1.0]],
        "parts": [
            {
                "name": name,
                "id": top,
                "version": "3",
                "loc": [[0.0, 0.0, 0.0], [0.0, 0.0, 0.0, 1.0]],
                "parts": [
                    part("WG (1, 0)", top, [0], 2.0, 0.0, "#ff6e6e"),
                    {
                        "name": "child",
                        "id": f"{top}/child",
                        "version": "3",
                        "loc": [[0.0, 0.0, 0.0], [0.0, 0.0, 0.0, 1.0]],
                        "parts": [
                            part("M1 (41, 0)", f"{top}/child", [1], 0.6, 1.9, "#5a8cff", matrices)
                        ],
                    },
                ],
            }
        ],
        "format": "GDS",
        "instances": instances,
    }
    data = {"type": "data", "data": numpy_to_buffer_json(scene), "config": {"ortho": True}}
    return json.dumps(data, separators=(",", ":")), len(matrices) // 6


def test_viewer_is_built():
    dist = viewer_dist()
    assert (dist / "viewer.js").is_file() and (dist / "page.html").is_file(), (
        "build the viewer: scripts/setup.sh, or npm ci && npm run build in viewer/"
    )


def test_missing_bundle_is_reported(tmp_path):
    with pytest.raises(ViewerNotBuiltError, match="npm"):
        page_html("{}", dist=tmp_path)


@pytest.mark.skipif(shutil.which("node") is None, reason="node is not installed")
def test_page_scene_module_unit_tests():
    if not (REPO / "viewer" / "node_modules" / "three").is_dir():
        pytest.fail("viewer/node_modules is missing: run npm ci in viewer/")
    result = subprocess.run(
        ["node", "--test", "test/"],
        cwd=REPO / "viewer",
        capture_output=True,
        text=True,
        check=False,
    )
    assert result.returncode == 0, result.stdout + result.stderr
    assert "# fail 0" in result.stdout


def test_scene_text_cannot_end_the_script_element():
    content, _ = synthetic_message(name="evil</script><script>alert(1)</script><!--")
    page = page_html(content)
    start = page.index('<script id="tarnwick-scene" type="application/json">')
    start = page.index(">", start) + 1
    end = page.index("</script>", start)
    assert json.loads(page[start:end]) == json.loads(content)
    # The bundle follows in its own script element and the page ends normally.
    assert page.rstrip().endswith("</html>")
    assert page.count("</script>") == 2


@needs_chromium
def test_page_renders_the_scene(tmp_path):
    content, placements = synthetic_message()
    page = write_page(content, tmp_path / "scene.html")
    run = browser.load(page, tmp_path / "scene.png")
    assert run.console == []
    data = browser.body_data(run.dom)
    assert data.get("tw-state") == "ready", data
    assert "tw-errors" not in data
    assert int(data["tw-placements"]) == placements
    assert int(data["tw-polygons"]) == 1 + placements
    assert int(data["tw-distinct"]) == 2
    assert int(data["tw-parts"]) == 2
    # The part tree lists the cells and layers.
    for name in ("top", "child", "WG (1, 0)", "M1 (41, 0)"):
        assert f">{name}<" in run.dom
    share = browser.share_differing(run.screenshot, BACKGROUND, VIEW_BOX)
    assert share > 0.05, f"only {share:.1%} of the view differs from the background"


@needs_chromium
def test_broken_scene_is_an_error_the_checks_see(tmp_path):
    page = write_page(
        '{"type": "data", "data": {"name": "x", "instances": [{"codec": "zip"}]}}',
        tmp_path / "broken.html",
    )
    run = browser.load(page, tmp_path / "broken.png")
    data = browser.body_data(run.dom)
    assert data.get("tw-state") == "error"
    assert any("codec" in line for line in run.console), run.console
    share = browser.share_differing(run.screenshot, BACKGROUND, VIEW_BOX)
    assert share < 0.05


@needs_chromium
def test_page_of_the_command_line_shows_demo_chip(tmp_path, capsys):
    from tarnwick.cli import main

    target = tmp_path / "demo_chip.json"
    assert main(["view", "demo_chip", "--by", "cell", "-o", str(target)]) == 0
    capsys.readouterr()
    data = json.loads(target.read_text())["data"]
    run = browser.load(target.with_suffix(".html"), tmp_path / "demo_chip.png")
    assert run.console == []
    state = browser.body_data(run.dom)
    assert state.get("tw-state") == "ready", state
    assert int(state["tw-distinct"]) == len(data["instances"])
    share = browser.share_differing(run.screenshot, BACKGROUND, VIEW_BOX)
    assert share > 0.004, f"only {share:.1%} of the view differs from the background"
