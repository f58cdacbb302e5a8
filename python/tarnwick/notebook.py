"""The 3D view inside a notebook: ``tarnwick.show(component_or_path)`` draws the scene under the
cell, in Jupyter and in VS Code, offline and without a server.

The self-contained viewer page (see :mod:`tarnwick.viewer_page`) goes into the cell's output as an
``<iframe srcdoc=...>``: an HTML output that both notebook front ends render, and whose page runs
in a frame of its own. A page larger than ``TARNWICK_NOTEBOOK_MAX_MB`` megabytes (default 50) is
written beside the notebook instead, and the output says where, so that a large chip does not
bloat the notebook file. With ``live=True`` the scene goes to the running live viewer
(``tarnwick serve``) instead.
"""

from __future__ import annotations

import html
import math
import os
from pathlib import Path
from typing import Any

__all__ = ["MAX_MB_VARIABLE", "LiveView", "SceneView", "show"]

MAX_MB_VARIABLE = "TARNWICK_NOTEBOOK_MAX_MB"
_DEFAULT_MAX_MB = 50.0


def _max_bytes() -> int:
    text = os.environ.get(MAX_MB_VARIABLE, "").strip()
    if not text:
        return int(_DEFAULT_MAX_MB * 1e6)
    try:
        value = float(text)
    except ValueError:
        value = math.nan
    if not math.isfinite(value) or value < 0:
        raise ValueError(f"{MAX_MB_VARIABLE} must be a number of megabytes, not {text!r}")
    return int(value * 1e6)


def _name_of(component: Any) -> str:
    if isinstance(component, (str, os.PathLike)):
        return Path(component).stem
    return str(getattr(component, "name", None) or "scene")


def _safe_file_name(name: str) -> str:
    kept = "".join(c if c.isalnum() or c in "-_." else "_" for c in name).strip("._")
    return kept[:100] or "scene"


class SceneView:
    """A scene shown in a notebook: the page inline, or a notice naming the page written beside
    the notebook when the page is above the size limit."""

    def __init__(
        self, name: str, page: str, height: int, page_path: Path | None = None, limit: int = 0
    ):
        self.name = name
        self.page = page  # the complete HTML page
        self.height = height
        self.page_path = page_path  # where the page was written, when it was too large to embed
        self.limit = limit  # the size limit in bytes that the page passed

    def _repr_html_(self) -> str:
        if self.page_path is not None:
            size = len(self.page.encode("utf-8")) / 1e6
            link = html.escape(self.page_path.name)
            return (
                f'<div class="tarnwick-notice">The 3D view of {html.escape(self.name)} takes '
                f"{size:,.1f} MB, more than the {self.limit / 1e6:g} MB a notebook output may "
                f"hold ({MAX_MB_VARIABLE}); it was written beside the notebook: "
                f'<a href="{link}" target="_blank">{html.escape(str(self.page_path))}</a></div>'
            )
        return (
            f'<iframe class="tarnwick-view" title="{html.escape(self.name)} · tarnwick 3D view" '
            f'style="width: 100%; height: {int(self.height)}px; border: 0" '
            f'srcdoc="{html.escape(self.page, quote=True)}"></iframe>'
        )


class LiveView:
    """A scene sent to the live viewer: what the notebook shows of it."""

    def __init__(self, name: str, url: str, pages: int):
        self.name, self.url, self.pages = name, url, pages

    def _repr_html_(self) -> str:
        pages = f"{self.pages} page" + ("" if self.pages == 1 else "s")
        url = html.escape(self.url)
        return (
            f'<div class="tarnwick-notice">{html.escape(self.name)} was sent to the live viewer '
            f'at <a href="{url}" target="_blank">{url}</a> ({pages} open).</div>'
        )

    def __repr__(self) -> str:
        return f"LiveView({self.name!r}, {self.url!r}, pages={self.pages})"


def _in_ipython() -> bool:
    try:
        from IPython import get_ipython
    except ImportError:
        return False
    return get_ipython() is not None


def show(
    component: Any,
    by: str = "layer",
    *,
    live: bool = False,
    height: int = 600,
    layer_views: Any = None,
    layer_stack: Any = None,
    z_scale: float = 1.0,
    curve_tolerance: float | None = 0.01,
    exclude_layers: list[str] | None = None,
    technology: Any = None,
    cell: str | None = None,
) -> SceneView | LiveView | None:
    """Show `component` (a component, or the path of a GDS or OASIS file) in 3D, grouped `by`
    "layer" or "cell", with the scene options of ``to_3D_viewer``. `technology` (a bundled name,
    a technology file, a ``Technology`` or a (LayerStack, LayerViews) pair) replaces the layer
    stack and views; `cell` draws one cell of a layout file and the hierarchy below it.

    In a notebook (IPython) the view is displayed under the cell at once and nothing is
    returned; elsewhere the view object is returned (its ``page`` is the complete HTML page).
    With ``live=True`` the scene is sent to the running live viewer instead; RuntimeError when
    none is running or it cannot be reached."""
    from tarnwick.core import depthview

    if by not in ("layer", "cell"):
        raise ValueError(f'by must be "layer" or "cell", not {by!r}')
    if isinstance(component, os.PathLike):
        component = os.fspath(component)
    if isinstance(component, str) and not os.path.isfile(component):
        raise FileNotFoundError(f"no such layout file: {component}")
    name = _name_of(component)
    output = depthview.Output.CELL if by == "cell" else depthview.Output.LAYER
    if live:
        from tarnwick.cli.live_view import server_problem

        problem = server_problem()
        if problem:
            raise RuntimeError(problem)
    if technology is not None:
        from tarnwick.technology import scene_layers

        layer_stack, layer_views = scene_layers(technology, component)
    content = depthview.scene_content(
        component,
        output,
        layer_views,
        layer_stack,
        z_scale=z_scale,
        curve_tolerance=curve_tolerance,
        exclude_layers=exclude_layers,
        **({} if cell is None else {"cell": cell}),
    )
    if live:
        view: SceneView | LiveView = _send_live(name, content)
    else:
        view = _inline(name, content, height)
    if _in_ipython():
        from IPython.display import display

        display(view)
        return None
    return view


def _send_live(name: str, content: str) -> LiveView:
    from tarnwick.core import communication
    from tarnwick.models import DepthviewMessage

    communication.send_message(DepthviewMessage(content=content))
    delivery = communication.last_delivery()
    if delivery is None or not delivery.delivered:
        why = delivery.problem if delivery is not None else "see the logged warning"
        raise RuntimeError(f"the scene did not reach the live viewer: {why}")
    return LiveView(name, delivery.url, delivery.pages)


def _inline(name: str, content: str, height: int) -> SceneView:
    from tarnwick.viewer_page import page_html, write_page

    title = f"{name} · tarnwick 3D view"
    page = page_html(content, title=title)
    limit = _max_bytes()
    if len(page.encode("utf-8")) <= limit:
        return SceneView(name, page, height)
    # The kernel's working folder is the notebook's own in Jupyter and VS Code.
    path = Path.cwd() / f"{_safe_file_name(name)}.3d.html"
    write_page(content, path, title=title)
    return SceneView(name, page, height, page_path=path.resolve(), limit=limit)
