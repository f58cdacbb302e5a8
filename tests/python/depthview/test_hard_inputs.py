"""Hard inputs: deep hierarchies, layouts that multiply into billions of placements, numbers that
are not finite, values that contain themselves. Each gives its scene or a clear error, never a
crash or a hang."""

from __future__ import annotations

import itertools
import re
import subprocess
import sys
import tempfile

import klayout.db as kdb
import pytest

from tarnwick.core import communication
from tarnwick.core import depthview as dv
from tarnwick.core.depthview import Output, ParseGDS, PdkLayer

LAYERS = {(1, 0): PdkLayer("WG", 0.22, 0.0, "#ff0000")}


def chain(levels: int, copies: int = 1) -> kdb.Layout:
    """Cells c0 .. c(levels-1), each placing the next `copies` times; the last one has a box."""
    layout = kdb.Layout()
    cells = [layout.create_cell(f"c{k}") for k in range(levels)]
    cells[-1].shapes(layout.layer(1, 0)).insert(kdb.Box(0, 0, 100, 100))
    for parent, child in itertools.pairwise(cells):
        for copy in range(copies):
            parent.insert(kdb.CellInstArray(child.cell_index(), kdb.Trans(0, False, 10 * copy, 7)))
    return layout


def deepest(node, field):
    depth = 0
    while getattr(node, field, None):
        node = getattr(node, field)[-1]
        depth += 1
    return node, depth


@pytest.mark.parametrize("output", [Output.CELL, Output.LAYER])
def test_a_deep_hierarchy_gives_its_scene(output):
    levels = 5000
    layout = chain(levels)
    parser = ParseGDS(layout, LAYERS)
    if output is Output.CELL:
        parsed = parser.export_cells()
        leaf, depth = deepest(parsed.cells[0], "references")
    else:
        parsed = parser.export_layers()
        leaf, depth = deepest(parsed.layers[0]["0"], "references")
    assert depth == levels - 1 and leaf.trans_count == 1
    assert leaf.trans[0].to_dict()["displacement"] == [0.0, 7.0 * (levels - 1)]
    scene = parser.to_viewer(output)
    part, _ = deepest(scene, "parts")
    assert part.id.endswith("/c4999/" + ("WG (1, 0)" if output is Output.CELL else "components"))
    assert len(parser.asdict(scene)["parts"]) == 1
    message = dv.viewer_message(layout, LAYERS, output)
    assert len(re.findall(r'"name":"c\d+"', message)) == levels and part.id in message


def test_a_scene_that_multiplies_is_refused_before_it_is_built(tmp_path, monkeypatch):
    """Forty cells each placing the next twice: 2^40 - 2 placements from a few kilobytes."""
    layout = chain(40, copies=2)
    with pytest.raises(ValueError, match="1099511627774 placements of cells, more than the limit"):
        dv.viewer_message(layout, LAYERS, Output.LAYER)
    with pytest.raises(ValueError, match="TARNWICK_MAX_PLACEMENTS"):
        ParseGDS(layout, LAYERS).export_cells(combine=False)
    # Through a GDS file and the component library: no message, no temporary file.
    path = tmp_path / "doubling.gds"
    layout.write(str(path))
    monkeypatch.setattr(tempfile, "tempdir", str(tmp_path))
    communication.clear_messages()
    with pytest.raises(ValueError, match="placements of cells"):
        dv.depthview(str(path), Output.CELL)
    assert communication.messages() == []
    assert [p.name for p in tmp_path.iterdir()] == ["doubling.gds"]
    # The limit is a setting.
    monkeypatch.setenv("TARNWICK_MAX_PLACEMENTS", "20")
    with pytest.raises(ValueError, match="62 placements of cells, more than the limit of 20"):
        dv.viewer_message(chain(6, copies=2), LAYERS, Output.CELL)


def test_ids_that_would_not_fit_are_refused(monkeypatch):
    monkeypatch.setenv("TARNWICK_MAX_MESSAGE_BYTES", "100000")
    with pytest.raises(ValueError, match="TARNWICK_MAX_MESSAGE_BYTES"):
        dv.viewer_message(chain(400), LAYERS, Output.CELL)
    parser = ParseGDS(chain(400), LAYERS)
    parser.export_cells()
    with pytest.raises(ValueError, match="more than the limit"):
        parser.to_viewer(Output.CELL)


