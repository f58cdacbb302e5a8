"""to_3D_viewer and depthview: the scene of a component, the one viewer message, and the
temporary GDS file that never outlives a call."""

from __future__ import annotations

import base64
import json
import pathlib
import re
import tempfile
from collections import Counter

import brenvik
import klayout.db as kdb
import numpy as np
import orjson
import pytest
from brenvik import Component

from tarnwick.core import communication
from tarnwick.core import depthview as dv
from tarnwick.core.depthview import Output, depthview, get_layer_properties, to_3D_viewer

CONFIG_JSON = (
    '{"_splash":false,"ambient_intensity":1,"angular_tolerance":0.2,"axes":false,"axes0":true,'
    '"black_edges":false,"center_grid":false,"collapse":3,"control":"trackball",'
    '"default_color":"#e8b024","default_edgecolor":"#707070","default_facecolor":"Violet",'
    '"default_opacity":0.5,"default_thickedgecolor":"MediumOrchid",'
    '"default_vertexcolor":"MediumOrchid","direct_intensity":1.1,"explode":false,"glass":true,'
    '"grid":[false,false,false],"helper_scale":10,"metalness":0.3,'
    '"modifier_keys":{"shift":"shiftKey","ctrl":"ctrlKey","meta":"metaKey","alt":"altKey"},'
    '"new_tree_behavior":true,"ortho":true,"pan_speed":1,"render_edges":true,'
    '"render_joints":false,"render_mates":false,"render_normals":false,"reset_camera":"reset",'
    '"rotate_speed":1,"roughness":0.65,"show_parent":false,"show_sketch_local":true,"ticks":10,'
    '"timeit":false,"tools":true,"transparent":false,"up":"Z","zoom_speed":1,"normal_len":0}'
)


@pytest.fixture
def tmpdir_for_temp_files(tmp_path, monkeypatch):
    """The system temporary directory, redirected to an empty folder the test can inspect."""
    folder = tmp_path / "system-tmp"
    folder.mkdir()
    monkeypatch.setattr(tempfile, "tempdir", str(folder))
    return folder


def gds_left(folder: pathlib.Path) -> list[str]:
    return sorted(p.name for p in folder.iterdir())


def decode(record) -> np.ndarray:
    assert list(record) == ["shape", "dtype", "buffer", "codec"]
    assert record["codec"] == "b64" and record["dtype"] == "float32"
    values = np.frombuffer(base64.b64decode(record["buffer"], validate=True), np.float32)
    assert record["shape"] == [values.size]
    return values


def small_component() -> Component:
    """A two-level component on WG and M1 with an array, a rotation and a mirror."""
    from brenvik.demo_pdk.layers import DemoLayer as L

    child = Component(name="entry_child")
    child.add_polygon([(0, 0), (3, 0), (3, 1), (1, 1), (1, 2), (0, 2)], L.WG)
    child.add_polygon([(0, 0), (0.5, 0), (0.5, 0.5), (0, 0.5)], L.M1)
    top = Component(name="entry_top")
    top.add_polygon([(-10, -10), (40, -10), (40, -8), (-10, -8)], L.WG)
    top.add_ref(child, x=5, y=5, rotation=90, name="r")
    top.add_ref(child, x=-5, y=20, mirror=True, name="m")
    top.add_array(child, 3, 2, spacing=(6.0, 4.0), x=10, y=10, rotation=180, name="a")
    return top


def same_scene(a, b) -> bool:
    """Two scene maps are the same apart from the numbering the library adds to the names of
    copied cells ("top_derived$2")."""

    def text(scene):
        encoded = orjson.dumps(scene, option=orjson.OPT_SERIALIZE_NUMPY).decode()
        return re.sub(r"\$\d+", "", encoded)

    return text(a) == text(b)


# --- the message --------------------------------------------------------------------------


def sent_message():
    messages = communication.messages()
    assert len(messages) == 1, messages
    message = messages[0]
    assert type(message).__name__ == "DepthviewMessage"
    assert isinstance(message.content, str)
    return message.content


