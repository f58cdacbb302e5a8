"""Hand-made depthview messages for the page tests, encoded the way depthview encodes them."""

from __future__ import annotations

import json
import math

import numpy as np

from tarnwick.core.depthview import numpy_to_buffer_json


def rectangle(x0: float, y0: float, x1: float, y1: float) -> list[float]:
    return [x0, y0, x1, y0, x1, y1, x0, y1]


def circle(cx: float, cy: float, r: float, n: int = 64) -> list[float]:
    return [
        v
        for i in range(n)
        for v in (cx + r * math.cos(2 * math.pi * i / n), cy + r * math.sin(2 * math.pi * i / n))
    ]


def rotation(
    degrees: float, scale: float = 1.0, tx: float = 0.0, ty: float = 0.0, mirror: bool = False
) -> list[float]:
    """A 2x3 placement [a, b, tx, d, e, ty]: mirror at the x axis first, then rotate, magnify and
    move, as a complex placement does."""
    c, s = math.cos(math.radians(degrees)) * scale, math.sin(math.radians(degrees)) * scale
    m = -1.0 if mirror else 1.0
    return [c, -s * m, tx, s, c * m, ty]


def leaf(
    name: str,
    parent: str,
    refs: list[int],
    height: float,
    zmin: float,
    color: str,
    matrices: list[float] = (),
) -> dict:
    return {
        "name": name,
        "id": f"{parent}/{name}",
        "version": "3",
        "loc": [[0, 0, zmin], [0, 0, 0, 1]],
        "shape": {"refs": refs, "height": height, "matrices": np.array(matrices, np.float32)},
        "color": color,
        "renderback": False,
        "state": [1, 1],
        "type": "polygon",
        "subtype": "solid",
    }


def node(name: str, parent: str, parts: list[dict]) -> dict:
    return {
        "name": name,
        "id": f"{parent}/{name}" if parent else f"/{name}",
        "version": "3",
        "loc": [[0.0, 0.0, 0.0], [0.0, 0.0, 0.0, 1.0]],
        "parts": parts,
    }


def message(root: dict, polygons: list[list[float]], config: dict | None = None) -> str:
    """The message content (JSON text) of a scene whose root is `root`."""
    data = dict(root)
    data["format"] = "GDS"
    data["instances"] = [np.array(p, np.float32) for p in polygons]
    content = {
        "type": "data",
        "data": numpy_to_buffer_json(data),
        "config": config or {"ortho": True},
    }
    return json.dumps(content, separators=(",", ":"))


def cells(
    parts: list[dict], polygons: list[list[float]], config: dict | None = None, top: str = "top"
) -> str:
    """A scene grouped by cell: /Cells/<top> holding `parts` (made with parent "/Cells/<top>")."""
    return message(node("Cells", "", [node(top, "/Cells", parts)]), polygons, config)
