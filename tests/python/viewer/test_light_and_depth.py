"""Light and depth: a layout looks the same wherever it sits, top faces show their layer's exact
colour, coincident faces do not fight, and the near and far planes follow the camera."""

from __future__ import annotations

import numpy as np

from . import scenes
from .conftest import close_to, colors, inspect, screen, snapshot

WG = (0xFF, 0x6E, 0x6E)
ETCH = (0xB0, 0x5A, 0x5A)


def block(dx=0.0, dy=0.0):
    """A 40 x 40 um block, 5 um high, with a 10 um wide slot cut out of one side, at (dx, dy)."""
    outline = [0, 0, 40, 0, 40, 40, 25, 40, 25, 20, 15, 20, 15, 40, 0, 40]
    polygon = [v + (dx if i % 2 == 0 else dy) for i, v in enumerate(outline)]
    return scenes.cells(
        [scenes.leaf("WG (1, 0)", "/Cells/top", [0], 5.0, 0.0, "#ff6e6e")], [polygon]
    )


def test_lighting_does_not_depend_on_where_the_layout_sits(page, show):
    show(block())
    here = snapshot(page)
    show(block(50_000, 50_000))
    there = snapshot(page)
    differing = np.abs(here - there).max(axis=2) > 3
    assert differing.mean() < 0.002, f"{differing.mean():.2%} of the pixels differ"
    # The walls are shaded, and differently by direction, but never black.
    shades = {tuple(c) for c in here.reshape(-1, 3) if tuple(c) != (244, 245, 247)}
    assert len(shades) > 3


def test_top_faces_show_the_layer_colour_exactly(page, show):
    show(block())
    page.key("t")
    page.next_frame()
    assert close_to(colors(page, [screen(page, (5, 5, 5))])[0], WG, 1)
    # Seen from the iso direction the top keeps its colour; walls are darker.
    page.key("i")
    page.next_frame()
    top, wall = colors(page, [screen(page, (5, 5, 5)), screen(page, (20, 0.01, 2.5))])
    assert close_to(top, WG, 1)
    assert sum(wall) < sum(WG) - 30, wall


def test_coincident_faces_do_not_fight(page, show):
    """A shallow etch whose top lies exactly on the waveguide's top: grating teeth."""
    top = "/Cells/grating"
    teeth = [scenes.rectangle(4 + 4 * i, 2, 6 + 4 * i, 38) for i in range(8)]
    parts = [
        scenes.leaf("WG (1, 0)", top, [0], 0.22, 0.0, "#ff6e6e"),
        scenes.leaf("SHALLOW (3, 0)", top, list(range(1, 9)), 0.13, 0.09, "#b05a5a"),
    ]
    show(scenes.cells(parts, [scenes.rectangle(0, 0, 40, 40), *teeth], top="grating"))
    for key in ("t", "i", "s"):
        page.key(key)
        if key == "s":  # a little above the side, so that the tops are seen
            page.evaluate(
                "(() => { const c = tarnwick.viewer.camera; c.camera.position.z += "
                "c.camera.position.distanceTo(c.controls.target) * 0.3; c.controls.update(); })()"
            )
        page.next_frame()
        on_teeth = [screen(page, (5 + 4 * i, y, 0.22)) for i in range(8) for y in (8, 20, 32)]
        between = [screen(page, (7 + 4 * i, y, 0.22)) for i in range(7) for y in (8, 20, 32)]
        seen = colors(page, on_teeth + between)
        assert all(close_to(c, ETCH, 3) for c in seen[: len(on_teeth)]), (
            key,
            seen[: len(on_teeth)],
        )
        assert all(close_to(c, WG, 3) for c in seen[len(on_teeth) :]), (key, seen[len(on_teeth) :])


def test_near_and_far_planes_follow_the_camera(page, show):
    """In perspective, close above a ring on a large die: the ring is drawn whole, not sliced."""
    top = "/Cells/chip"
    parts = [
        scenes.leaf("WG (1, 0)", top, [0], 0.22, 0.0, "#ff6e6e"),
        scenes.leaf("M1 (41, 0)", top, [1], 0.6, 1.9, "#5a8cff"),
    ]
    ring = scenes.circle(1000, 1000, 5, 64)
    show(
        scenes.cells(
            parts, [ring, scenes.rectangle(0, 0, 2000, 2000)], {"ortho": False}, top="chip"
        )
    )
    assert inspect(page)["ortho"] is False
    fit_near = inspect(page)["camera"]["near"]
    # Hide the die's metal, then look at the ring from 3 um above its top.
    page.evaluate("tarnwick.viewer.tree.showOnly(tarnwick.viewer.index.leafNode[0])")
    page.evaluate(
        """(() => { const v = tarnwick.viewer; const [cx, cy] = v.scene.instances.center;
        v.camera.camera.position.set(1000 - cx, 998 - cy, 3.22);
        v.camera.controls.target.set(1000 - cx, 1000 - cy, 0.22); v.camera.controls.update(); })()"""
    )
    page.next_frame()
    camera = inspect(page)["camera"]
    assert camera["near"] < 3, f"near plane at {camera['near']} um, fit had {fit_near}"
    assert camera["far"] < 1e5
    centre = colors(page, [screen(page, (1000, 1000, 0.22))])[0]
    assert close_to(centre, WG, 2), centre