@pytest.mark.parametrize("output", [Output.CELL, Output.LAYER])
def test_depthview_sends_one_compact_message(output, tmpdir_for_temp_files):
    depthview(small_component(), output)
    content = sent_message()
    assert orjson.dumps(orjson.loads(content)).decode() == content  # compact, orjson's bytes
    assert content.startswith('{"type":"data","data":{"name":')
    assert content.endswith(',"config":' + CONFIG_JSON + "}")
    message = json.loads(content)
    assert list(message) == ["type", "data", "config"]
    data = message["data"]
    assert list(data) == ["name", "id", "version", "loc", "parts", "format", "instances"]
    assert data["name"] == ("Cells" if output is Output.CELL else "Layers")
    assert data["version"] == "3" and data["format"] == "GDS"
    for record in data["instances"]:
        assert len(decode(record)) % 2 == 0
    assert gds_left(tmpdir_for_temp_files) == []


def test_config_types_and_order():
    config = json.loads(CONFIG_JSON)
    assert len(config) == 41
    depthview(small_component(), Output.LAYER)
    sent = json.loads(sent_message())["config"]
    assert list(sent) == list(config)
    for key in (
        "ambient_intensity",
        "collapse",
        "helper_scale",
        "pan_speed",
        "rotate_speed",
        "ticks",
        "zoom_speed",
        "normal_len",
    ):
        assert type(sent[key]) is int, key
    for key in (
        "angular_tolerance",
        "default_opacity",
        "direct_intensity",
        "metalness",
        "roughness",
    ):
        assert type(sent[key]) is float, key


def test_depthview_requires_output():
    with pytest.raises(TypeError):
        depthview(small_component())  # type: ignore[call-arg]
    assert communication.messages() == []


def test_depthview_failure_sends_nothing_and_leaves_no_file(tmpdir_for_temp_files):
    with pytest.raises(ValueError, match=r"^Only Output.CELL and Output.LAYER are allowed$"):
        depthview(small_component(), "LAYER")
    assert communication.messages() == []
    assert gds_left(tmpdir_for_temp_files) == []


def test_depthview_checks_the_active_pdk(monkeypatch):
    pdk = brenvik.get_active_pdk()
    monkeypatch.setattr(pdk, "layer_stack", brenvik.get_layer_views())
    with pytest.raises(AssertionError) as info:
        depthview(small_component(), Output.LAYER)
    assert str(info.value) == ""
    monkeypatch.undo()
    monkeypatch.setattr(pdk, "layer_views", None)
    with pytest.raises(AssertionError):
        depthview(small_component(), Output.LAYER)
    assert communication.messages() == []


def test_depthview_uses_the_active_pdk_not_the_library_getters(monkeypatch):
    def refuse():
        raise AssertionError("the library's PDK getters must not be consulted by depthview")

    monkeypatch.setattr(brenvik, "get_layer_views", refuse)
    monkeypatch.setattr(brenvik, "get_layer_stack", refuse)
    depthview(small_component(), Output.CELL)
    sent_message()


def test_depthview_arguments_reach_the_scene():
    depthview(small_component(), Output.CELL, 2, None, ["m1*"])
    data = json.loads(sent_message())["data"]
    names = set()

    def walk(node):
        names.add(node["name"])
        for child in node.get("parts", []):
            walk(child)

    walk(data)
    assert not any(name.lower().startswith("m1") for name in names)
    stack = brenvik.get_layer_stack()
    wg = get_layer_properties(stack, brenvik.get_layer_views())[(1, 0)]
    heights = [p["shape"]["height"] for p in iter_parts(data)]
    assert heights and all(h == pytest.approx(2 * wg.thickness) for h in heights)


# --- to_3D_viewer --------------------------------------------------------------------------


