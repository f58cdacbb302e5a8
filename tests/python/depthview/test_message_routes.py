"""The viewer message is written once, natively, from the scene: it equals byte for byte what the
scene records give through the public functions (ParseGDS, asdict, numpy_to_buffer_json and the
package's JSON writer), and it fails alike."""

from __future__ import annotations

import json
import math
import random
import re
import sys
import tempfile
from pathlib import Path

import brenvik
import klayout.db as kdb
import orjson
import pytest
from tarnwick.core.shared import none

from tarnwick.core import communication
from tarnwick.core import depthview as dv
from tarnwick.core.depthview import Output, ParseGDS, PdkLayer, numpy_to_buffer_json

from .conftest import demo_layout, pdk_layers, random_layout
from .test_free_angles import complex_layout

BENCH = Path(__file__).resolve().parents[3] / "bench"
sys.path.insert(0, str(BENCH))
import layout_generator

OUTPUTS = [Output.CELL, Output.LAYER]
CONFIG = json.loads(dv.viewer_message(kdb.Layout(), {}, Output.CELL))[
    "config"
]  # pinned entry by entry elsewhere


def records_message(layout, layers, output, z_scale=1.0, curve_tolerance=0.01, exclude_layers=None):
    """The message text as the records give it: parse, export, convert, map form, buffers, JSON."""
    parser = ParseGDS(
        layout,
        layers,
        z_scale=z_scale,
        curve_tolerance=curve_tolerance,
        exclude_layers=exclude_layers,
    )
    if output is Output.CELL:
        parser.export_cells(combine=True)
    else:
        parser.export_layers(combine=True)
    scene = parser.asdict(parser.to_viewer(output))
    data = {"type": "data", "data": numpy_to_buffer_json(scene), "config": CONFIG}
    return orjson.dumps(data, default=none).decode()


def both(layout, layers, output, **kwargs) -> str:
    native = dv.viewer_message(layout, layers, output, **kwargs)
    assert native == records_message(layout, layers, output, **kwargs)
    return native


def failure(call, *args, **kwargs):
    with pytest.raises(Exception) as caught:
        call(*args, **kwargs)
    return type(caught.value), str(caught.value)


def read(path) -> kdb.Layout:
    layout = kdb.Layout()
    layout.read(str(path))
    return layout


@pytest.mark.parametrize("output", OUTPUTS)
def test_layouts(output, tmp_path):
    generated = read(layout_generator.generate_gds(600, tmp_path / "gen.gds", 3))
    other_unit = demo_layout()
    other_unit.dbu = 0.005
    layouts = [demo_layout(), generated, other_unit, complex_layout(1), complex_layout(2)] + [
        random_layout(seed, levels=4, tops=3) for seed in range(4)
    ]
    for layout in layouts:
        for kwargs in (
            {},
            {"curve_tolerance": None},
            {"z_scale": 2.35, "curve_tolerance": 0.05, "exclude_layers": ["M*", "x?"]},
        ):
            content = both(layout, pdk_layers(), output, **kwargs)
    assert '"instances":[{"shape":[' in content


@pytest.mark.parametrize("output", OUTPUTS)
def test_texts_and_numbers_of_every_kind(output):
    """Names that need escaping or are not ASCII, colours of other types (a str subclass, a value
    only the JSON writer's fallback hook can write) and floats of every magnitude."""
    rng = random.Random(5)
    names = ['quote"d', "back\\slash", "tab\there", "bell\x07", "del\x7f", "µm-ünï", "日本", "a/b"]
    layout = kdb.Layout()
    top = layout.create_cell(names[0])
    indices = [layout.layer(k, 0) for k in range(1, 9)]
    for k, name in enumerate(names[1:]):
        child = layout.create_cell(name)
        child.shapes(indices[k]).insert(kdb.Box(0, 0, 100 + k, 50))
        top.insert(kdb.CellInstArray(child.cell_index(), kdb.Trans(k % 4, k % 2 == 1, 1000 * k, 0)))

    class Colour(str):
        pass

    colours = ["#ff0000", Colour("#00ff00"), object(), "réd"]

    def number():
        return (
            rng.choice([0.0, -0.0, 1.0, 1e16, 1e15, 1e-5, 1e-6, 0.1, 5e-324]) * rng.choice([1, -1])
            if rng.random() < 0.3
            else math.copysign(10 ** rng.uniform(-12, 20), rng.random() - 0.5)
        )

    for _ in range(6):
        layers = {
            (k, 0): PdkLayer(f'L"{k}\\\n µ', number(), number(), colours[k % len(colours)])
            for k in range(1, 9)
        }
        content = both(layout, layers, output, z_scale=rng.choice([1.0, 0.37, 3e-8]))
    assert '\\"' in content and "µ" in content and "日本" in content


