"""The page in headless Chromium: it draws the scene, reports its state and counts, shows errors
and recovers from them, and waits with an empty state when it has no scene."""

from __future__ import annotations

import json

from depthview import browser

from . import scenes
from .conftest import BACKGROUND, inspect

VIEW_BOX = (300, 80, browser.WIDTH, browser.HEIGHT)  # the canvas, right of the tree, below the bar


def synthetic(name="top"):
    """A by-cell scene: a top cell with its own rectangle and a child cell placed 30 x 20 times
    (rotated and mirrored in turns)."""
    matrices = []
    for i in range(30):
        for j in range(20):
            if (i + j) % 2:
                matrices += [0, -1, 1.5 * i + 1, 1, 0, 1.5 * j + 8]  # rotated by 90 degrees
            else:
                matrices += [1, 0, 1.5 * i, 0, -1, 1.5 * j + 8]  # mirrored
    top = f"/Cells/{name}"
    parts = [
        scenes.leaf("WG (1, 0)", top, [0], 2.0, 0.0, "#ff6e6e"),
        scenes.node(
            "child",
            top,
            [scenes.leaf("M1 (41, 0)", f"{top}/child", [1], 0.6, 1.9, "#5a8cff", matrices)],
        ),
    ]
    polygons = [scenes.rectangle(0, 0, 40, 6), [0, 0, 5, 0, 5, 1, 1, 1, 1, 5, 0, 5]]
    return scenes.cells(parts, polygons, top=name), len(matrices) // 6


def test_page_draws_the_scene_and_reports_it(page, show, tmp_path):
    content, placements = synthetic()
    assert show(content) == "ready"
    assert page.console() == []
    data = page.body_data()
    assert data["twScene"] == "Cells"
    assert "twErrors" not in data
    assert int(data["twPlacements"]) == placements
    assert int(data["twPolygons"]) == 1 + placements
    assert int(data["twDistinct"]) == 2
    assert int(data["twParts"]) == 2
    tree = page.evaluate("document.getElementById('tw-tree').textContent")
    for name in ("top", "child", "WG (1, 0)", "M1 (41, 0)"):
        assert name in tree
    shot = page.screenshot(tmp_path / "scene.png")
    share = browser.share_differing(shot, BACKGROUND, VIEW_BOX)
    assert share > 0.05, f"only {share:.1%} of the view differs from the background"


def test_broken_scene_is_an_error_and_the_next_good_one_clears_it(page, show, tmp_path):
    broken = '{"type": "data", "data": {"name": "x", "instances": [{"codec": "zip"}]}}'
    assert show(broken, "broken") == "error"
    assert any("codec zip" in line for line in page.console()), page.console()
    assert page.evaluate("!document.getElementById('tw-error').hidden")
    shot = page.screenshot(tmp_path / "broken.png")
    assert browser.share_differing(shot, BACKGROUND, VIEW_BOX) < 0.05
    # Opening a good scene afterwards takes the error box away.
    content, _ = synthetic()
    page.evaluate(f"tarnwick.show({json.dumps(content)})")
    assert page.body_data()["twState"] == "ready"
    assert page.evaluate("document.getElementById('tw-error').hidden")


def test_page_without_a_scene_waits_in_an_empty_state(page, tmp_path):
    from tarnwick.viewer_page import write_page

    path = write_page("", tmp_path / "empty.html")
    page.call(
        "Page.addScriptToEvaluateOnNewDocument",
        {
            "source": "document.addEventListener('tarnwick-ready', (e) =>"
            " { window.__readyWithShow = typeof e.detail.show === 'function'; })"
        },
    )
    assert page.open(path) == "empty"
    assert page.evaluate("window.__readyWithShow") is True
    assert page.evaluate("!document.getElementById('tw-empty').hidden")
    content, _ = synthetic("later")
    assert page.evaluate(f"tarnwick.show({json.dumps(content)}, {{keepCamera: false}})") == "Cells"
    data = page.body_data()
    assert data["twState"] == "ready" and data["twScene"] == "Cells"
    assert page.evaluate("document.getElementById('tw-empty').hidden")
    assert page.console() == []


def test_page_of_the_command_line_shows_the_demo_chip(page, tmp_path, capsys):
    from tarnwick.cli import main

    target = tmp_path / "demo_chip.json"
    assert main(["view", "demo_chip", "--by", "cell", "-o", str(target)]) == 0
    capsys.readouterr()
    data = json.loads(target.read_text())["data"]
    assert page.open(target.with_suffix(".html")) == "ready"
    page.wait_for("document.body.dataset.twDetail === 'complete'")
    page.next_frame()
    assert page.console() == []
    assert int(page.body_data()["twDistinct"]) == len(data["instances"])
    stats = inspect(page)["stats"]
    assert stats["triangles"] > 1000 and stats["detailed"] > 100, stats
    shot = page.screenshot(tmp_path / "demo_chip.png")
    share = browser.share_differing(shot, BACKGROUND, VIEW_BOX)
    assert share > 0.004, f"only {share:.1%} of the view differs from the background"
