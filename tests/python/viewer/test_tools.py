"""Loading progress, the PNG screenshot button, the light and dark background, and the keyboard
shortcuts with their help overlay."""

from __future__ import annotations

import struct
import time

from tarnwick.viewer_page import write_page

from . import scenes
from .conftest import click_element, close_to, colors, inspect, screen

DARK = (0x1D, 0x23, 0x29)
LIGHT = (0xF4, 0xF5, 0xF7)

RECORD_PROGRESS = """
window.__progress = [];
new MutationObserver((changes) => {
  for (const change of changes) {
    const box = document.getElementById('tw-progress');
    window.__progress.push([change.target.dataset.twProgress || null, box ? !box.hidden : false]);
  }
}).observe(document, {subtree: true, attributes: true, attributeFilter: ['data-tw-progress']});
"""


def grid_scene(count: int = 2000) -> str:
    """`count` distinct small polygons in one cell, placed 4 times."""
    polygons = [scenes.circle(10 * (i % 50), 10 * (i // 50), 3, 24) for i in range(count)]
    top = "/Cells/top"
    part = scenes.leaf(
        "WG (1, 0)",
        top,
        list(range(count)),
        0.22,
        0.0,
        "#ff6e6e",
        [1, 0, 0, 0, 1, 0, 1, 0, 600, 0, 1, 0, 1, 0, 0, 0, 1, 500, 1, 0, 600, 0, 1, 500],
    )
    return scenes.cells([part], polygons)


def test_loading_shows_progress_through_every_stage(page, tmp_path):
    page.call("Page.addScriptToEvaluateOnNewDocument", {"source": RECORD_PROGRESS})
    path = write_page(grid_scene(), tmp_path / "grid.html")
    assert page.open(path) == "ready"
    page.wait_for("document.body.dataset.twDetail === 'complete'")
    records = page.evaluate("window.__progress")
    stages = [stage for stage, _ in records if stage]
    for stage in (
        "reading the page",
        "reading the scene",
        "decoding polygons",
        "laying out geometry",
        "simplifying",
        "placing parts",
        "building the culling tree",
        "triangulating",
    ):
        assert stage in stages, (stage, stages)
    assert all(visible for stage, visible in records if stage), "the box shows while a stage runs"
    assert records[-1] == [None, False], "and goes away at the end"
    timings = inspect(page)["timings"]
    assert timings["decoding polygons"] >= 0 and "triangulating" in timings


def test_png_button_saves_the_view(page, show, tmp_path):
    show(grid_scene(50))
    downloads = tmp_path / "downloads"
    downloads.mkdir()
    page.browser.call(
        "Browser.setDownloadBehavior", {"behavior": "allow", "downloadPath": str(downloads)}
    )
    click_element(page, "button[data-control='screenshot']")
    deadline = time.monotonic() + 30
    while not list(downloads.glob("*.png")) and time.monotonic() < deadline:
        time.sleep(0.1)
    (saved,) = downloads.glob("*.png")
    assert saved.name == "Cells.png"
    data = saved.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    width, height = struct.unpack(">II", data[16:24])
    assert (width, height) == tuple(
        page.evaluate("[tarnwick.viewer.canvas.width, tarnwick.viewer.canvas.height]")
    )
    assert len(data) > 2000, "a drawn view, not an empty image"


def test_background_switches_between_light_and_dark(page, show):
    show(grid_scene(50))
    page.key("t")
    empty = screen(page, (545, 250, 0))  # between the four placements, well inside the view
    assert close_to(colors(page, [empty])[0], LIGHT)
    click_element(page, "button[data-control='background']")
    assert close_to(colors(page, [empty])[0], DARK)
    assert page.evaluate("document.body.classList.contains('tw-dark')")
    page.key("b")
    assert close_to(colors(page, [empty])[0], LIGHT)


def test_keyboard_shortcuts_and_their_help(page, show):
    show(grid_scene(50))
    assert page.evaluate("document.getElementById('tw-help').hidden")
    page.key("?")
    assert not page.evaluate("document.getElementById('tw-help').hidden")
    listed = page.evaluate("[...document.querySelectorAll('#tw-help kbd')].map(k => k.textContent)")
    for key in ("f", "t", "s", "i", "o", "e", "a", "g", "m", "b", "p", "/", "?", "Escape"):
        assert key in listed
    page.key("Escape")
    assert page.evaluate("document.getElementById('tw-help').hidden")
    page.key("o")
    assert inspect(page)["ortho"] is False
    page.key("a")
    assert inspect(page)["axes"] is True
    page.key("/")
    assert page.evaluate("document.activeElement.id") == "tw-search"
