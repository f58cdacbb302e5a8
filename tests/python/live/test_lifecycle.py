"""Starting and stopping the server: a clean stop on SIGINT and SIGTERM removes the server file,
a file left by a killed server does not block the next one, a running one does."""

from __future__ import annotations

import signal
import stat
import subprocess
import sys

import pytest

from .conftest import environment, page_frames, wait_until


@pytest.mark.parametrize("number", [signal.SIGINT, signal.SIGTERM], ids=["SIGINT", "SIGTERM"])
def test_a_signal_stops_the_server_cleanly(servers, tmp_path, number):
    server = servers(tmp_path / "build")
    assert stat.S_IMODE(server.file.stat().st_mode) == 0o600
    stopped = []
    page_frames(server.info, lambda: stopped.append(server.stop(number)), 0)  # with a page open
    ((code, out, err),) = stopped
    assert code == 0, err
    assert "stopped" in out and "Traceback" not in err
    assert not server.file.exists()
    assert list(server.file.parent.iterdir()) == []  # no token file left behind


def test_a_killed_servers_file_does_not_block_the_next_one(servers, tmp_path):
    build = tmp_path / "build"
    first = servers(build)
    first.process.kill()
    first.process.communicate()
    assert first.file.exists()  # left behind

    second = servers(build)
    assert second.info.pid != first.info.pid
    assert second.info.token != first.info.token  # a token lives as long as its server
    page_frames(second.info, lambda: None, 0)
    code, _, err = second.stop()
    assert code == 0 and "replacing the server file of a server that is gone" in err


def test_a_running_server_is_not_replaced(live_server):
    port = live_server.info.url.rsplit(":", 1)[1]  # the same port, as with the default one
    done = subprocess.run(
        [sys.executable, "-m", "tarnwick.cli", "serve", "--port", port],
        env=environment(live_server.build_dir),
        capture_output=True,
        text=True,
        timeout=60,
        check=False,
    )
    assert done.returncode == 1
    assert "already running" in done.stderr and live_server.info.url in done.stderr
    assert live_server.file.exists() and live_server.process.poll() is None


def test_open_shows_the_page_with_its_token_in_the_browser(servers, tmp_path):
    opened = tmp_path / "opened.txt"
    record = "import sys, pathlib; pathlib.Path(sys.argv[1]).write_text(sys.argv[2])"
    server = servers(
        tmp_path / "build", "--open", BROWSER=f"{sys.executable} -c '{record}' {opened} %s"
    )
    url = wait_until(lambda: opened.exists() and opened.read_text(), 30, "the browser to start")
    assert url == server.info.page_url
