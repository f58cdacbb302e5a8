"""End to end in headless Chromium: a page open on ``tarnwick serve`` shows each scene that
another process sends, replaces it with the next one and lists reload messages; a restarted
server wants a new token."""

from __future__ import annotations

import subprocess
import sys
import time

import pytest

from .chromium_page import ChromiumPage, chromium
from .conftest import environment

pytestmark = pytest.mark.skipif(chromium() is None, reason="chromium is not installed")

SHOW_WITHIN = 2.0  # seconds from the sender's return to the scene on the page


def send_from_another_process(build_dir, code: str) -> None:
    script = (
        "from tarnwick.core import communication, depthview\n"
        "from tarnwick.core.pdk import get_pdk\n"
        "from tarnwick.models import ReloadLayoutMessage\n" + code + "\n"
        "delivery = communication.last_delivery()\n"
        "assert delivery.delivered and delivery.pages == 1, delivery\n"
    )
    done = subprocess.run(
        [sys.executable, "-c", script],
        env=environment(build_dir),
        capture_output=True,
        text=True,
        timeout=300,
        check=False,
    )
    assert done.returncode == 0, done.stderr[-3000:]


def shown_within(page: ChromiumPage, condition: str) -> dict[str, str]:
    start = time.monotonic()
    page.wait_for(condition, timeout=30)
    elapsed = time.monotonic() - start
    assert elapsed < SHOW_WITHIN, f"shown after {elapsed:.2f} s"
    return page.body_data()


def test_depthview_scenes_from_another_process_replace_each_other_on_the_page(servers, tmp_path):
    build = tmp_path / "served"
    server = servers(build)
    with ChromiumPage(server.info.page_url) as page:
        page.wait_for(
            "document.body.dataset.twLive === 'connected' && "
            "document.body.dataset.twState === 'empty' && !document.body.dataset.twScene",
            timeout=60,
        )

        send_from_another_process(
            build, "depthview.depthview(get_pdk().get_component('ring'), depthview.Output.CELL)"
        )
        first = shown_within(page, "document.body.dataset.twScene === 'Cells'")
        assert first["twState"] == "ready" and int(first["twPolygons"]) > 0

        send_from_another_process(
            build,
            "depthview.depthview(get_pdk().get_component('demo_chip'), depthview.Output.LAYER)\n"
            "communication.send_message(ReloadLayoutMessage(cell='demo_chip'))",
        )
        second = shown_within(page, "document.body.dataset.twScene === 'Layers'")
        assert second["twState"] == "ready"
        assert int(second["twPolygons"]) > int(first["twPolygons"])
        events = page.wait_for(
            "(document.getElementById('tw-events') || {}).innerText?.includes('demo_chip')"
            " && document.getElementById('tw-events').innerText",
            timeout=10,
        )
        assert "layout of demo_chip reloaded" in events
        assert page.evaluate("document.querySelectorAll('canvas').length") == 1

        # Restarted, the server has a new token: the page of the old one is refused.
        port = server.info.url.rsplit(":", 1)[1]
        assert server.stop()[0] == 0
        page.wait_for("document.body.dataset.twLive !== 'connected'", timeout=10)
        restarted = servers(build, "--port", port)
        assert restarted.info.token != server.info.token
        # Two more connections end: at least one was tried against the restarted server.
        closed = int(page.evaluate("document.body.dataset.twLiveClosed || 0"))
        page.wait_for(f"Number(document.body.dataset.twLiveClosed) >= {closed + 2}", timeout=60)
        assert page.evaluate("document.body.dataset.twLive") != "connected"