def test_to_3d_viewer_defaults():
    component = small_component()
    result = to_3D_viewer(component)
    assert type(result).__name__ == "ViewerData"
    assert result.name == "Layers" and result.id == "/Layers"
    as_map = to_3D_viewer(component, as_dict=True)
    assert isinstance(as_map, dict)
    assert list(as_map) == ["name", "id", "version", "loc", "parts", "format", "instances"]
    # The same scene as the one built with the explicit defaults.
    explicit = to_3D_viewer(
        component,
        Output.LAYER,
        brenvik.get_layer_views(),
        brenvik.get_layer_stack(),
        1.0,
        0.01,
        None,
        as_dict=True,
    )
    assert same_scene(as_map, explicit)


def test_as_dict_is_keyword_only():
    with pytest.raises(TypeError):
        to_3D_viewer(small_component(), Output.LAYER, None, None, 1.0, 0.01, None, True)


def test_empty_component_map_has_no_parts_or_instances():
    result = to_3D_viewer(Component(name="empty_one"), Output.CELL, as_dict=True)
    assert list(result) == ["name", "id", "version", "loc", "format"]


def test_gds_path_is_imported_first(tmp_path):
    path = tmp_path / "small.gds"
    small_component().write_gds(str(path))
    from_file = to_3D_viewer(str(path), Output.LAYER, as_dict=True)
    direct = to_3D_viewer(small_component(), Output.LAYER, as_dict=True)
    assert len(from_file["instances"]) == len(direct["instances"])
    assert placed_polygons(from_file) == placed_polygons(direct)


def test_missing_gds_path_fails_before_any_temporary_file(tmpdir_for_temp_files, tmp_path):
    with pytest.raises(FileNotFoundError):
        to_3D_viewer(str(tmp_path / "nope.gds"))
    assert gds_left(tmpdir_for_temp_files) == []


def test_pdk_without_layer_views_or_stack(monkeypatch, tmpdir_for_temp_files):
    monkeypatch.setattr(brenvik, "get_layer_views", lambda: None)
    with pytest.raises(ValueError) as info:
        to_3D_viewer(small_component())
    assert str(info.value) == (
        "PDK has no LayerViews configured (got NoneType). "
        "3D viewer requires a PDK with layer views."
    )
    monkeypatch.undo()
    monkeypatch.setattr(brenvik, "get_layer_stack", lambda: {"not": "a stack"})
    with pytest.raises(ValueError) as info:
        to_3D_viewer(small_component())
    assert str(info.value) == (
        "PDK has no LayerStack configured (got dict). 3D viewer requires a PDK with a layer stack."
    )
    assert gds_left(tmpdir_for_temp_files) == []


def test_caller_layer_views_of_another_type_are_not_refused():
    real = brenvik.get_layer_views()

    class Views:
        def get_from_tuple(self, spec):
            return real.get_from_tuple(spec)

    result = to_3D_viewer(small_component(), Output.CELL, Views(), as_dict=True)
    assert result["instances"]


@pytest.mark.parametrize(
    "kwargs",
    [
        {"exclude_layers": ("WG*",)},
        {"exclude_layers": "WG*"},
        {"curve_tolerance": "0.1"},
        {"z_scale": "2"},
    ],
)
def test_bad_arguments_are_type_errors_before_any_work(kwargs, tmpdir_for_temp_files):
    calls = []

    class Stack:
        def __init__(self, stack):
            self.layers = stack.layers
            self.stack = stack

        def get_component_with_derived_layers(self, component):
            calls.append(component)
            return self.stack.get_component_with_derived_layers(component)

    with pytest.raises(TypeError):
        to_3D_viewer(
            small_component(), Output.CELL, None, Stack(brenvik.get_layer_stack()), **kwargs
        )
    with pytest.raises(TypeError):
        depthview(small_component(), Output.CELL, **kwargs)
    assert calls == []
    assert communication.messages() == []
    assert gds_left(tmpdir_for_temp_files) == []


