"""The native path of depthview (native polygon pool, scene written straight into one JSON buffer)
sends byte for byte the message of the Python-object path (records, asdict, numpy_to_buffer_json,
the host's JSON writer), fails the same way, and leaves no temporary file."""

from __future__ import annotations

import sys
import tempfile
from pathlib import Path

import brenvik
import klayout.db as kdb
import pytest

from tarnwick.core import communication
from tarnwick.core import depthview as dv
from tarnwick.core.depthview import Output, PdkLayer

from .conftest import demo_layout, pdk_layers, random_layout

BENCH = Path(__file__).resolve().parents[3] / "bench"
sys.path.insert(0, str(BENCH))
import layout_generator  # noqa: E402

OUTPUTS = [Output.CELL, Output.LAYER]


@pytest.fixture
def system_tmp(tmp_path, monkeypatch):
    """The system temporary directory, redirected to an empty folder the test can inspect."""
    folder = tmp_path / "system-tmp"
    folder.mkdir()
    monkeypatch.setattr(tempfile, "tempdir", str(folder))
    return folder


def sent(call, *args, **kwargs) -> str:
    communication.clear_messages()
    call(*args, **kwargs)
    messages = communication.messages()
    communication.clear_messages()
    assert len(messages) == 1
    return messages[0].content


def both_paths(source, output, **kwargs) -> tuple[str, str]:
    """(reference content, native content) of depthview; the native one made by the native
    writer, not by its fallback."""
    reference = sent(dv._depthview_reference, source, output, **kwargs)
    communication.clear_messages()
    report = dv._depthview_timed(source, output, **kwargs)
    (message,) = communication.messages()
    communication.clear_messages()
    assert report["path"] == "native"
    assert report["counts"]["bytes"] == len(message.content.encode())
    # depthview itself sends the same text.
    assert sent(dv.depthview, source, output, **kwargs) == message.content
    return reference, message.content


@pytest.fixture(scope="module")
def demo_chip_gds(tmp_path_factory) -> str:
    """demo_chip of the active demo PDK, written once: both paths then read the same cells (the
    library numbers the copies it makes of a component anew on every call)."""
    path = tmp_path_factory.mktemp("demo") / "demo_chip.gds"
    brenvik.get_component("demo_chip").write_gds(str(path))
    return str(path)


@pytest.mark.parametrize("output", OUTPUTS)
@pytest.mark.parametrize("curve_tolerance", [None, 0.01])
def test_demo_chip(demo_chip_gds, output, curve_tolerance, system_tmp):
    reference, native = both_paths(demo_chip_gds, output, curve_tolerance=curve_tolerance)
    assert native == reference
    assert '"instances":[{"shape":[' in native
    assert list(system_tmp.iterdir()) == []


@pytest.mark.parametrize("output", OUTPUTS)
def test_demo_chip_exclusions_and_z_scale(demo_chip_gds, output):
    plain, _ = both_paths(demo_chip_gds, output)
    kwargs = {"z_scale": 2.35, "curve_tolerance": 0.05, "exclude_layers": ["*m1*", "WG?"]}
    reference, native = both_paths(demo_chip_gds, output, **kwargs)
    assert native == reference
    assert native != plain


@pytest.mark.parametrize("output", OUTPUTS)
@pytest.mark.parametrize("polygons,seed", [(40, 1), (300, 2), (1200, 3)])
@pytest.mark.parametrize("curve_tolerance", [None, 0.01])
def test_generated_layouts(tmp_path, output, polygons, seed, curve_tolerance):
    path = layout_generator.generate_gds(polygons, tmp_path / f"gen_{polygons}.gds", seed)
    reference, native = both_paths(str(path), output, curve_tolerance=curve_tolerance)
    assert native == reference


# --- the scene of a KLayout layout, without the component library ------------------------------


def scene_both(layout, layers, output, **kwargs) -> str:
    reference, reference_path = dv._scene_message(layout, layers, output, native=False, **kwargs)
    native, native_path = dv._scene_message(layout, layers, output, **kwargs)
    assert (reference_path, native_path) == ("reference", "native")
    assert native == reference
    return native


@pytest.mark.parametrize("output", OUTPUTS)
@pytest.mark.parametrize("seed", range(6))
def test_random_hierarchies_with_several_top_cells(output, seed):
    layout = random_layout(seed, levels=4, tops=3)
    assert len(layout.top_cells()) >= 3
    for kwargs in ({}, {"curve_tolerance": None}, {"z_scale": 0.3, "exclude_layers": ["m*"]}):
        scene_both(layout, pdk_layers(), output, **kwargs)


