"""tarnwick.show in a notebook: the executed notebook's saved output draws the scene by itself,
and a page above the size limit is written beside the notebook instead."""

from __future__ import annotations

import json

import pytest

from tarnwick.core import depthview

nbclient = pytest.importorskip("nbclient")
nbformat = pytest.importorskip("nbformat")


def test_a_notebook_shows_the_scene_in_its_saved_output(tmp_path, chromium):
    from gltf.conftest import free_angle_gds

    gds = free_angle_gds(tmp_path / "angles.gds")
    notebook = nbformat.v4.new_notebook()
    notebook.cells = [
        nbformat.v4.new_code_cell(f"import tarnwick\ntarnwick.show({str(gds)!r}, by='cell')"),
        nbformat.v4.new_code_cell(
            "import os\nos.environ['TARNWICK_NOTEBOOK_MAX_MB'] = '0.01'\n"
            f"tarnwick.show({str(gds)!r})"
        ),
    ]
    nbclient.NotebookClient(
        notebook, timeout=300, kernel_name="python3", resources={"metadata": {"path": tmp_path}}
    ).execute()
    saved = tmp_path / "view.ipynb"
    nbformat.write(notebook, saved)
    inline, notice = (
        [o["data"]["text/html"] for o in cell.outputs if "text/html" in o.get("data", {})]
        for cell in nbformat.read(saved, as_version=4).cells
    )
    assert len(inline) == 1 and "<iframe" in inline[0]
    assert len(notice) == 1 and "<iframe" not in notice[0]
    assert (tmp_path / "angles.3d.html").is_file() and "angles.3d.html" in notice[0]

    output = tmp_path / "output.html"
    output.write_text(f"<!doctype html><html><body>{inline[0]}</body></html>", encoding="utf-8")
    page = chromium.page()
    try:
        page.call("Page.navigate", {"url": output.resolve().as_uri()})
        frame = "document.querySelector('iframe')?.contentDocument"
        state = page.wait_for(
            f"{frame}?.body && ['ready', 'error', 'empty'].includes("
            f"{frame}.body.dataset.twState) && {frame}.body.dataset.twState"
        )
        assert state == "ready"
        counts = page.evaluate("document.querySelector('iframe').contentWindow.tarnwick.inspect()")[
            "counts"
        ]
    finally:
        page.close()
    scene = json.loads(depthview.scene_content(str(gds), depthview.Output.CELL))["data"]
    leaves, stack = [], [scene]
    while stack:
        node = stack.pop()
        leaves += [node] if "shape" in node else []
        stack += node.get("parts", [])
    assert counts["parts"] == len(leaves) == 2
    assert counts["polygons"] == 4  # the top cell's own L and the bar placed three times
