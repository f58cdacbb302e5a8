"""Headless Chromium for the viewer page tests: load a page from a file, dump its DOM, capture its
console and take a screenshot; and a small PNG reader for looking at the screenshot."""

from __future__ import annotations

import re
import shutil
import struct
import subprocess
import tempfile
import zlib
from dataclasses import dataclass
from pathlib import Path

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
    "--enable-logging=stderr",
    "--v=0",
    f"--window-size={WIDTH},{HEIGHT}",
    "--hide-scrollbars",
    "--virtual-time-budget=10000",
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


@dataclass
class PageRun:
    dom: str
    console: list[str]  # console messages and uncaught errors of the page
    screenshot: Path


def _run(page: Path, extra: list[str], timeout: float) -> subprocess.CompletedProcess:
    with tempfile.TemporaryDirectory(prefix="tw-chromium-") as profile:
        return subprocess.run(
            [chromium(), *FLAGS, f"--user-data-dir={profile}", *extra, page.resolve().as_uri()],
            capture_output=True,
            text=True,
            timeout=timeout,
            check=False,
        )


def load(page: Path, screenshot: Path, timeout: float = 120) -> PageRun:
    dumped = _run(page, ["--dump-dom"], timeout)
    shot = _run(page, [f"--screenshot={screenshot}"], timeout)
    console = []
    for line in (dumped.stderr + shot.stderr).splitlines():
        if ":CONSOLE" in line and not _NOISE.search(line):
            console.append(line)
    return PageRun(dom=dumped.stdout, console=console, screenshot=screenshot)


def body_data(dom: str) -> dict[str, str]:
    """The data-* attributes of the dumped page's <body>."""
    match = re.search(r"<body([^>]*)>", dom)
    assert match, "no <body> in the dumped DOM"
    return dict(re.findall(r'data-([a-z-]+)="([^"]*)"', match.group(1)))


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
