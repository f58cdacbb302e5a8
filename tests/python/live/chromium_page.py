"""One page in headless Chromium, driven over the DevTools protocol through a pipe
(``--remote-debugging-pipe``: requests on descriptor 3, answers on 4, each JSON text ending in a
NUL byte), so a test can read the live page's state while it runs."""

from __future__ import annotations

import fcntl
import json
import os
import select
import shutil
import signal
import subprocess
import tempfile
import time

FLAGS = [
    "--headless",
    "--no-sandbox",
    "--disable-gpu",
    "--no-first-run",
    "--disable-background-networking",
    "--disable-component-update",
    "--disable-sync",
    "--use-angle=swiftshader",
    "--enable-unsafe-swiftshader",
    "--window-size=1000,700",
]


def chromium() -> str | None:
    for name in ("chromium", "chromium-browser", "google-chrome"):
        path = shutil.which(name)
        if path:
            return path
    return None


def _above_four(descriptor: int) -> int:
    moved = fcntl.fcntl(descriptor, fcntl.F_DUPFD, 10)
    os.close(descriptor)
    return moved


class ChromiumPage:
    """Opens `url` in a fresh headless Chromium; use as a context manager, which always ends the
    browser."""

    def __init__(self, url: str) -> None:
        self._profile = tempfile.TemporaryDirectory(prefix="tw-live-chromium-")
        to_browser, self._requests = os.pipe()
        self._answers, from_browser = os.pipe()
        # bash (whose redirections take any descriptor number) puts the pipe ends on 3 and 4,
        # where Chromium reads and writes; first they move out of the way of 3 and 4.
        to_browser, from_browser = (_above_four(fd) for fd in (to_browser, from_browser))
        script = f'exec "$0" "$@" 3<&{to_browser} 4>&{from_browser}'
        self.process = subprocess.Popen(
            [
                "bash",
                "-c",
                script,
                chromium(),
                *FLAGS,
                "--remote-debugging-pipe",
                f"--user-data-dir={self._profile.name}",
                url,
            ],
            pass_fds=(to_browser, from_browser),
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
            start_new_session=True,  # the browser's helper processes end with it
        )
        os.close(to_browser)
        os.close(from_browser)
        self._buffer = b""
        self._next_id = 0
        try:
            self._session = self._attach()
        except BaseException:
            self.close()
            raise

    def __enter__(self) -> ChromiumPage:
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def _call(
        self,
        method: str,
        params: dict | None = None,
        session: str | None = None,
        timeout: float = 30,
    ) -> dict:
        self._next_id += 1
        request = {"id": self._next_id, "method": method, "params": params or {}}
        if session:
            request["sessionId"] = session
        os.write(self._requests, json.dumps(request).encode() + b"\0")
        deadline = time.monotonic() + timeout
        while True:
            while b"\0" in self._buffer:
                text, _, self._buffer = self._buffer.partition(b"\0")
                answer = json.loads(text)
                if answer.get("id") == self._next_id:
                    if "error" in answer:
                        raise RuntimeError(f"{method}: {answer['error']}")
                    return answer["result"]
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self._answers], [], [], left)[0]:
                raise TimeoutError(f"no answer to {method} within {timeout} s")
            chunk = os.read(self._answers, 1 << 20)
            if not chunk:
                raise RuntimeError("the browser closed its DevTools pipe")
            self._buffer += chunk

    def _attach(self) -> str:
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            targets = self._call("Target.getTargets")["targetInfos"]
            pages = [t for t in targets if t["type"] == "page"]
            if pages:
                attached = self._call(
                    "Target.attachToTarget", {"targetId": pages[0]["targetId"], "flatten": True}
                )
                return attached["sessionId"]
            time.sleep(0.1)
        raise TimeoutError("Chromium opened no page")

    def evaluate(self, expression: str):
        result = self._call(
            "Runtime.evaluate",
            {"expression": expression, "returnByValue": True},
            session=self._session,
        )
        if "exceptionDetails" in result:
            raise RuntimeError(f"{expression}: {result['exceptionDetails']}")
        return result["result"].get("value")

    def body_data(self) -> dict[str, str]:
        """The data-* attributes of the page's <body> (dataset names)."""
        return self.evaluate("document.body ? {...document.body.dataset} : {}") or {}

    def wait_for(self, expression: str, timeout: float):
        """The value of `expression` once it is truthy; TimeoutError after `timeout` seconds."""
        deadline = time.monotonic() + timeout
        while True:
            try:
                value = self.evaluate(expression)
            except RuntimeError:  # the page is not there yet
                value = None
            if value:
                return value
            if time.monotonic() > deadline:
                raise TimeoutError(
                    f"{expression} still false after {timeout} s: {self.body_data()}"
                )
            time.sleep(0.05)

    def close(self) -> None:
        if self.process.poll() is None:
            try:
                os.write(self._requests, b'{"id": 0, "method": "Browser.close"}\0')
                self.process.wait(10)
            except (OSError, subprocess.TimeoutExpired):
                os.killpg(self.process.pid, signal.SIGKILL)
                self.process.wait()
        for descriptor in (self._requests, self._answers):
            try:
                os.close(descriptor)
            except OSError:
                pass
        self._profile.cleanup()
