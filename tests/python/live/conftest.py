"""Live viewer servers run as real ``tarnwick serve`` processes, each stopped at the end of its
test; pages are plain WebSocket clients (or headless Chromium, in test_browser)."""

from __future__ import annotations

import asyncio
import http.client
import json
import os
import signal
import subprocess
import sys
import time
from dataclasses import dataclass
from pathlib import Path
from urllib.parse import urlsplit

import aiohttp
import pytest
from tarnwick.live.security import TOKEN_HEADER
from tarnwick.live.server_file import ServerInfo, read_server_file


def wait_until(condition, timeout: float, what: str, interval: float = 0.05):
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out after {timeout} s waiting for {what}")
        time.sleep(interval)


@dataclass
class Server:
    process: subprocess.Popen
    build_dir: Path
    info: ServerInfo

    @property
    def file(self) -> Path:
        return self.build_dir / "live" / "server.json"

    def stop(self, number: int = signal.SIGTERM, timeout: float = 15) -> tuple[int, str, str]:
        """Stop the server with signal `number`: its exit status, output and error output."""
        if self.process.poll() is None:
            self.process.send_signal(number)
        try:
            out, err = self.process.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            out, err = self.process.communicate()
            raise AssertionError(f"the server did not stop on signal {number}: {err}") from None
        return self.process.returncode, out, err


def environment(build_dir: Path, **extra: str) -> dict[str, str]:
    env = dict(os.environ, TARNWICK_BUILD_DIR=str(build_dir), PYTHONUNBUFFERED="1", **extra)
    env.pop("TARNWICK_SERVER_FILE", None)
    return env


def start_server(build_dir: Path, *args: str, **env: str) -> Server:
    """A running server for `build_dir` (on a free port), once its server file names it."""
    process = subprocess.Popen(
        [sys.executable, "-m", "tarnwick.cli", "serve", "--port", "0", *args],
        env=environment(build_dir, **env),
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
    )
    file = build_dir / "live" / "server.json"

    def started():
        if process.poll() is not None:
            raise AssertionError(f"the server ended: {process.communicate()[1]}")
        info = read_server_file(file) if file.exists() else None
        return info if info is not None and info.pid == process.pid else None

    try:
        info = wait_until(started, 60, "the server file")
    except BaseException:
        process.kill()
        process.communicate()
        raise
    return Server(process, build_dir, info)


@pytest.fixture
def servers():
    """Starts servers on demand (``servers(build_dir, *args, **env)``) and stops every one at the
    end."""
    started: list[Server] = []

    def start(build_dir: Path, *args: str, **env: str) -> Server:
        server = start_server(build_dir, *args, **env)
        started.append(server)
        return server

    yield start
    for server in started:
        if server.process.poll() is None:
            server.process.kill()
        server.process.communicate()


@pytest.fixture
def live_server(servers, host_sandbox) -> Server:
    """A server for the test's own build directory, where this process's channel finds it."""
    return servers(host_sandbox / "build")


def server_status(info: ServerInfo) -> dict:
    """The server's own count of open pages and messages received."""
    address = urlsplit(info.url)
    connection = http.client.HTTPConnection(address.hostname, address.port, timeout=30)
    try:
        connection.request("GET", "/api/status", headers={TOKEN_HEADER: info.token})
        response = connection.getresponse()
        assert response.status == 200
        return json.loads(response.read())
    finally:
        connection.close()


def page_frames(info: ServerInfo, action, count: int, timeout: float = 60) -> list[dict]:
    """The first `count` frames a page connected to the server receives after its greeting while
    `action` runs (in a thread, so the page stays connected meanwhile)."""

    async def collect():
        async with aiohttp.ClientSession() as session:
            url = f"{info.url}/ws?token={info.token}"
            async with session.ws_connect(url) as socket:
                hello = await socket.receive_json(timeout=10)
                assert hello["type"] == "hello"
                await asyncio.to_thread(action)
                return [await socket.receive_json(timeout=timeout) for _ in range(count)]

    return asyncio.run(collect())
