"""Fixtures of the viewer page tests: one headless Chromium for the session, a fresh tab per test,
and `show` to open a page made from a message."""

from __future__ import annotations

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
