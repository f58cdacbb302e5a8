"""The self-contained 3D viewer page: a depthview message and the bundled viewer in one HTML file.

The viewer's JavaScript (three.js and the page code) is built from ``viewer/`` by ``npm run
build`` (``scripts/setup.sh`` does it, and so does building a wheel) into ``viewer/dist``:
``viewer.js`` and the template ``page.html``. A wheel carries both as package data. :func:`write_page` fills the template's markers with the scene JSON and the bundle,
so the page opens from a ``file://`` URL with no network.
"""

from __future__ import annotations

import html
import json
import os
from importlib import resources
from pathlib import Path

from tarnwick.files import write_text as write_whole_file

__all__ = ["ViewerNotBuiltError", "page_html", "viewer_dist", "write_page"]

_SCENE = "<!-- tarnwick:scene -->"
_SCRIPT = "<!-- tarnwick:script -->"
_TITLE = "<!-- tarnwick:title -->"
# The folder of the package that holds the bundle in an installed wheel.
_PACKAGED_BUNDLE = "viewer_bundle"


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


def page_html(
    content: str, title: str = "tarnwick 3D view", dist: Path | None = None, notice: str = ""
) -> str:
    """The HTML page that shows the depthview message `content` (its JSON text), with `notice`
    (plain text, lines apart) in a banner when it is not empty."""
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
    return "".join([before_scene, _script_safe(content), after_scene])


def write_page(
    content: str,
    path: str | Path,
    title: str = "tarnwick 3D view",
    dist: Path | None = None,
    notice: str = "",
) -> Path:
    """Write the page for `content` to `path` (UTF-8) and return the path. `notice`, when not
    empty, shows in a banner over the view (the layers the scene does not draw)."""
    path = Path(path)
    write_whole_file(path, page_html(content, title, dist, notice))  # complete, or no file at all
    return path
