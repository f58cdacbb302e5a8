"""Shared fixtures for the component-library tests."""

from __future__ import annotations

import brenvik
import klayout.db as kdb
import pytest
import tesselink


@pytest.fixture(autouse=True)
def _restore_active_pdk():
    """Every test starts and ends with the demo PDK active."""
    brenvik.reset_active_pdk()
    yield
    brenvik.reset_active_pdk()


@pytest.fixture
def fresh_kcl():
    """A fresh, empty library layout for one test; the previous one is restored afterwards.

    The cell cache is per layout, so cached components of the previous layout stay valid.
    """
    old = tesselink.kcl
    layout = tesselink.reset_kcl()
    yield layout
    tesselink.set_kcl(old)


def _flat_regions(cell: kdb.Cell) -> dict[tuple[int, int], kdb.Region]:
    """Flattened polygons of ``cell`` per (layer, datatype), independent of the library."""
    layout = cell.layout()
    out = {}
    for index in layout.layer_indexes():
        info = layout.get_info(index)
        region = kdb.Region(cell.begin_shapes_rec(index))
        if not region.is_empty():
            out[(info.layer, info.datatype)] = region
    return out


@pytest.fixture
def flat_regions():
    return _flat_regions
