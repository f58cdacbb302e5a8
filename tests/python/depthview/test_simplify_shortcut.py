"""Rings that the simplification surely leaves unchanged skip GEOS: the result is always GEOS's
own, with and without the shortcut."""

from __future__ import annotations

import math
import random

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from tarnwick.core.depthview import _simplify

TOLERANCES = [0.0, 1e-9, 0.001, 0.01, 0.05, 0.5]


def same_as_geos(points, tolerance) -> bool:
    """Whether the shortcut gave GEOS's result; failures must be GEOS's failures too."""
    try:
        expected = _simplify(points, tolerance, shortcut=False)
    except Exception as error:  # noqa: BLE001 - compared below
        with pytest.raises(type(error)):
            _simplify(points, tolerance)
        return True
    return _simplify(points, tolerance) == expected


def box(x, y, w, h):
    return [(x, y), (x + w, y), (x + w, y + h), (x, y + h)]


def star(rng: random.Random, n: int, scale: float):
    return [
        (
            round(rng.uniform(0.5, 3) * scale * math.cos(2 * math.pi * i / n), 3),
            round(rng.uniform(0.5, 3) * scale * math.sin(2 * math.pi * i / n), 3),
        )
        for i in range(n)
    ]


def circle(n: int, radius: float):
    return [
        (round(radius * math.cos(2 * math.pi * i / n), 3), round(radius * math.sin(2 * math.pi * i / n), 3))
        for i in range(n)
    ]


def test_layout_like_shapes():
    rng = random.Random(7)
    cases = []
    for _ in range(400):
        cases.append(box(rng.uniform(-50, 50), rng.uniform(-50, 50), rng.choice([0.001, 0.01, 0.02, 0.1, 5]), rng.uniform(0.001, 5)))
        cases.append(star(rng, rng.randint(3, 12), rng.choice([0.005, 0.02, 1.0])))
    for n in (8, 16, 64, 128):
        for radius in (0.01, 0.5, 2, 20):
            cases.append(circle(n, radius))
    # Degenerate shapes: collinear points, repeated points, spikes, a closed input.
    cases += [
        [(0, 0), (1, 0), (2, 0)],
        [(0, 0), (1, 0), (1, 0), (1, 1)],
        [(0, 0), (2, 0), (1, 0), (1, 1)],
        [(0, 0), (1, 0), (1, 1), (0, 1), (0, 0)],
        [(0, 0), (1, 0), (0.5, 0.004), (1, 1)],
        [(0, 0), (0, 0), (0, 0)],
    ]
    # A point at about the tolerance from its chord, on either side of it.
    for offset in (0.01 - 1e-12, 0.01, 0.01 + 1e-12, 0.010000001, 0.0100001, 0.0099999):
        cases.append([(0, 0), (1, 0), (1, 1), (0.5, 1 + offset), (0, 1)])
        cases.append([(0, 0), (0.3, -offset), (1, 0), (1, 1)])
    skipped = 0
    for points in cases:
        for tolerance in TOLERANCES:
            assert same_as_geos(points, tolerance), (points, tolerance)
            if tolerance == 0.01 and len(set(points)) >= 3:
                skipped += _simplify(points, tolerance) == _closed(points)
    assert skipped > 0


def _closed(points):
    ring = [list(p) for p in points]
    return ring if ring[0] == ring[-1] else ring + [ring[0]]


coordinate = st.integers(-2000, 2000).map(lambda v: v / 1000)


@settings(max_examples=1500, deadline=None)
@given(st.lists(st.tuples(coordinate, coordinate), min_size=3, max_size=14), st.sampled_from(TOLERANCES))
def test_random_rings(points, tolerance):
    assert same_as_geos(points, tolerance)


@settings(max_examples=300, deadline=None)
@given(st.lists(st.tuples(st.floats(-1e6, 1e6), st.floats(-1e6, 1e6)), min_size=3, max_size=8), st.floats(0, 10))
def test_random_rings_of_any_scale(points, tolerance):
    assert same_as_geos(points, tolerance)
