"""Direct KLayout access: the scene read through KLayout's own C++ classes (the optional module
tarnwick.core._klayout_direct) is byte for byte the scene read through KLayout's Python API, the
stage report says which reader was used and why, and a module built for another KLayout build is
refused, not run."""

from __future__ import annotations

import importlib.metadata
import importlib.util
import json
import math
import os
import random
import subprocess
import sys
import textwrap
from pathlib import Path

import brenvik
import pytest
from klayout import db
from tarnwick.cli import main

from tarnwick.core import communication
from tarnwick.core.depthview import Output, depthview

SWITCH = "TARNWICK_KLAYOUT_DIRECT"
MODULE = "tarnwick.core._klayout_direct"
REPO = Path(__file__).resolve().parents[3]
KLAYOUT_VERSION = importlib.metadata.version("klayout")
BUILT = importlib.util.find_spec(MODULE) is not None

# Layers of the demo PDK (shown) and one without a layer view (left out of the scene).
LAYERS = [(1, 0), (2, 0), (41, 0), (45, 0), (47, 0), (66, 0), (9, 9)]
# GDS keeps ASCII names only (the writer turns other characters into "$").
NAMES = ["é cellule", 'quote"back\\slash', "$dollar", "a b", "tab\tname", "{brace}<angle>"]


def every_kind_of_shape(shapes: db.Shapes, rng: random.Random) -> None:
    x, y = rng.randint(-5000, 5000), rng.randint(-5000, 5000)
    shapes.insert(db.Box(x, y, x + rng.randint(1, 900), y + rng.randint(1, 900)))
    points = [db.Point(x, y), db.Point(x + 700, y), db.Point(x + 700, y + 450)]
    shapes.insert(db.Path(points, 2 * rng.randint(5, 60)))
    shapes.insert(db.Path(points, 40, 10, 30, True))  # extended ends, round
    ring = db.Polygon(db.Box(x - 600, y - 600, x + 600, y + 600))
    ring.insert_hole(db.Box(x - 100, y - 200, x + 100, y + 200))
    shapes.insert(ring)
    n = rng.randint(24, 96)  # a curve, for the simplification
    radius = rng.randint(800, 3000)
    shapes.insert(
        db.Polygon(
            [
                db.Point(
                    x + round(radius * math.cos(2 * math.pi * i / n)),
                    y + round(radius * math.sin(2 * math.pi * i / n)),
                )
                for i in range(n)
            ]
        )
    )
    shapes.insert(db.SimplePolygon([db.Point(x, y), db.Point(x + 13, y + 31), db.Point(x + 40, y)]))
    shapes.insert(db.Text("label é", db.Trans(x, y)))


def hierarchy(seed: int) -> db.Layout:
    """Cells with escaped and non-ASCII names on levels; placements with every rotation and
    mirror, free angles and magnifications, single and as regular arrays; an empty cell; one or
    two top cells (a GDS file's first top cell is the component shown)."""
    rng = random.Random(seed)
    layout = db.Layout()
    layout.dbu = rng.choice([0.001, 0.0005])
    layers = [layout.layer(*spec) for spec in LAYERS]
    levels = [
        [layout.create_cell(f"{rng.choice(NAMES)}_{level}_{i}") for i in range(2)]
        for level in range(3)
    ]
    levels.append([layout.create_cell(f"top_{i}") for i in range(rng.randint(1, 2))])
    empty = layout.create_cell("empty")
    levels[1][0].insert(db.CellInstArray(empty.cell_index(), db.Trans(1, True, 5, 5)))
    for level, cells in enumerate(levels):
        for cell in cells:
            for _ in range(rng.randint(1 if level == 0 else 0, 2)):
                every_kind_of_shape(cell.shapes(rng.choice(layers)), rng)
            if level == 0:
                continue
            for n in range(rng.randint(1, 3)):
                target = rng.choice(levels[level - 1] if n == 0 else levels[rng.randrange(level)])
                dx, dy = rng.randint(-20000, 20000), rng.randint(-20000, 20000)
                kind = rng.randrange(3)
                if kind == 0:
                    trans = db.Trans(rng.randrange(4), rng.random() < 0.5, dx, dy)
                else:
                    angle = rng.choice([0, 90, 270]) if kind == 1 else rng.uniform(0, 360)
                    magnification = rng.choice([1.0, 0.5, 1.75, 3.0])
                    trans = db.ICplxTrans(magnification, angle, rng.random() < 0.5, dx, dy)
                if rng.random() < 0.4:
                    a = db.Vector(rng.randint(-9000, 9000), rng.randint(-900, 900))
                    b = db.Vector(rng.randint(-900, 900), rng.randint(-9000, 9000))
                    array = db.CellInstArray(
                        target.cell_index(), trans, a, b, rng.randint(1, 3), rng.randint(1, 3)
                    )
                else:
                    array = db.CellInstArray(target.cell_index(), trans)
                cell.insert(array)
    return layout