@pytest.mark.parametrize("output", OUTPUTS)
def test_a_text_without_json_form_fails_alike(output):
    layers = pdk_layers()
    layers[(1, 0)] = PdkLayer("W\ud800G", 0.22, 0.0, "#ff0000")
    expected = failure(records_message, demo_layout(), layers, output)
    assert "surrogates" in expected[1]
    assert failure(dv.viewer_message, demo_layout(), layers, output) == expected
    # Excluded, it is never written: no failure on either route.
    both(demo_layout(), layers, output, exclude_layers=["w*"])


def layout_with(top_shape, child_shape) -> kdb.Layout:
    """A top cell and a placed child, each with many polygons and one given shape: the top
    cell's shapes are extracted before the child's."""
    layout = kdb.Layout()
    top = layout.create_cell("t")
    child = layout.create_cell("c")
    top.insert(kdb.CellInstArray(child.cell_index(), kdb.Trans(1, False, 5, 5)))
    for k, (cell, shape) in enumerate(((top, top_shape), (child, child_shape))):
        shapes = cell.shapes(layout.layer(1, 0))
        for j in range(300):
            shapes.insert(
                kdb.Polygon(
                    [kdb.Point(10 * j + k, 0), kdb.Point(10 * j + 5, 7), kdb.Point(10 * j, 9 + k)]
                )
            )
        if shape is not None:
            shapes.insert(shape)
    return layout


@pytest.mark.parametrize("output", OUTPUTS)
@pytest.mark.parametrize(
    "top_shape,child_shape,kind",
    [
        # The empty polygon's simplification error comes first: it is extracted before the edge.
        (kdb.Polygon(), kdb.Edge(0, 0, 10, 10), IndexError),
        (kdb.Edge(0, 0, 10, 10), kdb.Polygon(), TypeError),
        (None, kdb.Polygon(), IndexError),
    ],
)
def test_errors_come_in_extraction_order_alike(output, top_shape, child_shape, kind):
    layers = {(1, 0): PdkLayer("WG", 0.22, 0.0, "#ff0000")}
    layout = layout_with(top_shape, child_shape)
    expected = failure(records_message, layout, layers, output)
    assert expected[0] is kind
    assert failure(dv.viewer_message, layout, layers, output) == expected
    if kdb.Edge not in (type(top_shape), type(child_shape)):
        both(layout, layers, output, curve_tolerance=None)  # without simplification: no error


# --- depthview itself --------------------------------------------------------------------------


@pytest.fixture(scope="module")
def demo_chip_gds(tmp_path_factory) -> str:
    """demo_chip written once: every route then reads the same cells (the library numbers the
    copies it makes of a component anew on every call)."""
    path = tmp_path_factory.mktemp("demo") / "demo_chip.gds"
    brenvik.get_component("demo_chip").write_gds(str(path))
    return str(path)


def sent(**report_to) -> str:
    (message,) = communication.messages()
    communication.clear_messages()
    return message.content


def to_3d_message(source, output, **kwargs) -> str:
    scene = dv.to_3D_viewer(source, output, as_dict=True, **kwargs)
    data = {"type": "data", "data": numpy_to_buffer_json(scene), "config": CONFIG}
    return orjson.dumps(data, default=none).decode()


@pytest.mark.parametrize("output", OUTPUTS)
def test_depthview_sends_what_to_3d_viewer_gives(demo_chip_gds, output, tmp_path, monkeypatch):
    monkeypatch.setattr(tempfile, "tempdir", str(tmp_path))
    kwargs = {"z_scale": 1.5, "curve_tolerance": 0.02, "exclude_layers": ["x*"]}
    events = []
    communication.clear_messages()
    dv.depthview(demo_chip_gds, output, report=events.append, **kwargs)
    content = sent()
    assert content == to_3d_message(demo_chip_gds, output, **kwargs)
    assert [e["stage"] for e in events] == ["read", "parse", "convert", "encode", "done"]
    final = events[-1]
    assert set(final["seconds"]) == {"read", "parse", "convert", "encode"}
    assert final["counts"]["bytes"] == len(content.encode())
    assert final["counts"]["polygons"] == len(json.loads(content)["data"]["instances"])
    assert final["reader"]
    # A parser replaced by another class is used as given: the message stays the same.

    class Spied(dv.ParseGDS):
        pass

    monkeypatch.setattr(dv, "ParseGDS", Spied)
    dv.depthview(demo_chip_gds, output, **kwargs)
    assert sent() == content
    assert list(tmp_path.glob("*.gds")) == []


@pytest.mark.parametrize("output", OUTPUTS)
def test_demo_chip_component(output):
    """The component itself, whose derived copies the library numbers anew on every call
    ("demo_chip_derived$3"): compared with that numbering taken out."""
    component = brenvik.get_component("demo_chip")
    communication.clear_messages()
    dv.depthview(component, output)
    native = sent()
    assert re.sub(r"\$\d+", "", native) == re.sub(r"\$\d+", "", to_3d_message(component, output))
