"""The viewer configuration a message carries: projection, transparency, edges, axes, grid and the
up axis are honoured."""

from __future__ import annotations

from . import scenes
from .conftest import close_to, colors, inspect, screen

WG = (0xFF, 0x6E, 0x6E)
M1 = (0x5A, 0x8C, 0xFF)


def stack(show, config):
    """A 100 x 100 um WG block at (20, 20) with a 40 x 40 um M1 square above its middle."""
    top = "/Cells/top"
    parts = [
        scenes.leaf("WG (1, 0)", top, [0], 0.22, 0.0, "#ff6e6e"),
        scenes.leaf("M1 (41, 0)", top, [1], 0.6, 1.9, "#5a8cff"),
    ]
    polygons = [scenes.rectangle(20, 20, 120, 120), scenes.rectangle(50, 50, 90, 90)]
    return show(scenes.cells(parts, polygons, config))


def test_projection_and_up_axis(page, show):
    stack(show, {"ortho": False, "up": "Y"})
    state = inspect(page)
    assert state["ortho"] is False and state["up"] == [0, 1, 0]
    stack(show, {"ortho": True})
    state = inspect(page)
    assert state["ortho"] is True and state["up"] == [0, 0, 1]


def test_transparency_only_when_the_message_asks_for_it(page, show):
    stack(show, {"ortho": True, "default_opacity": 0.5, "transparent": False})
    page.key("t")
    middle, side = colors(page, [screen(page, (70, 70, 2.5)), screen(page, (30, 30, 0.22))])
    assert close_to(middle, M1) and close_to(side, WG)
    stack(show, {"ortho": True, "default_opacity": 0.5, "transparent": True})
    assert inspect(page)["opacity"] == 0.5
    page.key("t")
    middle, side = colors(page, [screen(page, (70, 70, 2.5)), screen(page, (30, 30, 0.22))])
    # M1 over WG over the background, each half covering.
    expected_side = [round(0.5 * w + 0.5 * b) for w, b in zip(WG, (0xF4, 0xF5, 0xF7))]
    assert close_to(side, expected_side, 3), side
    expected_middle = [round(0.5 * m + 0.5 * s) for m, s in zip(M1, expected_side)]
    assert close_to(middle, expected_middle, 4), middle


def test_edges_follow_render_edges_and_the_e_key(page, show):
    stack(show, {"ortho": True, "render_edges": False})
    assert inspect(page)["edges"] is False
    assert inspect(page)["stats"]["lines"] == 0
    page.key("e")
    page.next_frame()
    assert inspect(page)["stats"]["lines"] > 0
    stack(show, {"ortho": True})
    assert inspect(page)["edges"] is True and inspect(page)["stats"]["lines"] > 0


def top_zoomed_out(page):
    page.key("t")
    page.evaluate(
        "(() => { const c = tarnwick.viewer.camera; c.camera.zoom = 0.5;"
        " c.camera.updateProjectionMatrix(); c.changed(); })()"
    )
    page.next_frame()


def test_axes_at_the_origin_or_at_the_centre_and_grids(page, show):
    origin_x_axis = (12, 0, 0)  # on the x axis from the origin, outside the block
    stack(show, {"ortho": True, "axes": True, "axes0": True})
    top_zoomed_out(page)
    red = colors(page, [screen(page, origin_x_axis)])[0]
    assert red[0] > 150 and red[1] < 100 and red[2] < 100, red
    stack(show, {"ortho": True, "axes": True, "axes0": False})
    top_zoomed_out(page)
    assert close_to(colors(page, [screen(page, origin_x_axis)])[0], (0xF4, 0xF5, 0xF7))
    stack(show, {"ortho": True, "axes": False})
    top_zoomed_out(page)
    assert close_to(colors(page, [screen(page, origin_x_axis)])[0], (0xF4, 0xF5, 0xF7))
    lines = inspect(page)["stats"]["lines"]
    stack(show, {"ortho": True, "grid": [True, False, True]})
    assert inspect(page)["grid"] == [True, False, True]
    assert inspect(page)["stats"]["lines"] > lines + 20
    page.key("g")
    page.next_frame()
    assert inspect(page)["grid"] == [False, False, False]
    assert inspect(page)["stats"]["lines"] == lines
