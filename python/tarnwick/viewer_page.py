"""The self-contained 3D viewer page: a depthview message and the bundled viewer in one HTML file.

The viewer's JavaScript (three.js and the page code) is built from ``viewer/`` by ``npm run
build`` (``scripts/setup.sh`` does it, and so does building a wheel) into ``viewer/dist``:
``viewer.js`` and the template ``page.html``. A wheel carries both as package data.
:func:`write_page` fills the template's markers with the scene JSON and the bundle, so the page
opens from a ``file://`` URL with no network; :func:`write_message_and_page` writes the message
file and its page in one pass over the text, both or neither.
"""

from __future__ import annotations

import html
import json
import os
from importlib import resources
from pathlib import Path

from tarnwick.files import written_together

__all__ = [
    "ViewerNotBuiltError",
    "page_html",
    "viewer_dist",
    "write_message_and_page",
    "write_page",
]

_SCENE = "<!-- tarnwick:scene -->"
_SCRIPT = "<!-- tarnwick:script -->"
_TITLE = "<!-- tarnwick:title -->"
# The folder of the package that holds the bundle in an installed wheel.
_PACKAGED_BUNDLE = "viewer_bundle"
# Characters of the scene text encoded and written at a time: the text is never copied whole.
_CHUNK = 1 << 22


class ViewerNotBuiltError(FileNotFoundError):
    """The viewer bundle has not been built."""


def viewer_dist() -> Path:
    """The folder with ``viewer.js`` and ``page.html``.

    ``TARNWICK_VIEWER_DIST`` names it explicitly. Otherwise it is the bundle installed with the
    package (``tarnwick/viewer_bundle``, package data of the wheel), found through
    ``importlib.resources``; in a source checkout (editable install), ``viewer/dist`` of the
    source tree.
    """
    explicit = os.environ.get("TARNWICK_VIEWER_DIST")
    if explicit:
        return Path(explicit)
    packaged = resources.files(__package__) / _PACKAGED_BUNDLE
    if isinstance(packaged, Path) and packaged.is_dir():
        return packaged
    return Path(__file__).resolve().parents[2] / "viewer" / "dist"


def _read_bundle(dist: Path) -> tuple[str, str]:
    template, script = dist / "page.html", dist / "viewer.js"
    if not template.is_file() or not script.is_file():
        raise ViewerNotBuiltError(
            f"the viewer page is not built ({dist} lacks page.html or viewer.js): "
            "run scripts/setup.sh, or `npm ci && npm run build` in viewer/"
        )
    return template.read_text(encoding="utf-8"), script.read_text(encoding="utf-8")


def _script_safe(text: str) -> str:
    """`text` made safe inside a <script> element.

    A JSON text cannot hold "<" outside strings, and within strings "<\\/" is the same text as
    "</", so escaping "</" and "<!--" changes nothing JSON.parse sees.
    """
    return text.replace("</", "<\\/").replace("<!--", "<\\u0021--")


def _page_around(title: str, dist: Path | None, notice: str = "") -> tuple[str, str]:
    """The page before and after the scene text: the template with its title and the bundle, and
    `notice` (plain text, lines apart) for a banner when it is not empty."""
    template, script = _read_bundle(dist or viewer_dist())
    # Each marker is filled once; the scene goes in last, so that nothing in the scene text is
    # ever taken for a marker (the bundle holds no "<!--" at all: the build checks that).
    for marker in (_TITLE, _SCRIPT, _SCENE):
        if marker not in template:
            raise ViewerNotBuiltError(
                f"the viewer page template lacks {marker}: rebuild the viewer"
            )
    head, _, tail = template.partition(_TITLE)
    template = head + html.escape(title) + tail
    before_script, _, after_script = template.partition(_SCRIPT)
    template = before_script + script + after_script
    before_scene, _, after_scene = template.partition(_SCENE)
    if notice:
        # Its own data element after the scene's, read by the page's notice banner.
        end = after_scene.index("</script>") + len("</script>")
        element = (
            '\n<script id="tarnwick-notice" type="application/json">'
            + _script_safe(json.dumps(notice))
            + "</script>"
        )
        after_scene = after_scene[:end] + element + after_scene[end:]
    return before_scene, after_scene


def page_html(
    content: str, title: str = "tarnwick 3D view", dist: Path | None = None, notice: str = ""
) -> str:
    """The HTML page that shows the depthview message `content` (its JSON text), with `notice`
    (plain text, lines apart) in a banner when it is not empty."""
    before, after = _page_around(title, dist, notice)
    return "".join([before, _script_safe(content), after])


def _pieces(content: str):
    """`content` in slices of about `_CHUNK` characters, none ending inside "</" or "<!--", so
    that each slice can be made script-safe on its own."""
    start, length = 0, len(content)
    while start < length:
        end = min(start + _CHUNK, length)
        if end < length:
            cut = content.rfind("<", end - 3, end)
            if cut > start:
                end = cut
        yield content[start:end]
        start = end


def _write_scene(content: str, message, page) -> None:
    """Writes `content` UTF-8 encoded to `message` (if any) and script-safe to `page`."""
    for piece in _pieces(content):
        data = piece.encode("utf-8")
        if message is not None:
            message.write(data)
        if b"<" in data:
            data = data.replace(b"</", b"<\\/").replace(b"<!--", b"<\\u0021--")
        page.write(data)


def write_page(
    content: str,
    path: str | Path,
    title: str = "tarnwick 3D view",
    dist: Path | None = None,
    notice: str = "",
) -> Path:
    """Write the page for `content` to `path` (UTF-8) and return the path: complete, or no file
    at all. `notice`, when not empty, shows in a banner over the view (the layers the scene does
    not draw)."""
    path = Path(path)
    before, after = _page_around(title, dist, notice)
    with written_together(path) as (page,):
        page.write(before.encode("utf-8"))
        _write_scene(content, None, page)
        page.write(after.encode("utf-8"))
    return path


def write_message_and_page(
    content: str,
    message_path: str | Path,
    page_path: str | Path,
    title: str = "tarnwick 3D view",
    dist: Path | None = None,
    notice: str = "",
) -> tuple[Path, Path]:
    """Write the message `content` (its JSON text, as the file holds it) to `message_path` and
    its page to `page_path`, in one pass over the text with no second copy of it: both files
    appear, or neither (an error, a full disk or Ctrl-C while writing leaves every target as it
    was). Raises `ViewerNotBuiltError` before writing anything when the bundle is missing.
    `notice` as for `write_page`."""
    before, after = _page_around(title, dist, notice)
    with written_together(message_path, page_path) as (message, page):
        page.write(before.encode("utf-8"))
        _write_scene(content, message, page)
        page.write(after.encode("utf-8"))
    return Path(message_path), Path(page_path)
