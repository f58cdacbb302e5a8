"""Fixtures of the viewer page tests: one headless Chromium for the session, a fresh tab per test,
and `show` to open a page made from a message."""

from __future__ import annotations

import json

import pytest
from depthview import browser
from tarnwick.viewer_page import write_page

BACKGROUND = (0xF4, 0xF5, 0xF7)


@pytest.fixture(scope="session")
def chromium():
    if browser.chromium() is None:
        pytest.skip("chromium is not installed")
    with browser.Chromium() as instance:
        yield instance


@pytest.fixture
def page(chromium):
    tab = chromium.page()
    yield tab
    tab.close()


@pytest.fixture
def show(page, tmp_path):
    """show(content, name) writes the page for `content`, opens it and waits until the scene is
    drawn with all its detail; returns the page's state."""

    def show(content: str, name: str = "scene", complete: bool = True) -> str:
        path = write_page(content, tmp_path / f"{name}.html", title=name)
        state = page.open(path)
        if state == "ready" and complete:
            page.wait_for("document.body.dataset.twDetail === 'complete'")
        page.next_frame()
        return state

    return show


def inspect(page) -> dict:
    return page.evaluate("tarnwick.inspect()")


def snapshot(page, step: int = 2):
    """The view drawn now, as an array of RGB rows (every `step`-th pixel)."""
    import base64

    import numpy as np

    shot = page.evaluate(f"tarnwick.viewer.snapshot({step})")
    rgb = np.frombuffer(base64.b64decode(shot["rgb"]), np.uint8)
    return rgb.reshape(shot["height"], shot["width"], 3).astype(int)


def colors(page, points) -> list[tuple[int, int, int]]:
    """The colours of the view at client points, drawn now."""
    return [tuple(c) for c in page.evaluate(f"tarnwick.viewer.colorsAt({json.dumps(points)})")]


def screen(page, point) -> tuple[float, float]:
    """The client position of a layout point (micrometres) in the last frame."""
    return tuple(page.evaluate(f"tarnwick.viewer.screenPoint({json.dumps(list(point))})"))


def close_to(color, expected, tolerance: int = 2) -> bool:
    return all(abs(a - b) <= tolerance for a, b in zip(color, expected))


def canvas_box(page) -> dict:
    """The canvas's client rectangle: left, top, width, height."""
    return page.evaluate(
        "(() => { const r = document.getElementById('tw-canvas').getBoundingClientRect();"
        " return {left: r.left, top: r.top, width: r.width, height: r.height}; })()"
    )


def layout_at(page, x: float, y: float):
    """The layout point (micrometres) under the client point (x, y): on a shape, else on z = 0."""
    return page.evaluate(
        f"""(() => {{ const v = tarnwick.viewer; const r = v.canvas.getBoundingClientRect();
        const hit = v.hitAt({x} - r.left, {y} - r.top); return hit && v.layoutPoint(hit.point); }})()"""
    )


def element_centre(page, selector: str) -> tuple[float, float]:
    box = page.evaluate(
        f"(() => {{ const e = document.querySelector({json.dumps(selector)}); if (!e) return null;"
        " e.scrollIntoView({block: 'center'}); const r = e.getBoundingClientRect();"
        " return [r.left + r.width / 2, r.top + r.height / 2]; })()"
    )
    assert box, f"no element {selector}"
    return tuple(box)


def click_element(page, selector: str) -> None:
    page.click(*element_centre(page, selector))