def written(layout: db.Layout, path: Path) -> str:
    """The layout as a GDS file; its path as depthview takes it (a text)."""
    layout.write(str(path))
    return str(path)


def scene_or_error(source, output, direct: bool, monkeypatch, **options):
    """The message content depthview sends for `source`, or the error it raises: (kind, text)."""
    if direct:
        monkeypatch.delenv(SWITCH, raising=False)
    else:
        monkeypatch.setenv(SWITCH, "0")
    communication.clear_messages()
    try:
        depthview(source, output, **options)
    except Exception as error:  # noqa: BLE001 (the same error either way is part of the contract)
        assert communication.messages() == []
        return type(error).__name__, str(error)
    (message,) = communication.messages()
    return "message", message.content


def assert_same_either_way(source, output, monkeypatch, **options):
    on = scene_or_error(source, output, True, monkeypatch, **options)
    off = scene_or_error(source, output, False, monkeypatch, **options)
    if on != off:  # messages are large: show where they part, not a diff of the whole
        at = next((i for i, (a, b) in enumerate(zip(on[1], off[1])) if a != b), None)
        at = min(len(on[1]), len(off[1])) if at is None else at
        pytest.fail(
            f"direct {on[0]} {on[1][at - 80 : at + 80]!r}\n"
            f"python-api {off[0]} {off[1][at - 80 : at + 80]!r}"
        )
    return on


@pytest.mark.parametrize("output", [Output.LAYER, Output.CELL])
@pytest.mark.parametrize("seed", range(6))
def test_generated_hierarchies_give_the_same_message(seed, output, tmp_path, monkeypatch):
    gds = written(hierarchy(seed), tmp_path / f"h{seed}.gds")
    tolerance = None if seed % 2 else 0.01
    kind, content = assert_same_either_way(gds, output, monkeypatch, curve_tolerance=tolerance)
    assert kind == "message", content
    data = json.loads(content)["data"]
    assert data["instances"], "the layout's shapes reached the scene"


@pytest.mark.parametrize("output", [Output.LAYER, Output.CELL])
def test_demo_chip_gives_the_same_message(output, monkeypatch):
    kind, content = assert_same_either_way(brenvik.get_component("demo_chip"), output, monkeypatch)
    assert kind == "message", content


def test_a_cell_name_that_is_not_utf8_is_read_as_latin1_either_way(tmp_path, monkeypatch):
    layout = db.Layout()
    top = layout.create_cell("ABCDEFGH")
    leaf = layout.create_cell("leaf")
    leaf.shapes(layout.layer(1, 0)).insert(db.Box(0, 0, 10, 10))
    top.insert(db.CellInstArray(leaf.cell_index(), db.Trans()))
    gds = Path(written(layout, tmp_path / "name.gds"))
    gds.write_bytes(gds.read_bytes().replace(b"ABCDEFGH", b"AB\xe9DE\xffGH"))
    kind, text = assert_same_either_way(str(gds), Output.CELL, monkeypatch)
    assert kind == "message" and '"id":"/Cells/AB\u00e9DE\u00ffGH/leaf"' in text


# --- which reader, and why -----------------------------------------------------------------


def reader_line(capsys, tmp_path, source: str) -> str:
    """The stage report's line naming the layout reader of `tarnwick view`."""
    code = main(["view", source, "-o", str(tmp_path / "view.json")])
    out, err = capsys.readouterr()
    assert code in (0, 1), err  # 1: no viewer page built, the scene is written all the same
    (line,) = [line.strip() for line in out.splitlines() if line.strip().startswith("reader:")]
    return line


