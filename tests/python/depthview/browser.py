"""Headless Chromium for the viewer page tests and benchmarks, driven through the DevTools protocol
over a pipe (no network port): open pages from files, evaluate JavaScript, send mouse and key
input, capture the console and take screenshots; and a small PNG reader for looking at them."""

from __future__ import annotations

import base64
import fcntl
import json
import os
import re
import select
import shutil
import struct
import subprocess
import tempfile
import time
import zlib
from pathlib import Path
from typing import Self

WIDTH, HEIGHT = 1200, 800
FLAGS = [
    "--headless",
    "--no-sandbox",
    "--disable-gpu",
    "--disable-quic",
    "--no-first-run",
    "--disable-background-networking",
    "--disable-component-update",
    "--disable-sync",
    "--use-angle=swiftshader",
    "--enable-unsafe-swiftshader",
    f"--window-size={WIDTH},{HEIGHT}",
    "--hide-scrollbars",
]
# Chromium's own diagnostics that reach the console but are not the page's errors.
_NOISE = re.compile(
    r"GPU stall due to ReadPixels|GL Driver Message|Automatic fallback to software WebGL"
)


def chromium() -> str | None:
    for name in ("chromium", "chromium-browser", "google-chrome"):
        path = shutil.which(name)
        if path:
            return path
    return None


class BrowserError(RuntimeError):
    """The browser failed, timed out, or the page raised while evaluating."""


