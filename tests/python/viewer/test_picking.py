"""Picking and measuring: a click shows the shape's cell path, layer and box in micrometres; the
readout follows the cursor; the distance tool measures between two picked points."""

from __future__ import annotations

import re

from . import scenes
from .conftest import canvas_box, screen


def scene(page, show):
    """top: a 100 x 60 um WG block at the origin; child (a 20 x 10 um M1 bar) mirrored, turned by
    90 degrees and placed at (200, 100), so that it covers x 200..210, y 100..120."""
    top = "/Cells/top"
    parts = [
        scenes.leaf("WG (1, 0)", top, [0], 0.22, 0.0, "#ff6e6e"),
        scenes.node(
            "child",
            top,
            [
                scenes.leaf(
                    "M1 (41, 0)",
                    f"{top}/child",
                    [1],
                    0.6,
                    1.9,
                    "#5a8cff",
                    scenes.rotation(90, mirror=True, tx=200, ty=100),
                ),
            ],
        ),
    ]
    show(scenes.cells(parts, [scenes.rectangle(0, 0, 100, 60), scenes.rectangle(0, 0, 20, 10)]))
    page.key("t")
    page.next_frame()


def info(page) -> dict:
    return page.evaluate(
        "Object.fromEntries([...document.querySelectorAll('#tw-info dd')].map(d => [d.dataset.key, d.textContent]))"
    )


def numbers(text: str) -> list[float]:
    return [float(v) for v in re.findall(r"-?\d+\.\d+", text)]


def test_click_shows_cell_path_layer_and_box(page, show):
    scene(page, show)
    page.click(*screen(page, (205, 110, 2.5)))
    shown = info(page)
    assert shown["cell"] == "top / child"
    assert shown["layer"] == "M1 (41, 0)"
    assert shown["part"] == "/Cells/top/child/M1 (41, 0)"
    assert numbers(shown["x (µm)"]) == [200, 210]
    assert numbers(shown["y (µm)"]) == [100, 120]
    assert numbers(shown["z (µm)"]) == [1.9, 2.5]
    selected = page.evaluate("document.querySelector('.tw-row.tw-selected .tw-name').title")
    assert selected == "/Cells/top/child/M1 (41, 0)"
    page.click(*screen(page, (50, 30, 0.22)))
    assert info(page)["layer"] == "WG (1, 0)" and info(page)["cell"] == "top"
    # A click on nothing clears the pick; so does Escape.
    page.click(*screen(page, (150, 30, 0)))
    assert page.evaluate("document.getElementById('tw-info').hidden")
    page.click(*screen(page, (50, 30, 0.22)))
    page.key("Escape")
    assert page.evaluate("document.getElementById('tw-info').hidden")


def test_coordinate_readout_follows_the_cursor(page, show):
    scene(page, show)
    page.mouse("mouseMoved", *screen(page, (205, 110, 2.5)))
    page.next_frame()
    text = page.evaluate("document.getElementById('tw-coords').textContent")
    x, y, z = numbers(text)
    assert abs(x - 205) < 1 and abs(y - 110) < 1 and z == 2.5, text
    page.mouse("mouseMoved", *screen(page, (150, 80, 0)))
    page.next_frame()
    text = page.evaluate("document.getElementById('tw-coords').textContent")
    assert "z" not in text, "off the shapes the readout is on the plane z = 0"
    x, y = numbers(text)
    assert abs(x - 150) < 1 and abs(y - 80) < 1, text


def test_distance_tool_measures_between_two_points(page, show):
    scene(page, show)
    page.key("m")
    assert page.evaluate("tarnwick.inspect().measuring") is True
    page.click(*screen(page, (10, 10, 0.22)))
    assert "second point" in page.evaluate("document.getElementById('tw-measure').textContent")
    page.click(*screen(page, (40, 50, 0.22)))
    distance = float(page.evaluate("document.getElementById('tw-measure').dataset.distance"))
    assert abs(distance - 50) < 0.5, distance
    a, b = page.evaluate("tarnwick.inspect().measure")
    assert abs(a[2] - 0.22) < 1e-6 and abs(b[2] - 0.22) < 1e-6, "points are picked on the surface"
    # While measuring, clicks do not pick; a third click starts a new measurement.
    assert page.evaluate("document.getElementById('tw-info').hidden")
    page.click(*screen(page, (205, 110, 2.5)))
    assert len(page.evaluate("tarnwick.inspect().measure")) == 1
    page.key("Escape")
    assert page.evaluate("tarnwick.inspect().measuring") is False
    assert page.evaluate("document.getElementById('tw-measure').hidden")
    box = canvas_box(page)
    assert box["width"] > 0
