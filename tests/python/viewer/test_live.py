"""The page's programming interface that a live viewer drives: tarnwick.show replaces the scene and
keeps or fits the camera, tarnwick.note adds to the event list, and <body> reports each scene."""

from __future__ import annotations

import json

from . import scenes
from .conftest import inspect


def block(width: float, name: str = "top") -> str:
    top = f"/Cells/{name}"
    part = scenes.leaf("WG (1, 0)", top, [0], 0.22, 0.0, "#ff6e6e")
    return scenes.cells([part], [scenes.rectangle(0, 0, width, 50)], top=name)


def same(a, b) -> bool:
    return all(abs(x - y) < 1e-6 * max(1, abs(x)) for x, y in zip(a, b))


def show_content(page, content: str, keep=None):
    options = "{}" if keep is None else json.dumps({"keepCamera": keep})
    return page.evaluate(f"tarnwick.show({json.dumps(content)}, {options})")


def test_show_keeps_or_fits_the_camera(page, show):
    show(block(100))
    fitted = inspect(page)["camera"]
    page.drag((700, 400), (760, 420))
    moved = inspect(page)["camera"]
    assert moved["position"] != fitted["position"]
    # 'auto' (the default): about the same extent keeps the camera ...
    assert show_content(page, block(105, "edited")) == "Cells"
    assert same(inspect(page)["camera"]["position"], moved["position"])
    assert page.body_data()["twScene"] == "Cells"
    # ... a very different one is fitted.
    show_content(page, block(400))
    refit = inspect(page)["camera"]
    assert not same(refit["position"], moved["position"])
    # true keeps the camera whatever the extent; false always fits.
    page.drag((700, 400), (640, 380))
    kept = inspect(page)["camera"]
    show_content(page, block(100), keep=True)
    assert same(inspect(page)["camera"]["position"], kept["position"])
    show_content(page, block(100), keep=False)
    assert same(inspect(page)["camera"]["position"], fitted["position"])


def test_a_newer_scene_replaces_one_still_loading_and_errors_reject(page, show):
    show(block(100))
    results = page.evaluate(
        f"""Promise.all([tarnwick.show({json.dumps(block(10, "first"))}),
                         tarnwick.show({json.dumps(block(20, "second"))})])"""
    )
    assert results == [None, "Cells"]
    assert page.evaluate("tarnwick.viewer.scene.tree.names[1]") == "second"
    error = page.evaluate(
        'tarnwick.show(\'{"type": "data", "data": 5}\').then(() => \'drawn\', e => e.message)'
    )
    assert "no scene data" in error
    assert page.body_data()["twState"] == "error"
    assert show_content(page, block(100)) == "Cells"
    assert page.body_data()["twState"] == "ready"
    # A parsed message is accepted as well as its text.
    assert page.evaluate(f"tarnwick.show({block(30)})") == "Cells"


def test_notes_list_the_newest_first_and_keep_the_last_fifty(page, show):
    show(block(100))
    assert page.evaluate("document.getElementById('tw-events').hidden")
    for i in range(60):
        page.evaluate(f"tarnwick.note('saved cell {i}')")
    entries = page.evaluate(
        "[...document.querySelectorAll('#tw-events li')].map(li => li.textContent)"
    )
    assert not page.evaluate("document.getElementById('tw-events').hidden")
    assert len(entries) == 50
    assert entries[0].endswith("saved cell 59") and entries[-1].endswith("saved cell 10")