def test_numbers_are_converted():
    component = small_component()
    ints = to_3D_viewer(component, Output.CELL, z_scale=2, curve_tolerance=0, as_dict=True)
    floats = to_3D_viewer(component, Output.CELL, z_scale=2.0, curve_tolerance=0.0, as_dict=True)
    assert same_scene(ints, floats)
    numpy_numbers = to_3D_viewer(
        component,
        Output.CELL,
        z_scale=np.float32(2.0),
        curve_tolerance=np.float64(0.0),
        as_dict=True,
    )
    assert same_scene(numpy_numbers, floats)


# --- the temporary GDS file ----------------------------------------------------------------


@pytest.mark.parametrize("output", [Output.CELL, Output.LAYER])
def test_no_temporary_file_after_success(output, tmpdir_for_temp_files):
    to_3D_viewer(small_component(), output)
    assert gds_left(tmpdir_for_temp_files) == []


def test_temporary_file_is_a_gds_file_while_parsing(monkeypatch, tmpdir_for_temp_files):
    seen = []
    real = dv.ParseGDS

    def spy(layout, layers, **kwargs):
        seen.append(gds_left(tmpdir_for_temp_files))
        return real(layout, layers, **kwargs)

    monkeypatch.setattr(dv, "ParseGDS", spy)
    to_3D_viewer(small_component())
    assert len(seen) == 1 and len(seen[0]) == 1 and seen[0][0].endswith(".gds")
    assert gds_left(tmpdir_for_temp_files) == []


def test_no_temporary_file_after_parser_failure(monkeypatch, tmpdir_for_temp_files):
    def broken(*args, **kwargs):
        raise RuntimeError("parser broke")

    monkeypatch.setattr(dv, "ParseGDS", broken)
    with pytest.raises(RuntimeError, match="^parser broke$"):
        to_3D_viewer(small_component())
    with pytest.raises(RuntimeError, match="^parser broke$"):
        depthview(small_component(), Output.CELL)
    assert communication.messages() == []
    assert gds_left(tmpdir_for_temp_files) == []


def test_no_temporary_file_after_unreadable_file(monkeypatch, tmpdir_for_temp_files):
    stack = brenvik.get_layer_stack()

    class Garbage:
        def write_gds(self, path, **kwargs):
            pathlib.Path(path).write_bytes(b"this is not a GDS file")

    class Stack:
        layers = stack.layers

        def get_component_with_derived_layers(self, component):
            return Garbage()

    with pytest.raises(RuntimeError):
        to_3D_viewer(small_component(), Output.CELL, None, Stack())
    assert gds_left(tmpdir_for_temp_files) == []


def test_no_temporary_file_when_writing_it_fails(tmpdir_for_temp_files):
    """Once created, the temporary file is removed also when writing the component fails."""
    stack = brenvik.get_layer_stack()

    class FailingWrite:
        def write_gds(self, path, **kwargs):
            pathlib.Path(path).write_bytes(b"partial")
            raise OSError("disk full")

    class Stack:
        layers = stack.layers

        def get_component_with_derived_layers(self, component):
            return FailingWrite()

    with pytest.raises(OSError, match="^disk full$"):
        to_3D_viewer(small_component(), Output.LAYER, None, Stack())
    assert gds_left(tmpdir_for_temp_files) == []


def test_file_already_gone_does_not_replace_the_error(monkeypatch, tmpdir_for_temp_files):
    def delete_then_fail(*args, **kwargs):
        for path in tmpdir_for_temp_files.iterdir():
            path.unlink()
        raise RuntimeError("the original error")

    monkeypatch.setattr(dv, "ParseGDS", delete_then_fail)
    with pytest.raises(RuntimeError, match="^the original error$"):
        to_3D_viewer(small_component())


def test_file_already_gone_does_not_replace_the_result(monkeypatch, tmpdir_for_temp_files):
    real = dv.ParseGDS

    def delete_then_parse(layout, layers, **kwargs):
        for path in tmpdir_for_temp_files.iterdir():
            path.unlink()
        return real(layout, layers, **kwargs)

    monkeypatch.setattr(dv, "ParseGDS", delete_then_parse)
    result = to_3D_viewer(small_component(), Output.CELL, as_dict=True)
    assert result["instances"]
    depthview(small_component(), Output.CELL)
    sent_message()


