"""Placements at any angle, magnification and mirror: the page applies the full 2x3 matrix, and
lighting and walls stay right for mirrored and magnified placements."""

from __future__ import annotations

import math

from . import scenes
from .conftest import close_to, colors, screen

M1 = (0x5A, 0x8C, 0xFF)
BACKGROUND = (0xF4, 0xF5, 0xF7)


def test_rotated_and_magnified_cells_are_drawn_rotated_and_magnified(page, show):
    """One cell (a 20 x 2 um bar) placed rotated by 30 degrees at (100, 0), another magnified by 2
    at (0, 100)."""
    top = "/Cells/top"
    rotated = scenes.rotation(30, tx=100, ty=0)
    magnified = scenes.rotation(0, scale=2, tx=0, ty=100)
    parts = [
        scenes.node(
            "turned",
            top,
            [scenes.leaf("M1 (41, 0)", f"{top}/turned", [0], 0.6, 1.9, "#5a8cff", rotated)],
        ),
        scenes.node(
            "large",
            top,
            [scenes.leaf("M1 (41, 0)", f"{top}/large", [0], 0.6, 1.9, "#5a8cff", magnified)],
        ),
    ]
    show(scenes.cells(parts, [scenes.rectangle(0, 0, 20, 2)]))
    built = page.evaluate("tarnwick.viewer.placements('/Cells/top/turned/M1 (41, 0)')")
    assert len(built) == 1 and all(abs(a - b) < 1e-4 for a, b in zip(built[0], rotated))
    built = page.evaluate("tarnwick.viewer.placements('/Cells/top/large/M1 (41, 0)')")
    assert all(abs(a - b) < 1e-4 for a, b in zip(built[0], magnified))
    page.key("t")
    page.next_frame()
    c, s = math.cos(math.radians(30)), math.sin(math.radians(30))
    # Along the turned bar's axis (1 um into its 2 um width) and where it would be unturned.
    along = [screen(page, (100 + d * c - 1 * s, d * s + 1 * c, 2.5)) for d in (2, 10, 18)]
    unturned = [screen(page, (100 + d, 1, 2.5)) for d in (10, 18)]
    # The large bar is 40 x 4 um: its far end and its upper half are drawn.
    large = [screen(page, (x, 100 + y, 2.5)) for x, y in ((38, 1), (38, 3.5), (10, 3.5))]
    beyond = [screen(page, (42, 101, 2.5)), screen(page, (10, 104.5, 2.5))]
    seen = colors(page, along + unturned + large + beyond)
    assert all(close_to(color, M1) for color in seen[:3]), seen[:3]
    assert all(close_to(color, BACKGROUND) for color in seen[3:5]), seen[3:5]
    assert all(close_to(color, M1) for color in seen[5:8]), seen[5:8]
    assert all(close_to(color, BACKGROUND) for color in seen[8:]), seen[8:]


def test_mirrored_and_magnified_placements_keep_their_faces_and_light(page, show):
    """An L-shaped cell placed plainly at the origin, mirrored at (100, 0), and mirrored and
    magnified by 1.5 at (200, 0). Seen from the front, each shows its front wall shaded alike;
    from the top, each top shows the layer's colour."""
    top = "/Cells/top"
    placements = [
        *scenes.rotation(0, tx=0, ty=0),
        *scenes.rotation(0, tx=100, ty=30, mirror=True),
        *scenes.rotation(0, scale=1.5, tx=200, ty=45, mirror=True),
    ]
    parts = [
        scenes.node(
            "ell",
            top,
            [scenes.leaf("M1 (41, 0)", f"{top}/ell", [0], 10.0, 0.0, "#5a8cff", placements)],
        )
    ]
    show(scenes.cells(parts, [[0, 0, 60, 0, 60, 30, 20, 30, 20, 10, 0, 10]]))
    page.key("t")
    page.next_frame()
    tops = colors(
        page, [screen(page, (5, 5, 10)), screen(page, (105, 25, 10)), screen(page, (210, 37.5, 10))]
    )
    assert all(close_to(color, M1, 1) for color in tops), tops
    page.key("s")
    page.next_frame()
    # The front (south) walls: y = 0 for each copy (the mirrored ones were flipped onto y = 0).
    fronts = colors(
        page, [screen(page, (30, 0, 5)), screen(page, (130, 0, 5)), screen(page, (245, 0, 7.5))]
    )
    assert not any(close_to(color, BACKGROUND, 10) for color in fronts), fronts
    assert all(close_to(color, fronts[0], 2) for color in fronts), fronts
    assert sum(fronts[0]) < sum(M1), "walls are shaded"