class Chromium:
    """One headless Chromium process; `page()` opens a tab. Use as a context manager."""

    def __init__(self, width: int = WIDTH, height: int = HEIGHT, flags: list[str] | None = None):
        path = chromium()
        if path is None:
            raise BrowserError("chromium is not installed")
        self.width, self.height = width, height
        self._profile = tempfile.mkdtemp(prefix="tw-chromium-")
        to_browser_read, self._to_browser = os.pipe()
        self._from_browser, from_browser_write = os.pipe()

        def wire_pipes():
            # Chromium reads commands on fd 3 and writes replies on fd 4. Copies above 10 first,
            # so that neither end is overwritten when the pipes themselves got fds 3 or 4.
            read_end = fcntl.fcntl(to_browser_read, fcntl.F_DUPFD, 10)
            write_end = fcntl.fcntl(from_browser_write, fcntl.F_DUPFD, 10)
            os.dup2(read_end, 3)
            os.dup2(write_end, 4)

        self._process = subprocess.Popen(
            [
                path,
                *(flags if flags is not None else FLAGS),
                f"--window-size={width},{height}",
                f"--user-data-dir={self._profile}",
                "--remote-debugging-pipe",
                "about:blank",
            ],
            pass_fds=(3, 4),
            preexec_fn=wire_pipes,  # noqa: PLW1509 (tests and benchmarks start no threads)
            stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
        )
        os.close(to_browser_read)
        os.close(from_browser_write)
        self._buffer = b""
        self._next_id = 0
        self._events: dict[str | None, list[dict]] = {}

    def __enter__(self) -> Self:
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def call(
        self,
        method: str,
        params: dict | None = None,
        session: str | None = None,
        timeout: float = 120,
    ) -> dict:
        self._next_id += 1
        ident = self._next_id
        message = {"id": ident, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        os.write(self._to_browser, json.dumps(message).encode() + b"\0")
        deadline = time.monotonic() + timeout
        while True:
            while b"\0" in self._buffer:
                raw, self._buffer = self._buffer.split(b"\0", 1)
                reply = json.loads(raw)
                if reply.get("id") == ident:
                    if "error" in reply:
                        raise BrowserError(f"{method}: {reply['error']}")
                    return reply.get("result", {})
                if "method" in reply:
                    self._events.setdefault(reply.get("sessionId"), []).append(reply)
            left = deadline - time.monotonic()
            if left <= 0:
                raise BrowserError(f"{method}: no reply within {timeout} s")
            ready, _, _ = select.select([self._from_browser], [], [], min(left, 1.0))
            if ready:
                chunk = os.read(self._from_browser, 1 << 20)
                if not chunk:
                    raise BrowserError("chromium closed the connection")
                self._buffer += chunk
            elif self._process.poll() is not None:
                raise BrowserError(f"chromium exited with {self._process.returncode}")

    def events(self, session: str) -> list[dict]:
        return self._events.setdefault(session, [])

    def page(self) -> Page:
        target = self.call("Target.createTarget", {"url": "about:blank"})["targetId"]
        session = self.call("Target.attachToTarget", {"targetId": target, "flatten": True})[
            "sessionId"
        ]
        return Page(self, target, session)

    def close(self) -> None:
        if self._process.poll() is None:
            try:
                self.call("Browser.close", timeout=10)
            except BrowserError:
                pass
            try:
                self._process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self._process.kill()
                self._process.wait()
        for fd in (self._to_browser, self._from_browser):
            try:
                os.close(fd)
            except OSError:
                pass
        shutil.rmtree(self._profile, ignore_errors=True)


class Page:
    """One tab: navigation, evaluation, input, console and screenshots."""

    def __init__(self, browser: Chromium, target: str, session: str):
        self.browser, self.target, self.session = browser, target, session
        for domain in ("Runtime", "Page", "Log"):
            self.call(f"{domain}.enable")
        self.call(
            "Emulation.setDeviceMetricsOverride",
            {
                "width": browser.width,
                "height": browser.height,
                "deviceScaleFactor": 1,
                "mobile": False,
            },
        )
        self.buttons = 0

    def call(self, method: str, params: dict | None = None, timeout: float = 120) -> dict:
        return self.browser.call(method, params, self.session, timeout)

    def evaluate(self, expression: str, timeout: float = 120):
        """The value of a JavaScript expression (promises awaited), as JSON data."""
        result = self.call(
            "Runtime.evaluate",
            {"expression": expression, "returnByValue": True, "awaitPromise": True},
            timeout,
        )
        if "exceptionDetails" in result:
            details = result["exceptionDetails"]
            text = details.get("exception", {}).get("description") or details.get("text")
            raise BrowserError(f"page raised: {text}")
        return result["result"].get("value")

    def wait_for(self, expression: str, timeout: float = 120, interval: float = 0.1):
        """Polls until the expression is truthy; returns its value."""
        deadline = time.monotonic() + timeout
        while True:
            # A page busy in one long task answers late: wait for it as long as the caller does.
            value = self.evaluate(expression, timeout=max(1.0, deadline - time.monotonic()))
            if value:
                return value
            if time.monotonic() > deadline:
                raise BrowserError(f"timed out waiting for {expression}")
            time.sleep(interval)

    def open(
        self, path: Path | str, timeout: float = 180, states=("ready", "error", "empty")
    ) -> str:
        """Loads a page file and waits until the viewer reports one of `states`; returns it."""
        url = path if isinstance(path, str) else Path(path).resolve().as_uri()
        self.call("Page.navigate", {"url": url})
        condition = " || ".join(f"document.body.dataset.twState === '{s}'" for s in states)
        self.wait_for(f"document.body && ({condition}) && document.body.dataset.twState", timeout)
        return self.evaluate("document.body.dataset.twState")

    def body_data(self) -> dict[str, str]:
        return self.evaluate("Object.assign({}, document.body.dataset)")

    def console(self) -> list[str]:
        """The page's console messages and uncaught errors so far, Chromium's own noise left out."""
        lines = []
        for event in self.browser.events(self.session):
            method, params = event["method"], event["params"]
            if method == "Runtime.consoleAPICalled":
                text = " ".join(
                    str(arg.get("value", arg.get("description", ""))) for arg in params["args"]
                )
                lines.append(f"{params['type']}: {text}")
            elif method == "Runtime.exceptionThrown":
                details = params["exceptionDetails"]
                lines.append(
                    f"exception: {details.get('exception', {}).get('description') or details['text']}"
                )
            elif method == "Log.entryAdded" and params["entry"]["level"] in ("error", "warning"):
                lines.append(f"log: {params['entry']['text']}")
        return [line for line in lines if not _NOISE.search(line)]

    # --- input ------------------------------------------------------------------------------

    def mouse(self, kind: str, x: float, y: float, button: str = "none", **extra) -> None:
        """One mouse event: kind is mousePressed, mouseReleased, mouseMoved or mouseWheel."""
        mask = {"left": 1, "right": 2, "middle": 4}
        if kind == "mousePressed":
            self.buttons |= mask.get(button, 0)
        params = {"type": kind, "x": x, "y": y, "button": button, "buttons": self.buttons, **extra}
        if kind in ("mousePressed", "mouseReleased"):
            params.setdefault("clickCount", 1)
        self.call("Input.dispatchMouseEvent", params)
        if kind == "mouseReleased":
            self.buttons &= ~mask.get(button, 0)
        self.next_frame()

    def click(self, x: float, y: float) -> None:
        self.mouse("mouseMoved", x, y)
        self.mouse("mousePressed", x, y, "left")
        self.mouse("mouseReleased", x, y, "left")

    def drag(
        self,
        start: tuple[float, float],
        end: tuple[float, float],
        steps: int = 5,
        button: str = "left",
    ) -> None:
        self.mouse("mouseMoved", *start)
        self.mouse("mousePressed", *start, button)
        for i in range(1, steps + 1):
            x = start[0] + (end[0] - start[0]) * i / steps
            y = start[1] + (end[1] - start[1]) * i / steps
            self.mouse("mouseMoved", x, y, button)
        self.mouse("mouseReleased", *end, button)

    def wheel(self, x: float, y: float, delta_y: float) -> None:
        self.mouse("mouseMoved", x, y)
        self.mouse("mouseWheel", x, y, deltaX=0, deltaY=delta_y)

    def key(self, key: str) -> None:
        """Presses and releases one key given by its KeyboardEvent.key value (one character or a
        name such as Escape)."""
        text = key if len(key) == 1 else ""
        for kind in ("keyDown", "keyUp"):
            params = {"type": kind, "key": key}
            if kind == "keyDown" and text:
                params["text"] = text
            self.call("Input.dispatchKeyEvent", params)
        self.next_frame()

    # --- output -----------------------------------------------------------------------------

    def screenshot(self, path: Path) -> Path:
        data = self.call("Page.captureScreenshot", {"format": "png"})["data"]
        path.write_bytes(base64.b64decode(data))
        return path

    def next_frame(self) -> None:
        """Waits until the viewer has nothing left to draw and its last frame is on screen (its
        `settled` promise); on a page without the viewer, for two animation frames."""
        self.evaluate(
            "window.tarnwick && tarnwick.viewer && tarnwick.viewer.settled"
            " ? tarnwick.viewer.settled()"
            " : new Promise(r => requestAnimationFrame(() => requestAnimationFrame(() => r(true))))"
        )

    def close(self) -> None:
        try:
            self.browser.call("Target.closeTarget", {"targetId": self.target}, timeout=30)
        except BrowserError:
            pass


def read_png(path: Path) -> tuple[int, int, list[bytearray]]:
    """Width, height and RGB rows of an 8-bit, non-interlaced RGB or RGBA PNG."""
    data = path.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    pos, idat, header = 8, b"", None
    while pos < len(data):
        (length,) = struct.unpack(">I", data[pos : pos + 4])
        kind = data[pos + 4 : pos + 8]
        body = data[pos + 8 : pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, color, _, _, interlace = header
    assert depth == 8 and color in (2, 6) and interlace == 0, header
    channels = 3 if color == 2 else 4
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1 : (y + 1) * (stride + 1)])
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up = previous[i]
            corner = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + left) & 255
            elif kind == 2:
                line[i] = (line[i] + up) & 255
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 255
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                pred = left if pa <= pb and pa <= pc else (up if pb <= pc else corner)
                line[i] = (line[i] + pred) & 255
        rows.append(line)
        previous = line
    rgb = [bytearray(b for i in range(0, stride, channels) for b in row[i : i + 3]) for row in rows]
    return width, height, rgb


def pixel(rows: list[bytearray], x: int, y: int) -> tuple[int, int, int]:
    row = rows[int(y)]
    return tuple(row[3 * int(x) : 3 * int(x) + 3])


def share_differing(path: Path, background: tuple[int, int, int], box, tolerance: int = 12):
    """The share of pixels in `box` (x0, y0, x1, y1) whose colour differs from `background`."""
    width, height, rows = read_png(path)
    x0, y0, x1, y1 = box
    x1, y1 = min(x1, width), min(y1, height)
    differing = total = 0
    for y in range(y0, y1, 2):
        row = rows[y]
        for x in range(x0, x1, 2):
            r, g, b = row[3 * x : 3 * x + 3]
            total += 1
            if (
                max(abs(r - background[0]), abs(g - background[1]), abs(b - background[2]))
                > tolerance
            ):
                differing += 1
    return differing / total