def test_other_clean_up_failures_are_reported(monkeypatch, tmpdir_for_temp_files):
    real_unlink = pathlib.Path.unlink

    def refuse(self, *args, **kwargs):
        if self.parent == tmpdir_for_temp_files:
            raise PermissionError(f"may not remove {self.name}")
        return real_unlink(self, *args, **kwargs)

    monkeypatch.setattr(pathlib.Path, "unlink", refuse)
    with pytest.raises(PermissionError, match="may not remove"):
        to_3D_viewer(small_component())

    def broken(*args, **kwargs):
        raise RuntimeError("parser broke")

    monkeypatch.setattr(dv, "ParseGDS", broken)
    with pytest.raises(PermissionError) as info:
        to_3D_viewer(small_component())
    assert isinstance(info.value.__context__, RuntimeError)
    assert str(info.value.__context__) == "parser broke"
    with pytest.raises(PermissionError):
        depthview(small_component(), Output.LAYER)
    assert communication.messages() == []
    monkeypatch.undo()
    assert len(gds_left(tmpdir_for_temp_files)) == 3  # one per refused removal


def test_invalid_output_is_checked_after_reading_and_the_file_goes(tmpdir_for_temp_files):
    for output in (None, 1, "CELL", Output):
        with pytest.raises(ValueError, match=r"^Only Output.CELL and Output.LAYER are allowed$"):
            to_3D_viewer(small_component(), output)
    assert gds_left(tmpdir_for_temp_files) == []


# --- round trip against KLayout's flattening ---------------------------------------------------


def iter_parts(node, layer=None):
    """Every leaf of a scene map with the (layer, datatype) it belongs to."""
    spec = re.search(r"\((\d+), (\d+)\)$", node.get("name", ""))
    if spec and node.get("name") != "components":
        layer = (int(spec.group(1)), int(spec.group(2)))
    if "shape" in node:
        node = dict(node)
        node["layer"] = layer
        yield node
    for child in node.get("parts", []):
        yield from iter_parts(child, layer)


def canonical(points) -> tuple:
    """A polygon as a tuple of integer nanometre points, starting at its smallest point and
    running counter-clockwise, so that equal polygons compare equal."""
    pts = [(round(x * 1000), round(y * 1000)) for x, y in points]
    area = sum(x0 * y1 - x1 * y0 for (x0, y0), (x1, y1) in zip(pts, pts[1:] + pts[:1]))
    if area < 0:
        pts.reverse()
    start = pts.index(min(pts))
    return tuple(pts[start:] + pts[:start])


def placed_polygons(scene, decoded=False) -> Counter:
    """Every placed polygon of a scene map (arrays as numpy, or buffer records when `decoded`)
    with its layer, bottom and top, as a multiset."""
    instances = scene.get("instances", [])
    if decoded:
        instances = [decode(r) for r in instances]
    placed = Counter()
    for leaf in iter_parts(scene):
        shape = leaf["shape"]
        matrices = shape.get("matrices", np.zeros(0, np.float32))
        matrices = decode(matrices) if decoded else np.asarray(matrices)
        assert matrices.dtype == np.float32 and matrices.size % 6 == 0
        placements = matrices.reshape(-1, 2, 3).astype(np.float64)
        if len(placements) == 0:
            placements = np.array([[[1, 0, 0], [0, 1, 0]]], np.float64)
        (x, y, zmin), _rotation = leaf["loc"]
        assert (x, y) == (0, 0)
        for ref in shape["refs"]:
            points = np.asarray(instances[ref], np.float64).reshape(-1, 2)
            homogeneous = np.hstack([points, np.ones((len(points), 1))])
            for matrix in placements:
                moved = homogeneous @ matrix.T
                key = (leaf["layer"], round(zmin, 6), round(zmin + shape["height"], 6))
                placed[key + (canonical(moved.tolist()),)] += 1
    return placed


