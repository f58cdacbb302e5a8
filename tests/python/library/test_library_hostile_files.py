"""GDS files built to hurt: arrays that multiply, hierarchies that go deep, broken metadata.

Import and the derived-layer copy must neither expand arrays nor recurse per level, and must
refuse what they cannot do with a clear error."""

from __future__ import annotations

import itertools
import json

import brenvik
import klayout.db as kdb
import pytest
from brenvik.component import (
    MAX_INSTANCES_VARIABLE,
    META_KEY,
    MetadataError,
    TooManyInstancesError,
)
from brenvik.technology import MAX_FLAT_SHAPES_VARIABLE, TooManyShapesError

WG, SLAB = (1, 0), (2, 0)  # the demo stack derives SHALLOW from WG & SLAB


def write(layout: kdb.Layout, path, context: bool = False) -> str:
    options = kdb.SaveLayoutOptions()
    options.write_context_info = context
    layout.write(str(path), options)
    return str(path)


def arrays_of_arrays(tmp_path) -> str:
    """WG and SLAB in a leaf placed 301 times: a 10 x 10 array in a cell arrayed 3 x 1, plus
    one plain placement; so 602 shapes once flattened."""
    layout = kdb.Layout()
    leaf, middle, top = (layout.create_cell(name) for name in ("leaf", "middle", "top"))
    for layer in (WG, SLAB):
        leaf.shapes(layout.layer(*layer)).insert(kdb.Box(0, 0, 100, 100))
    step = kdb.Vector(200, 0), kdb.Vector(0, 200)
    middle.insert(kdb.CellInstArray(leaf.cell_index(), kdb.Trans(), *step, 10, 10))
    top.insert(
        kdb.CellInstArray(middle.cell_index(), kdb.Trans(), kdb.Vector(3000, 0), step[1], 3, 1)
    )
    top.insert(kdb.CellInstArray(leaf.cell_index(), kdb.Trans(kdb.Vector(-500, 0))))
    return write(layout, tmp_path / "arrays.gds")


def test_flattening_is_counted_through_arrays_and_refused_past_the_limit(tmp_path, monkeypatch):
    component = brenvik.import_gds(arrays_of_arrays(tmp_path))
    stack = brenvik.get_layer_stack()
    monkeypatch.setenv(MAX_FLAT_SHAPES_VARIABLE, "601")
    with pytest.raises(TooManyShapesError, match=f"602 shapes.*601.*{MAX_FLAT_SHAPES_VARIABLE}"):
        stack.get_component_with_derived_layers(component)
    monkeypatch.setenv(MAX_FLAT_SHAPES_VARIABLE, "602")
    derived = stack.get_component_with_derived_layers(component)
    shallow = derived.layout.find_layer(3, 0)
    assert derived.kdb_cell.shapes(shallow).size() > 0


@pytest.mark.parametrize(
    ("columns", "rows", "pitch", "expected"),
    [
        (32767, 32767, 2000, "2,147,352,578 shapes"),  # a billion placements in a few bytes
        (8000, 1, 2, "16,000 shapes, overlapping about 471 deep"),  # few, but piled up
    ],
)
def test_arrays_that_would_flatten_too_much_are_refused_at_once(
    tmp_path, columns, rows, pitch, expected
):
    layout = kdb.Layout()
    leaf, top = layout.create_cell("leaf"), layout.create_cell("top")
    for layer in (WG, SLAB):
        leaf.shapes(layout.layer(*layer)).insert(kdb.Box(0, 0, 1000, 1000))
    step = kdb.Vector(pitch, 0), kdb.Vector(0, pitch)
    top.insert(kdb.CellInstArray(leaf.cell_index(), kdb.Trans(), *step, columns, rows))
    component = brenvik.import_gds(write(layout, tmp_path / "bomb.gds"))
    refs = component.references  # arrays stay arrays (the reader may split an off-grid one)
    assert len(refs) < 10 and sum(r.columns * r.rows for r in refs) == columns * rows
    with pytest.raises(TooManyShapesError, match=expected):
        brenvik.get_layer_stack().get_component_with_derived_layers(component)


def test_a_deep_chain_imports_and_copies(tmp_path):
    depth = 3000  # far past the interpreter's recursion limit
    layout = kdb.Layout()
    cells = [layout.create_cell(f"c{level}") for level in range(depth)]
    cells[-1].shapes(layout.layer(*WG)).insert(kdb.Box(0, 0, 100, 100))
    cells[-1].shapes(layout.layer(*SLAB)).insert(kdb.Box(50, 0, 150, 100))
    for parent, child in itertools.pairwise(cells):
        parent.insert(kdb.CellInstArray(child.cell_index(), kdb.Trans(kdb.Vector(10, 0))))
    component = brenvik.import_gds(write(layout, tmp_path / "deep.gds"))
    derived = brenvik.get_layer_stack().get_component_with_derived_layers(component)
    assert derived.name == "c0" and len(derived.hierarchy_cell_indices()) == depth
    shallow = derived.kdb_cell.shapes(derived.layout.find_layer(3, 0))
    assert [shape.polygon.bbox() for shape in shallow.each()] == [
        kdb.Box(depth * 10 + 40, 0, depth * 10 + 90, 100)
    ]


@pytest.mark.parametrize(
    "meta",
    [{"ports": [{"name": "o1"}]}, {"settings": 5}, {"instances": [{"cell": "x"}]}],
)
def test_broken_metadata_is_a_clear_error(tmp_path, meta):
    layout = kdb.Layout()
    top, leaf = layout.create_cell("top"), layout.create_cell("leaf")
    top.insert(kdb.CellInstArray(leaf.cell_index(), kdb.Trans()))
    top.add_meta_info(kdb.LayoutMetaInfo(META_KEY, json.dumps(meta), "", True))
    path = write(layout, tmp_path / "meta.gds", context=True)
    with pytest.raises(MetadataError, match="cell 'top' carries malformed brenvik metadata"):
        brenvik.import_gds(path)


def test_more_instances_than_the_limit_are_refused_before_wrapping(tmp_path, monkeypatch):
    # A reader splits an off-grid array into one instance per row or column: a few bytes can
    # ask for millions of instances, each of which would become a reference object.
    layout = kdb.Layout()
    leaf, top = layout.create_cell("leaf"), layout.create_cell("top")
    for k in range(50):
        top.insert(kdb.CellInstArray(leaf.cell_index(), kdb.Trans(kdb.Vector(3 * k, 0))))
    path = write(layout, tmp_path / "many.gds")
    monkeypatch.setenv(MAX_INSTANCES_VARIABLE, "49")
    with pytest.raises(TooManyInstancesError, match="hold 50 instances.*limit of 49"):
        brenvik.import_gds(path)
    monkeypatch.setenv(MAX_INSTANCES_VARIABLE, "50")
    assert len(brenvik.import_gds(path).references) == 50
