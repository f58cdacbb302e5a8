"""Navigation: the wheel zooms towards the cursor, presets look from the top, the side and at an
angle with the layout upright, Fit fills the view, dragging orbits."""

from __future__ import annotations

import math

from . import scenes
from .conftest import canvas_box, inspect, layout_at, screen


def strip(page, show):
    """A 1000 x 100 um strip with a 50 um square on it at (100, 20)."""
    top = "/Cells/strip"
    parts = [
        scenes.leaf("WG (1, 0)", top, [0], 0.5, 0.0, "#ff6e6e"),
        scenes.leaf("M1 (41, 0)", top, [1], 1.0, 1.0, "#5a8cff"),
    ]
    show(
        scenes.cells(
            parts,
            [scenes.rectangle(0, 0, 1000, 100), scenes.rectangle(100, 20, 150, 70)],
            top="strip",
        )
    )


def test_wheel_zooms_towards_the_point_under_the_cursor(page, show):
    strip(page, show)
    page.key("t")
    page.next_frame()
    box = canvas_box(page)
    cursor = (box["left"] + 0.2 * box["width"], box["top"] + 0.45 * box["height"])
    under = layout_at(page, *cursor)
    before = inspect(page)["camera"]["pixel"]
    for _ in range(3):
        page.wheel(*cursor, -240)
    page.next_frame()
    after = inspect(page)["camera"]["pixel"]
    assert after < 0.85 * before, f"the view did not zoom in: {before} -> {after} um per pixel"
    x, y = screen(page, under)
    assert math.hypot(x - cursor[0], y - cursor[1]) < 3, (cursor, (x, y))


def test_presets_keep_the_layout_upright(page, show):
    strip(page, show)
    page.key("t")
    page.next_frame()
    origin = screen(page, (500, 50, 0))
    east = screen(page, (510, 50, 0))
    north = screen(page, (500, 60, 0))
    assert east[0] - origin[0] > 5 and abs(east[1] - origin[1]) < 0.5, "x runs to the right"
    assert origin[1] - north[1] > 5 and abs(north[0] - origin[0]) < 0.5, "y runs up"
    page.key("s")
    page.next_frame()
    origin = screen(page, (500, 50, 0))
    up = screen(page, (500, 50, 1))
    east = screen(page, (510, 50, 0))
    assert origin[1] - up[1] > 0 and abs(up[0] - origin[0]) < 0.5, "z runs up from the side"
    assert east[0] - origin[0] > 5 and abs(east[1] - origin[1]) < 0.5
    page.key("i")
    page.next_frame()
    origin = screen(page, (500, 50, 0))
    up = screen(page, (500, 50, 10))
    east = screen(page, (510, 50, 0))
    north = screen(page, (500, 60, 0))
    assert origin[1] - up[1] > 1 and abs(up[0] - origin[0]) < 0.5, "z stays vertical at an angle"
    for end in (east, north):
        assert math.hypot(end[0] - origin[0], end[1] - origin[1]) > 2


def test_fit_fills_the_view(page, show):
    strip(page, show)
    box = canvas_box(page)
    for key, projection in (("t", "o"), ("i", None), ("t", "o")):
        if projection and inspect(page)["ortho"] is False:
            page.key(projection)
        page.key(key)
        page.next_frame()
        if projection:
            page.key("f")
            page.next_frame()
        corners = [screen(page, (x, y, z)) for x in (0, 1000) for y in (0, 100) for z in (0, 2)]
        xs = [c[0] - box["left"] for c in corners]
        ys = [c[1] - box["top"] for c in corners]
        assert (
            min(xs) > -1
            and min(ys) > -1
            and max(xs) < box["width"] + 1
            and max(ys) < box["height"] + 1
        )
        filled = max((max(xs) - min(xs)) / box["width"], (max(ys) - min(ys)) / box["height"])
        assert filled > 0.94, f"{key}: the layout fills {filled:.0%} of the view"
    # In perspective too.
    page.key("o")
    page.key("f")
    page.next_frame()
    assert inspect(page)["ortho"] is False
    corners = [screen(page, (x, y, z)) for x in (0, 1000) for y in (0, 100) for z in (0, 2)]
    xs = [c[0] - box["left"] for c in corners]
    assert min(xs) > -1 and max(xs) < box["width"] + 1
    assert (max(xs) - min(xs)) / box["width"] > 0.9


def test_dragging_orbits_and_right_dragging_pans(page, show):
    strip(page, show)
    box = canvas_box(page)
    centre = (box["left"] + box["width"] / 2, box["top"] + box["height"] / 2)
    before = inspect(page)["camera"]
    page.drag(centre, (centre[0] + 120, centre[1]), steps=4)
    page.next_frame()
    orbited = inspect(page)["camera"]
    assert orbited["target"] == before["target"] and orbited["position"] != before["position"]
    page.drag(centre, (centre[0], centre[1] + 80), steps=4, button="right")
    page.next_frame()
    assert inspect(page)["camera"]["target"] != orbited["target"]
    assert inspect(page)["stats"]["detailed"] >= 1