def klayout_polygons(component, z_scale=1.0) -> Counter:
    """What KLayout finds on each PDK layer when it flattens the layout that depthview reads."""
    stack, views = brenvik.get_layer_stack(), brenvik.get_layer_views()
    layers = get_layer_properties(stack, views)
    derived = stack.get_component_with_derived_layers(component)
    path = pathlib.Path(tempfile.mkdtemp()) / "flat.gds"
    derived.write_gds(str(path))
    layout = kdb.Layout()
    layout.read(str(path))
    path.unlink()
    found = Counter()
    for top in layout.top_cells():
        flat = layout.cell(layout.add_cell(top.name + "_flat"))
        flat.copy_tree(top)
        flat.flatten(True)
        for index in layout.layer_indices():
            info = layout.get_info(index)
            spec = (info.layer, info.datatype)
            if spec not in layers:
                continue
            pdk_layer = layers[spec]
            zmin = round(z_scale * pdk_layer.zmin, 6)
            top_z = round(z_scale * pdk_layer.zmin + z_scale * pdk_layer.thickness, 6)
            for shape in flat.shapes(index).each():
                if shape.is_text():
                    continue
                hull = [
                    (p.x * layout.dbu, p.y * layout.dbu) for p in shape.polygon.each_point_hull()
                ]
                found[(spec, zmin, top_z, canonical(hull))] += 1
    return found


def demo_chip():
    return brenvik.get_component("demo_chip")


@pytest.mark.parametrize("output", [Output.CELL, Output.LAYER])
@pytest.mark.parametrize("make", [small_component, demo_chip], ids=["small", "demo_chip"])
def test_sent_message_rebuilds_klayouts_flattening(output, make):
    component = make()
    depthview(component, output, z_scale=1.5, curve_tolerance=None)
    data = json.loads(sent_message())["data"]
    rebuilt = placed_polygons(data, decoded=True)
    expected = klayout_polygons(component, z_scale=1.5)
    assert sum(expected.values()) > 0
    missing = expected - rebuilt
    extra = rebuilt - expected
    assert not missing and not extra, (list(missing)[:3], list(extra)[:3])


def test_round_trip_of_a_gds_file_with_another_database_unit(tmp_path):
    from brenvik.demo_pdk.layers import DemoLayer as L

    layout = kdb.Layout()
    layout.dbu = 0.005
    wg = layout.layer(L.WG.layer, L.WG.datatype)
    leaf = layout.create_cell("leaf")
    leaf.shapes(wg).insert(kdb.Box(0, 0, 400, 100))
    top = layout.create_cell("top5")
    top.insert(
        kdb.CellInstArray(
            leaf.cell_index(),
            kdb.Trans(1, True, kdb.Vector(2000, 0)),
            kdb.Vector(0, 600),
            kdb.Vector(300, 0),
            2,
            3,
        )
    )
    path = tmp_path / "dbu5.gds"
    layout.write(str(path))
    depthview(str(path), Output.CELL, curve_tolerance=None)
    data = json.loads(sent_message())["data"]
    rebuilt = placed_polygons(data, decoded=True)
    expected = klayout_polygons(brenvik.import_gds(path))
    assert sum(expected.values()) == 6
    assert rebuilt == expected


def test_message_is_written_whatever_was_imported_first(tmp_path):
    """The JSON writer's keyword names reach orjson interned, also in a fresh process that
    imported KLayout before anything else (orjson refused them there)."""
    import subprocess
    import sys

    gds = tmp_path / "first.gds"
    small_component().write_gds(str(gds))
    script = (
        "import klayout.db\n"
        "from tarnwick.core import communication, depthview\n"
        f"depthview.depthview({str(gds)!r}, depthview.Output.LAYER)\n"
        "print(len(communication.messages()))\n"
    )
    done = subprocess.run(
        [sys.executable, "-c", script], capture_output=True, text=True, check=False, timeout=300
    )
    assert done.returncode == 0, done.stderr[-2000:]
    assert done.stdout.strip() == "1"
