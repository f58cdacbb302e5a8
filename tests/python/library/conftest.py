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


def flat_region(cell: kdb.Cell, index: int) -> kdb.Region:
    """Flat copy of the shapes on layer ``index`` of ``cell`` and everything below it.

    The shapes are copied into a plain region on purpose: ``count()`` of a region that reads
    a layout directly counts a cell's shapes once per placement anywhere in the layout, also
    outside ``cell``'s tree.
    """
    region = kdb.Region()
    region.insert(cell.begin_shapes_rec(index))
    return region


def _flat_regions(cell: kdb.Cell) -> dict[tuple[int, int], kdb.Region]:
    """Flattened polygons of ``cell`` per (layer, datatype), independent of the library."""
    layout = cell.layout()
    out = {}
    for index in layout.layer_indexes():
        info = layout.get_info(index)
        region = flat_region(cell, index)
        if not region.is_empty():
            out[(info.layer, info.datatype)] = region
    return out


@pytest.fixture
def flat_region_of():
    return flat_region


@pytest.fixture
def flat_regions():
    return _flat_regions
