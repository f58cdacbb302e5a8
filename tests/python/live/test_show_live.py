"""tarnwick.show(..., live=True) sends the scene to the running live viewer, and says so clearly
when none runs."""

from __future__ import annotations

import pytest
from tarnwick.core.pdk import get_pdk

import tarnwick

from .conftest import page_frames


def test_show_live_sends_to_the_running_viewer_and_fails_clearly_without_one(
    host_sandbox, servers, tmp_path
):
    ring = get_pdk().get_component("ring")
    with pytest.raises(RuntimeError, match="start `tarnwick serve` first"):
        tarnwick.show(ring, live=True)
    server = servers(host_sandbox / "build")
    shown = []
    (frame,) = page_frames(server.info, lambda: shown.append(tarnwick.show(ring, live=True)), 1)
    assert frame["type"] == "DepthviewMessage" and '"Layers"' in frame["message"]["content"]
    assert shown[0].url == server.info.url and shown[0].pages == 1
    assert server.info.url in shown[0]._repr_html_()