@pytest.mark.parametrize("output", OUTPUTS)
def test_another_database_unit(output):
    layout = demo_layout()
    layout.dbu = 0.005
    content = scene_both(layout, pdk_layers(), output, curve_tolerance=None)
    assert content == scene_both(layout, pdk_layers(), output, curve_tolerance=None)
    scene_both(layout, pdk_layers(), output, curve_tolerance=0.02)


NAMES = ['quote"d', "back\\slash", "tab\there", "bell\x07", "del\x7f", "µm-ünï", "日本", "a/b"]


@pytest.mark.parametrize("output", OUTPUTS)
def test_names_that_need_escaping(output):
    layout = kdb.Layout()
    wg, m1 = layout.layer(1, 0), layout.layer(2, 0)
    top = layout.create_cell(NAMES[0])
    for k, name in enumerate(NAMES[1:]):
        child = layout.create_cell(name)
        child.shapes(wg if k % 2 else m1).insert(kdb.Box(0, 0, 100 + k, 50))
        top.insert(kdb.CellInstArray(child.cell_index(), kdb.Trans(k % 4, False, 1000 * k, 0)))
    layers = {
        (1, 0): PdkLayer('W"G\\\n', 0.22, 0.0, "#ff0000"),
        (2, 0): PdkLayer("M1 µ", 1e-7, -1.5e22, "réd"),
    }
    content = scene_both(layout, layers, output)
    assert '\\"' in content and "µ" in content


class Colour(str):
    """A colour text of a type the native writer leaves to the Python-object path."""


@pytest.mark.parametrize("output", OUTPUTS)
def test_values_the_writer_does_not_know_take_the_python_object_path(output):
    layout = demo_layout()
    layers = pdk_layers()
    layers[(1, 0)] = PdkLayer("WG", 0.22, 0.0, Colour("#ff0000"))
    reference, _ = dv._scene_message(layout, layers, output, native=False)
    content, path = dv._scene_message(layout, layers, output)
    assert path == "fallback"
    assert content == reference


def test_depthview_falls_back_on_unknown_colour_types(demo_chip_gds, monkeypatch):
    from brenvik.technology import Color

    real = Color.as_hex
    monkeypatch.setattr(Color, "as_hex", lambda self: Colour(real(self)))
    reference = sent(dv._depthview_reference, demo_chip_gds, Output.LAYER)
    report = dv._depthview_timed(demo_chip_gds, Output.LAYER)
    (message,) = communication.messages()
    communication.clear_messages()
    assert report["path"] == "fallback"
    assert message.content == reference


@pytest.mark.parametrize("output", OUTPUTS)
def test_text_without_json_form_fails_alike(output):
    layers = pdk_layers()
    layers[(1, 0)] = PdkLayer("W\ud800G", 0.22, 0.0, "#ff0000")
    errors = []
    for native in (False, True):
        with pytest.raises(Exception) as caught:
            dv._scene_message(demo_layout(), layers, output, native=native)
        errors.append((type(caught.value), str(caught.value)))
    assert errors[0] == errors[1]
    assert "surrogates" in errors[0][1]


# --- failures -----------------------------------------------------------------------------------


def failure(call, *args, **kwargs):
    communication.clear_messages()
    with pytest.raises(Exception) as caught:
        call(*args, **kwargs)
    assert communication.messages() == []
    return type(caught.value), str(caught.value)


@pytest.mark.parametrize(
    "args,kwargs",
    [
        ((Output.CELL,), {"exclude_layers": "M1"}),
        ((3,), {}),
        ((None,), {}),
    ],
)
def test_failures_are_the_same(demo_chip_gds, system_tmp, args, kwargs):
    reference = failure(dv._depthview_reference, demo_chip_gds, *args, **kwargs)
    native = failure(dv.depthview, demo_chip_gds, *args, **kwargs)
    assert native == reference
    assert list(system_tmp.iterdir()) == []


def test_missing_file_and_broken_parser_fail_alike(tmp_path, system_tmp, monkeypatch):
    missing = str(tmp_path / "missing.gds")
    assert failure(dv.depthview, missing, Output.CELL) == failure(
        dv._depthview_reference, missing, Output.CELL
    )

    def broken(*args, **kwargs):
        raise RuntimeError("parser broke")

    monkeypatch.setattr(dv, "ParseGDS", broken)
    component = brenvik.get_component("demo_chip")
    native = failure(dv.depthview, component, Output.LAYER)
    assert native == (RuntimeError, "parser broke")
    assert native == failure(dv._depthview_reference, component, Output.LAYER)
    assert list(system_tmp.iterdir()) == []