@pytest.mark.parametrize("bad", [float("nan"), float("inf"), float("-inf"), 1e309])
def test_numbers_that_are_not_finite_are_refused_before_any_work(bad, tmp_path, monkeypatch):
    monkeypatch.setattr(tempfile, "tempdir", str(tmp_path))
    communication.clear_messages()
    layout = chain(3)
    calls = [
        lambda: dv.depthview("no-such-file.gds", Output.CELL, z_scale=bad),
        lambda: dv.depthview("no-such-file.gds", Output.CELL, curve_tolerance=bad),
        lambda: dv.to_3D_viewer("no-such-file.gds", Output.CELL, z_scale=bad),
        lambda: dv.viewer_message(layout, LAYERS, Output.CELL, curve_tolerance=bad),
        lambda: ParseGDS(layout, LAYERS, z_scale=bad),
    ]
    for call in calls:
        with pytest.raises(ValueError, match="must be a finite number"):
            call()
    with pytest.raises(ValueError, match="not negative"):
        dv.depthview("no-such-file.gds", Output.CELL, curve_tolerance=-0.01)
    assert communication.messages() == [] and list(tmp_path.iterdir()) == []


def test_values_that_contain_themselves_or_nest_deeply():
    parser = ParseGDS(kdb.Layout(), {})
    cycle: list = []
    cycle.append(cycle)
    cell = dv.Cell(0, "a")
    cell.references.append(cell)
    for value in (cycle, {"x": [cycle]}, cell):
        with pytest.raises(ValueError, match="contains itself"):
            parser.asdict(value)
        with pytest.raises(ValueError, match="contains itself"):
            parser.create_json(value)
    deep: list = []
    for _ in range(100_000):
        deep = [deep]
    mapped = parser.asdict(deep)
    for _ in range(100_000):
        mapped = mapped[0]
    assert mapped == []
    with pytest.raises(Exception, match="[Rr]ecursion"):
        parser.create_json(deep)  # the JSON writer's own depth limit, not a crash
    # Records that contain themselves are refused by the operations that walk them.
    parser = ParseGDS(chain(3), LAYERS)
    parsed = parser.export_cells(combine=False)
    top = parsed.cells[0]
    top.references[0].references[0].references.append(top.references[0])
    with pytest.raises(ValueError, match="contain themselves"):
        parser.combine_references(Output.CELL)


def test_the_records_route_has_a_limit_of_its_own(monkeypatch):
    """Every path and placement becomes a Python object there: refused with one line, while the
    fast route still draws the same layout."""
    monkeypatch.setenv("TARNWICK_MAX_RECORD_PLACEMENTS", "100")
    layout = chain(8, copies=2)  # 254 placements
    assert '"type":"data"' in dv.viewer_message(layout, LAYERS, Output.CELL)
    for call in (
        lambda: ParseGDS(layout, LAYERS).export_cells(),
        lambda: ParseGDS(layout, LAYERS).export_layers(combine=False),
    ):
        with pytest.raises(ValueError, match="254 placements.*TARNWICK_MAX_RECORD_PLACEMENTS"):
            call()
    deep = {"parts": []}
    for _ in range(2_000):  # far deeper than the interpreter's recursion limit
        deep = {"parts": [deep, (1.0, 2.0)]}
    assert dv.numpy_to_buffer_json(deep)["parts"][1] == [1.0, 2.0]


def test_an_array_of_millions_is_refused_under_a_memory_limit(tmp_path):
    """A 3000 x 3000 array reference with an off-grid column vector: nine million placements. The
    records route refuses it before building anything, also with little address space."""
    layout = kdb.Layout()
    top, leaf = layout.create_cell("top"), layout.create_cell("leaf")
    leaf.shapes(layout.layer(1, 0)).insert(kdb.Box(0, 0, 10, 10))
    row, column = kdb.Vector(100, 0), kdb.Vector(3, 100)
    top.insert(kdb.CellInstArray(leaf.cell_index(), kdb.Trans(), row, column, 3000, 3000))
    path = tmp_path / "array.gds"
    layout.write(str(path))
    script = f"""
import resource
resource.setrlimit(resource.RLIMIT_AS, (3 << 30, 3 << 30))
import klayout.db as kdb
from tarnwick.core.depthview import ParseGDS, PdkLayer
layout = kdb.Layout()
layout.read({str(path)!r})
parser = ParseGDS(layout, {{(1, 0): PdkLayer("WG", 0.22, 0.0, "#ff0000")}})
try:
    parser.export_cells()
except ValueError as error:
    print(error)
"""
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    assert "9000000 placements" in done.stdout and "TARNWICK_MAX_RECORD_PLACEMENTS" in done.stdout
