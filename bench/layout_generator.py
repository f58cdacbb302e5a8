"""Seeded generator of large benchmark layouts for the 3D scene parser.

A layout of `polygons` distinct polygons in a four-level hierarchy: leaf cells hold the shapes
(boxes, small polygons, curved polygons such as circles and rings with many points, paths and a
few texts) on five layers; blocks place leaves singly and as arrays with every rotation and mirror;
groups place blocks; the top cell places groups, again with arrays. Leaves and blocks are placed
more than once, so the same geometry is reached through many placements.

    generate_gds(polygons, path, seed)   writes the layout as GDS
    make_layout(polygons, seed)          returns the KLayout layout
"""

from __future__ import annotations

import math
import random
from pathlib import Path

from klayout import db

LAYERS = [(1, 0), (41, 0), (45, 0), (47, 0), (44, 0)]
SHAPES_PER_LEAF = 100


def _leaf_shapes(cell: db.Cell, layers: list[int], count: int, rng: random.Random) -> None:
    for _ in range(count):
        shapes = cell.shapes(rng.choice(layers))
        x, y = rng.randint(0, 200_000), rng.randint(0, 200_000)
        kind = rng.random()
        if kind < 0.3:
            shapes.insert(db.Box(x, y, x + rng.randint(100, 5000), y + rng.randint(100, 5000)))
        elif kind < 0.7:
            n = rng.randint(5, 12)
            points = [
                db.Point(
                    x + int(rng.uniform(500, 3000) * math.cos(2 * math.pi * i / n)),
                    y + int(rng.uniform(500, 3000) * math.sin(2 * math.pi * i / n)),
                )
                for i in range(n)
            ]
            shapes.insert(db.Polygon(points))
        elif kind < 0.8:
            # Curved: a circle, or a ring (a polygon with a hole), of 64 to 128 points.
            n = rng.randint(64, 128)
            radius = rng.randint(2000, 20000)
            outer = [
                db.Point(
                    x + round(radius * math.cos(2 * math.pi * i / n)),
                    y + round(radius * math.sin(2 * math.pi * i / n)),
                )
                for i in range(n)
            ]
            polygon = db.Polygon(outer)
            if rng.random() < 0.5:
                polygon.insert_hole(
                    [
                        db.Point(
                            x + round(radius / 2 * math.cos(2 * math.pi * i / n)),
                            y + round(radius / 2 * math.sin(2 * math.pi * i / n)),
                        )
                        for i in range(n)
                    ]
                )
            shapes.insert(polygon)
        else:
            points = [
                db.Point(x, y),
                db.Point(x + rng.randint(1000, 9000), y),
                db.Point(x + rng.randint(1000, 9000), y + rng.randint(1000, 9000)),
            ]
            shapes.insert(db.Path(points, 2 * rng.randint(50, 500)))
    if rng.random() < 0.2:
        cell.shapes(layers[0]).insert(db.Text("label", db.Trans(1000, 1000)))


def _place(parent: db.Cell, child: db.Cell, rng: random.Random, pitch: int) -> None:
    trans = db.Trans(
        rng.randrange(4),
        rng.random() < 0.5,
        rng.randint(-pitch, pitch) * 10,
        rng.randint(-pitch, pitch) * 10,
    )
    if rng.random() < 0.35:
        parent.insert(
            db.CellInstArray(
                child.cell_index(),
                trans,
                db.Vector(pitch, 0),
                db.Vector(0, pitch),
                rng.randint(1, 4),
                rng.randint(1, 3),
            )
        )
    else:
        parent.insert(db.CellInstArray(child.cell_index(), trans))


def make_layout(polygons: int, seed: int = 1) -> db.Layout:
    """The benchmark layout with `polygons` distinct polygons (texts not counted)."""
    rng = random.Random(seed)
    layout = db.Layout()
    layout.dbu = 0.001
    layers = [layout.layer(*spec) for spec in LAYERS]
    leaf_count = max(1, math.ceil(polygons / SHAPES_PER_LEAF))
    leaves = []
    remaining = polygons
    for i in range(leaf_count):
        leaf = layout.create_cell(f"leaf_{i}")
        count = min(SHAPES_PER_LEAF, remaining)
        _leaf_shapes(leaf, layers, count, rng)
        remaining -= count
        leaves.append(leaf)
    blocks = [layout.create_cell(f"block_{i}") for i in range(max(1, leaf_count // 8))]
    for i, leaf in enumerate(leaves):  # every leaf placed once, some a second time elsewhere
        _place(blocks[i % len(blocks)], leaf, rng, 250_000)
        if rng.random() < 0.25:
            _place(rng.choice(blocks), leaf, rng, 250_000)
    groups = [layout.create_cell(f"group_{i}") for i in range(max(1, len(blocks) // 6))]
    for i, block in enumerate(blocks):
        _place(groups[i % len(groups)], block, rng, 1_500_000)
    top = layout.create_cell("top")
    for group in groups:
        _place(top, group, rng, 8_000_000)
    return layout


def generate_gds(polygons: int, path: str | Path, seed: int = 1) -> Path:
    """Writes the benchmark layout of `polygons` polygons as GDS to `path`."""
    path = Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    make_layout(polygons, seed).write(str(path))
    return path