def test_a_replaced_parser_takes_the_python_object_path(demo_chip_gds, monkeypatch):
    """A ParseGDS replaced by another class is used as given; the message is still the same."""
    real = dv.ParseGDS

    class Spied(real):
        pass

    reference = sent(dv._depthview_reference, demo_chip_gds, Output.CELL)
    monkeypatch.setattr(dv, "ParseGDS", Spied)
    report = dv._depthview_timed(demo_chip_gds, Output.CELL)
    (message,) = communication.messages()
    communication.clear_messages()
    assert report["path"] == "reference"
    assert message.content == reference


def layout_with(top_shape, child_shape) -> kdb.Layout:
    """A top cell and a placed child, each with many regular polygons and one given shape: the
    top cell's shapes are extracted before the child's."""
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
        (kdb.Polygon(), None, IndexError),
    ],
)
def test_simplification_and_parse_errors_come_in_extraction_order(
    output, top_shape, child_shape, kind
):
    layers = {(1, 0): PdkLayer("WG", 0.22, 0.0, "#ff0000")}
    errors = []
    for native in (False, True):
        with pytest.raises(Exception) as caught:
            dv._scene_message(layout_with(top_shape, child_shape), layers, output, native=native)
        errors.append((type(caught.value), str(caught.value)))
    assert errors[0] == errors[1]
    assert errors[0][0] is kind
    # Without simplification an empty polygon is no error.
    if kdb.Edge not in (type(top_shape), type(child_shape)):
        scene_both(layout_with(top_shape, child_shape), layers, output, curve_tolerance=None)


@pytest.mark.parametrize("output", OUTPUTS)
def test_demo_chip_component(output):
    """The component itself: the library numbers the copies it makes anew on every call
    ("demo_chip_derived$3"), so the two texts are compared with that numbering taken out."""
    import re

    component = brenvik.get_component("demo_chip")
    reference = sent(dv._depthview_reference, component, output)
    native = sent(dv.depthview, component, output)
    assert re.sub(r"\$\d+", "", native) == re.sub(r"\$\d+", "", reference)


@pytest.mark.parametrize("output", OUTPUTS)
def test_gds_file_with_another_database_unit_and_escaped_names(tmp_path, output):
    layout = layout_generator.make_layout(200, 5)
    layout.dbu = 0.005
    for k, cell in enumerate(layout.each_cell()):
        if cell.name.startswith("block"):
            cell.name = f'{cell.name} "q" \\ µ{k}'
    path = tmp_path / "dbu.gds"
    layout.write(str(path))
    reference, native = both_paths(str(path), output, z_scale=0.7)
    assert native == reference
    assert '\\"q\\"' in native


# --- to_3D_viewer: parsed into a native pool, returned as the Python-object path returns it ------


def assert_same_scene(a, b):
    """Equal maps or records: same keys and order, same values, arrays of the same type."""
    if isinstance(a, dict):
        assert type(b) is dict and list(a) == list(b)
        for key in a:
            assert_same_scene(a[key], b[key])
    elif isinstance(a, list):
        assert type(b) is list and len(a) == len(b)
        for x, y in zip(a, b):
            assert_same_scene(x, y)
    elif hasattr(a, "dtype"):
        assert a.dtype == b.dtype and a.shape == b.shape and a.tobytes() == b.tobytes()
    else:
        assert type(a) is type(b) and a == b


@pytest.mark.parametrize("output", OUTPUTS)
@pytest.mark.parametrize("curve_tolerance", [None, 0.01])
def test_to_3d_viewer_returns_the_same_scene(demo_chip_gds, tmp_path, output, curve_tolerance):
    generated = layout_generator.generate_gds(500, tmp_path / "gen.gds", 4)
    for source in (demo_chip_gds, str(generated)):
        kwargs = {"z_scale": 1.5, "curve_tolerance": curve_tolerance, "exclude_layers": ["x*"]}
        reference = dv._to_3D_viewer_reference(source, output, as_dict=True, **kwargs)
        native = dv.to_3D_viewer(source, output, as_dict=True, **kwargs)
        assert len(native["instances"]) > 0
        assert_same_scene(native, reference)
        record = dv.to_3D_viewer(source, output, **kwargs)
        assert record == dv._to_3D_viewer_reference(source, output, **kwargs)
        assert_same_scene(PARSER_FOR_ASDICT.asdict(record), reference)


PARSER_FOR_ASDICT = dv.ParseGDS(kdb.Layout(), {})


def test_to_3d_viewer_failures_are_the_same(demo_chip_gds, system_tmp):
    for args in ((3,), (Output.CELL, None, None, 1.0, 0.01, "M1")):
        errors = []
        for call in (dv.to_3D_viewer, dv._to_3D_viewer_reference):
            with pytest.raises(Exception) as caught:
                call(demo_chip_gds, *args)
            errors.append((type(caught.value), str(caught.value)))
        assert errors[0] == errors[1]
    assert list(system_tmp.iterdir()) == []