@pytest.mark.parametrize("value", ["0", "off", "False"])
def test_switched_off_the_report_says_so(value, capsys, tmp_path, monkeypatch):
    monkeypatch.setenv(SWITCH, value)
    line = reader_line(capsys, tmp_path, written(hierarchy(1), tmp_path / "s.gds"))
    assert line.startswith("reader: python-api") and f"{SWITCH}={value}" in line


def test_the_direct_reader_is_used_when_built(capsys, tmp_path, monkeypatch):
    monkeypatch.delenv(SWITCH, raising=False)
    line = reader_line(capsys, tmp_path, written(hierarchy(2), tmp_path / "d.gds"))
    if BUILT:
        assert line == "reader: direct"
    else:
        assert line.startswith("reader: python-api") and "not built" in line


def test_the_module_is_built_when_the_headers_are_at_hand():
    headers = REPO / "build" / "klayout-sdist" / f"klayout-{KLAYOUT_VERSION}" / "PKG-INFO"
    if not headers.is_file():
        pytest.skip(f"no klayout {KLAYOUT_VERSION} headers fetched: the module is optional")
    module = importlib.import_module(MODULE)
    assert module.klayout_version == KLAYOUT_VERSION


# --- the guard against another KLayout build ------------------------------------------------

CHILD = textwrap.dedent(
    """
    import contextlib, io, json, sys
    import klayout.db
    result = {"klayout": klayout.db.__file__}
    try:
        import tarnwick.core._klayout_direct
        result["import_error"] = None
    except ImportError as error:
        result["import_error"] = str(error)
    from tarnwick.cli import main
    report = io.StringIO()
    with contextlib.redirect_stdout(report):
        result["code"] = main(["view", sys.argv[1], "--by", "cell", "-o", sys.argv[2]])
    result["report"] = report.getvalue()
    json.dump(result, sys.stdout)
    """
)


def klayout_with_another_tl_build(folder: Path) -> Path:
    """A klayout package that is the installed one except for its lib_tl, whose build id differs
    (the library itself is unchanged): links to every file, lib_tl copied and its id zeroed."""
    installed = Path(importlib.util.find_spec("klayout").submodule_search_locations[0])
    package = folder / "klayout"
    package.mkdir(parents=True)
    for item in installed.iterdir():
        (package / item.name).symlink_to(item)
    libs = installed.parent / "klayout.libs"  # the wheel's bundled libraries, found via $ORIGIN
    if libs.is_dir():
        (folder / "klayout.libs").symlink_to(libs)
    tl = next(installed.glob("lib_tl.*.so"))
    found = subprocess.run(
        ["readelf", "--notes", str(tl)], check=True, capture_output=True, text=True
    )
    build_id = bytes.fromhex(found.stdout.split("Build ID:")[1].split()[0])
    data = tl.read_bytes()
    assert data.count(build_id) == 1
    (package / tl.name).unlink()
    (package / tl.name).write_bytes(data.replace(build_id, bytes(len(build_id))))
    return folder


@pytest.mark.skipif(not BUILT, reason="the direct KLayout module is not built")
def test_another_klayout_build_is_refused_and_the_scene_is_the_same(tmp_path, monkeypatch):
    gds = written(hierarchy(3), tmp_path / "g.gds")
    other = klayout_with_another_tl_build(tmp_path / "other")
    env = dict(
        os.environ, PYTHONPATH=os.pathsep.join([str(other), os.environ.get("PYTHONPATH", "")])
    )
    env.pop(SWITCH, None)
    scene = tmp_path / "scene.json"
    child = subprocess.run(
        [sys.executable, "-c", CHILD, gds, str(scene)],
        capture_output=True,
        text=True,
        check=False,
        env=env,
        cwd=tmp_path,
        timeout=300,
    )
    assert child.returncode == 0, child.stderr
    result = json.loads(child.stdout)
    assert result["klayout"].startswith(str(other))
    error = result["import_error"]
    assert error and "lib_tl" in error and "0" * 40 in error, error
    assert result["code"] in (0, 1), result["report"]  # 1: no viewer page built
    kind, content = scene_or_error(gds, Output.CELL, False, monkeypatch)
    assert kind == "message" and scene.read_text(encoding="utf-8") == content
    lines = [line.strip() for line in result["report"].splitlines() if "reader:" in line]
    if lines:  # the stage report says why the Python API was used
        assert lines[0].startswith("reader: python-api") and "lib_tl" in lines[0], lines
