"""Builders of KLayout layouts for the scene tests, and KLayout's own flattening to check against."""

from __future__ import annotations

import hashlib
import json
import os
import random
from collections import Counter

import pytest
from klayout import db

from tarnwick.core import communication
from tarnwick.core.depthview import PdkLayer

WG = (1, 0)
M1 = (2, 0)
UNKNOWN = (9, 0)  # a layer without PDK properties


def pdk_layers() -> dict:
    return {
        WG: PdkLayer("WG", 0.22, 0.0, "#ff0000"),
        M1: PdkLayer("M1", 0.5, 1.5, "#00ff00"),
    }


def demo_layout() -> db.Layout:
    """A hierarchical demo component: top with polygons on WG and M1, `child` (WG only) placed
    twice, and `arr` (an array of `leaf` on M1, placed once rotated and mirrored)."""
    ly = db.Layout()
    top = ly.create_cell("top")
    child = ly.create_cell("child")
    arr = ly.create_cell("arr")
    leaf = ly.create_cell("leaf")
    wg, m1 = ly.layer(*WG), ly.layer(*M1)
    top.shapes(wg).insert(db.Box(0, 0, 10000, 500))
    top.shapes(m1).insert(db.Polygon([db.Point(0, 0), db.Point(2000, 0), db.Point(1000, 1500)]))
    child.shapes(wg).insert(db.Box(-100, -100, 300, 200))
    child.shapes(wg).insert(db.Path([db.Point(0, 0), db.Point(500, 0), db.Point(500, 700)], 50))
    leaf.shapes(m1).insert(db.Box(0, 0, 40, 80))
    arr.insert(
        db.CellInstArray(
            leaf.cell_index(), db.Trans(0, False, 0, 0), db.Vector(100, 0), db.Vector(0, 200), 3, 2
        )
    )
    top.insert(db.CellInstArray(child.cell_index(), db.Trans(1, False, 3000, 1000)))
    top.insert(db.CellInstArray(child.cell_index(), db.Trans(2, True, -500, 4000)))
    top.insert(db.CellInstArray(arr.cell_index(), db.Trans(3, True, 7000, -2000)))
    return ly


def random_layout(seed: int, levels: int = 4, tops: int = 2) -> db.Layout:
    """A random hierarchy: `levels` levels of cells below `tops` top cells; every cell places
    only cells of lower levels, with rotations, mirrors and regular arrays. Polygons, boxes,
    paths and texts on WG, M1 and a layer without properties."""
    rng = random.Random(seed)
    ly = db.Layout()
    layers = [ly.layer(*WG), ly.layer(*M1), ly.layer(*UNKNOWN)]
    by_level: list[list[db.Cell]] = []
    for level in range(levels + 1):
        count = tops if level == levels else rng.randint(1, 3)
        by_level.append([ly.create_cell(f"c{level}_{i}") for i in range(count)])
    for level, cells in enumerate(by_level):
        for cell in cells:
            for _ in range(rng.randint(0 if level else 1, 3)):
                shapes = cell.shapes(rng.choice(layers))
                x, y = rng.randint(-2000, 2000), rng.randint(-2000, 2000)
                kind = rng.randrange(4)
                if kind == 0:
                    shapes.insert(db.Box(x, y, x + rng.randint(1, 500), y + rng.randint(1, 500)))
                elif kind == 1:
                    points = [
                        db.Point(x + rng.randint(-300, 300), y + rng.randint(-300, 300))
                        for _ in range(rng.randint(3, 7))
                    ]
                    shapes.insert(db.Polygon(points))
                elif kind == 2:
                    shapes.insert(
                        db.Path(
                            [db.Point(x, y), db.Point(x + 400, y), db.Point(x + 400, y + 300)],
                            2 * rng.randint(5, 40),
                        )
                    )
                else:
                    shapes.insert(db.Text("t", db.Trans(x, y)))
            if level == 0:
                continue
            for n in range(rng.randint(1, 3)):
                # The first instance places a cell of the level just below: every path from a
                # top cell runs through all levels.
                target = rng.choice(by_level[level - 1 if n == 0 else rng.randrange(level)])
                trans = db.Trans(
                    rng.randrange(4),
                    rng.random() < 0.5,
                    rng.randint(-5000, 5000),
                    rng.randint(-5000, 5000),
                )
                if rng.random() < 0.4:
                    inst = db.CellInstArray(
                        target.cell_index(),
                        trans,
                        db.Vector(rng.randint(-900, 900), rng.randint(-900, 900)),
                        db.Vector(rng.randint(-900, 900), rng.randint(-900, 900)),
                        rng.randint(1, 3),
                        rng.randint(1, 3),
                    )
                else:
                    inst = db.CellInstArray(target.cell_index(), trans)
                cell.insert(inst)
    return ly


def canonical(points) -> tuple:
    """A polygon's points in database units, sorted: equal for equal point sets whatever the
    start point and orientation of the hull."""
    return tuple(sorted((round(x), round(y)) for x, y in points))


def flattened(layout: db.Layout, spec: tuple) -> Counter:
    """KLayout's flattening: the hull of every polygon of layer `spec` below every top cell, placed
    into its top cell, as a multiset of canonical polygons."""
    result: Counter = Counter()
    index = layout.find_layer(*spec)
    if index is None:
        return result
    for top in layout.top_cells():
        it = layout.begin_shapes(top, index)
        while not it.at_end():
            shape = it.shape()
            if not shape.is_text():
                polygon = shape.polygon.transformed(it.trans())
                result[canonical((p.x, p.y) for p in polygon.each_point_hull())] += 1
            it.next()
    return result


@pytest.fixture
def layers():
    return pdk_layers()


@pytest.fixture(autouse=True)
def message_log(request):
    """With TARNWICK_MESSAGE_LOG naming a file, appends one line per test that sends viewer
    messages: the test and the SHA-256 of each message's content, in sending order. Two runs of
    the same tests (for example with and without direct KLayout access) must log the same."""
    if not os.environ.get("TARNWICK_MESSAGE_LOG"):
        yield
        return
    # Relative to where pytest was started: tests run in folders of their own.
    path = request.config.invocation_params.dir / os.environ["TARNWICK_MESSAGE_LOG"]
    sent: list[str] = []

    def record(message) -> None:
        if isinstance(getattr(message, "content", None), str):
            sent.append(hashlib.sha256(message.content.encode()).hexdigest())

    communication.subscribe(record)
    try:
        yield
    finally:
        communication.unsubscribe(record)
    if sent:
        # One write of the whole line: test workers running side by side append to one file.
        line = (json.dumps({"test": request.node.nodeid, "messages": sent}) + "\n").encode()
        log = os.open(path, os.O_WRONLY | os.O_APPEND | os.O_CREAT, 0o644)
        try:
            os.write(log, line)
        finally:
            os.close(log)
