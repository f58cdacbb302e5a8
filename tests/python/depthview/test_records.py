"""The scene records as Python sees them: construction, defaults, field order, equality, text."""

from __future__ import annotations

import dataclasses

import numpy as np
import pytest

from tarnwick.core import depthview as dv


def test_module_constants():
    assert dv.VERSION == "3" and dv.VERSION != 3
    assert dv.FORMAT == "GDS"


@pytest.mark.parametrize(
    ("record", "fields"),
    [
        (dv.Cell, ["cell_index", "name", "polygons", "references"]),
        (dv.Reference, ["cell_index", "name", "polygons", "references", "trans_count", "trans"]),
        (dv.ParsedCells, ["instances", "layer_map", "cells"]),
        (dv.ParsedLayers, ["instances", "layer_map", "layers"]),
        (dv.PdkLayer, ["name", "thickness", "zmin", "color"]),
        (dv.Shape, ["refs", "height", "matrices"]),
        (
            dv.Part,
            [
                "name",
                "id",
                "version",
                "loc",
                "shape",
                "color",
                "renderback",
                "state",
                "type",
                "subtype",
            ],
        ),
        (dv.Parts, ["name", "id", "version", "loc", "parts"]),
        (dv.ViewerData, ["name", "id", "version", "loc", "parts", "format", "instances"]),
    ],
)
def test_field_order(record, fields):
    assert [f.name for f in dataclasses.fields(record)] == fields


def test_inheritance():
    assert issubclass(dv.Reference, dv.Cell)
    assert issubclass(dv.Part, dv.PartBase) and issubclass(dv.Parts, dv.PartBase)
    assert issubclass(dv.ViewerData, dv.Parts)
    assert not issubclass(dv.Shape, dv.PartBase)


def test_container_defaults_are_fresh():
    a, b = dv.Cell(0, "a"), dv.Cell(0, "a")
    a.polygons["0"] = [1]
    a.references.append(dv.Reference(1, "b"))
    assert b.polygons == {} and b.references == []
    r1, r2 = dv.Reference(1, "r"), dv.Reference(1, "r")
    assert r1.trans is not r2.trans and r1.trans_count == 0
    s1, s2 = dv.Shape([0], 1.0), dv.Shape([0], 1.0)
    assert s1.matrices.dtype == np.float32 and s1.matrices.shape == (0,)
    assert s1.matrices is not s2.matrices
    v1, v2 = dv.ViewerData("a", "/a"), dv.ViewerData("a", "/a")
    assert v1.parts is not v2.parts and v1.instances is not v2.instances


def test_part_and_viewer_defaults():
    part = dv.Part("n", "/n", shape=dv.Shape([0], 1.0), color="#123456")
    assert part.version == "3"
    assert part.loc == ((0.0, 0.0, 0.0), (0.0, 0.0, 0.0, 1.0))
    assert (part.renderback, part.state, part.type, part.subtype) == (
        False,
        (1, 1),
        "polygon",
        "solid",
    )
    root = dv.ViewerData("Cells", "/Cells")
    assert (root.parts, root.instances, root.format) == ([], [], "GDS")


def test_keyword_only_fields():
    shape = dv.Shape([0], 1.0)
    with pytest.raises(TypeError, match="takes from 3 to 5 positional arguments but 7 were given"):
        dv.Part("n", "/n", "3", ((0, 0, 0), (0, 0, 0, 1)), shape, "#fff")
    with pytest.raises(TypeError, match="keyword-only arguments: 'shape' and 'color'"):
        dv.Part("n", "/n")
    with pytest.raises(TypeError):
        dv.Parts("n", "/n", "3", ((0, 0, 0), (0, 0, 0, 1)), [])
    with pytest.raises(TypeError, match="missing 1 required positional argument: 'name'"):
        dv.Cell(0)
    with pytest.raises(TypeError, match="unexpected keyword argument 'colour'"):
        dv.PdkLayer("WG", 0.2, 0.0, colour="#fff")
    with pytest.raises(TypeError, match="multiple values"):
        dv.Cell(0, "a", cell_index=1)
    # By keyword in any order, the same as by position.
    assert dv.Reference(name="r", cell_index=3, trans_count=2) == dv.Reference(3, "r", {}, [], 2)


def test_records_hold_the_given_objects():
    polygons = {"0": [1, 2]}
    cell = dv.Cell(0, "a", polygons)
    assert cell.polygons is polygons
    cell.name = "b"
    assert cell.name == "b"


def test_equality_is_fieldwise_and_by_type():
    assert dv.Cell(0, "a") == dv.Cell(0, "a")
    assert dv.Cell(0, "a") != dv.Cell(0, "b")
    assert dv.Cell(0, "a") != dv.Reference(0, "a")
    assert dv.Parts("a", "/a") != dv.ViewerData("a", "/a")
    with pytest.raises(TypeError):
        hash(dv.Cell(0, "a"))


def test_equality_compares_arrays_by_content():
    a = dv.Shape([0], 1.0, np.array([1, 2, 3, 4, 5, 6], dtype=np.float32))
    assert a == dv.Shape([0], 1.0, np.array([1, 2, 3, 4, 5, 6], dtype=np.float32))
    assert a != dv.Shape([0], 1.0, np.array([1, 2, 3, 4, 5, 7], dtype=np.float32))
    assert a != dv.Shape([0], 1.0, np.array([1, 2, 3, 4, 5, 6], dtype=np.float64))
    assert a != dv.Shape([0], 1.0, np.array([[1, 2, 3], [4, 5, 6]], dtype=np.float32))
    assert dv.Shape([0], 1.0) == dv.Shape([0], 1.0)
    # Arrays nested in lists (the scene's polygon pool) too.
    v1 = dv.ViewerData("a", "/a", instances=[np.zeros(4, np.float32)])
    v2 = dv.ViewerData("a", "/a", instances=[np.zeros(4, np.float32)])
    assert v1 == v2
    v2.instances[0][3] = 1.0
    assert v1 != v2


def test_text_forms():
    assert repr(dv.Cell(0, "top")) == "Cell(cell_index=0, name='top', polygons={}, references=[])"
    assert str(dv.Output.CELL) == "Output.CELL" and str(dv.Output.LAYER) == "Output.LAYER"
    assert dv.Output.CELL.value == 1 and dv.Output.LAYER.value == 2
    assert dv.Output.CELL != 1 and dv.Output.CELL is not dv.Output.LAYER


def test_pdk_layer_text_form():
    layer = dv.PdkLayer("WG", 0.22, 0.0, "#ff0000")
    assert repr(layer) == "PdkLayer(name='WG', thickness= 0.22, zmin=  0.0, color='#ff0000')"
    assert str(layer) == repr(layer)
    assert repr(dv.PdkLayer("a'b", 1, 1.0, "x")) == (
        "PdkLayer(name=\"a'b\", thickness=1, zmin=  1.0, color='x')"
    )
    shown = {
        0.22: " 0.22",
        0.0: "  0.0",
        1.0: "  1.0",
        12.345: " 12.3",
        99.95: "1e+02",
        220.0: "2.2e+02",
        0.00012345: "0.000123",
    }
    for value, text in shown.items():
        assert repr(dv.PdkLayer("L", value, 0.0, "c")) == (
            f"PdkLayer(name='L', thickness={text}, zmin=  0.0, color='c')"
        )
