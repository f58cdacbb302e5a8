"""The notice of the layers a scene leaves out, --all-layers, and unusable technology input."""

from __future__ import annotations

import pytest
from tarnwick.cli import main
from tarnwick.technology import DEFAULT_THICKNESS

from tarnwick.core import depthview

from .conftest import layer_parts, write_layout

# Thirteen layers that no bundled technology knows, and sky130's met1.
UNKNOWN = [(200, d) for d in range(13)]
MET1 = (68, 20)


@pytest.fixture
def foreign_gds(tmp_path):
    """met1 and thirteen unknown layers in the top cell; a child placed three times holds two
    shapes on 200/0 and one on 201/0, which count once each (a cell's own shapes)."""
    return write_layout(
        tmp_path / "foreign.gds",
        [MET1, *UNKNOWN],
        child_layers=[(200, 0), (200, 0), (201, 0)],
        child_copies=3,
    )


@pytest.mark.parametrize("direct", ["1", "0"], ids=["direct", "python-api"])
def test_undrawn_layers_in_the_report(foreign_gds, direct, monkeypatch):
    monkeypatch.setenv("TARNWICK_KLAYOUT_DIRECT", direct)
    events = []
    depthview.depthview(
        foreign_gds, depthview.Output.LAYER, report=events.append, technology="sky130"
    )
    expected = [(200, 0, 3), *[(200, d, 1) for d in range(1, 13)], (201, 0, 1)]
    assert [tuple(entry) for entry in events[-1]["undrawn_layers"]] == expected
    # Excluded on purpose: not undrawn.
    depthview.depthview(
        foreign_gds,
        depthview.Output.LAYER,
        exclude_layers=["met1*"],
        report=events.append,
        technology="sky130",
    )
    assert (68, 20, 1) not in [tuple(entry) for entry in events[-1]["undrawn_layers"]]


def test_notice_lists_ten_then_counts_and_the_page_shows_it(foreign_gds, view, tmp_path):
    code, _, err, _content = view(foreign_gds, "--tech", "sky130", "--exclude", "met1*")
    assert code == 0, err
    lines = err.splitlines()
    start = next(n for n, line in enumerate(lines) if "not drawn" in line)
    assert lines[start].startswith("tarnwick view: 14 layers with 16 shapes not drawn")
    listed = lines[start + 1 : start + 11]
    assert [line.split()[0] for line in listed] == [f"200/{d}" for d in range(10)]
    assert listed[0].split()[-2:] == ["3", "shapes"] and listed[1].endswith(" 1 shape")
    assert lines[start + 11].strip() == "and 4 more"
    assert "--tech" in lines[start + 12] and "--all-layers" in lines[start + 12]
    assert not any("68/20" in line for line in lines)  # left out with --exclude
    page = (tmp_path / "out" / "scene.html").read_text(encoding="utf-8")
    assert 'id="tarnwick-notice"' in page and "and 4 more" in page


def test_empty_scene_says_so_and_names_the_best_technologies(tmp_path, view):
    gds = write_layout(tmp_path / "inv.gds", [(64, 20), (65, 20), (66, 20), (8, 0), (300, 0)])
    code, _, err, content = view(gds)
    assert code == 0, err
    assert layer_parts(content) == {}
    assert "tarnwick view: the scene is empty: the technology demo draws none" in err
    assert "sky130 (3 of 5), ihp-sg13g2 (1 of 5)" in err


def test_all_layers_stacks_the_unknown_above_the_known(foreign_gds, view):
    code, _, err, content = view(foreign_gds, "--tech", "sky130", "--all-layers")
    assert code == 0, err
    assert "not drawn" not in err
    drawn = layer_parts(content)
    assert len(drawn) == 15  # met1, 200/0..200/12, 201/0
    top = 5.3711 + 1.26  # met5, the highest sky130 layer
    unknown = [*UNKNOWN, (201, 0)]
    for n, (layer, datatype) in enumerate(unknown):
        part = drawn[f"{layer}/{datatype} ({layer}, {datatype})"]
        assert part["zmin"] == pytest.approx(top + n * DEFAULT_THICKNESS)
        assert part["height"] == pytest.approx(DEFAULT_THICKNESS)
    colours = [part["color"] for part in drawn.values()]
    assert len(set(colours)) == len(colours)
    # generic: the same stacking from nothing.
    code, _, err, content = view(foreign_gds, "--tech", "generic")
    assert code == 0, err
    assert len(layer_parts(content)) == 15


def test_oasis_is_read_like_gds(tmp_path, view):
    layers = [(65, 20), MET1, (200, 0)]
    (tmp_path / "a").mkdir(), (tmp_path / "b").mkdir()
    gds = write_layout(tmp_path / "a" / "cell.gds", layers)
    oas = write_layout(tmp_path / "b" / "cell.oas", layers)
    results = [view(path, "--tech", "sky130") for path in (gds, oas)]
    assert [code for code, *_ in results] == [0, 0]
    assert results[0][3] == results[1][3]
    assert len(layer_parts(results[1][3])) == 2


LAYER = "  - {name: m1, layer: 68/20, zmin: 1, thickness: 0.5}\n"
BAD = {
    "missing file": (None, ["missing.yaml: no such technology file"]),
    "broken YAML": ("format: 1\nlayers: [\n", ["bad.yaml:3", "broken YAML"]),
    "unknown key": ("format: 1\nlayers:\n  - {name: m1, layer: 1/0, zmin: 0, hieght: 1}\n",
                    ["bad.yaml:3", "'hieght'", "unknown key"]),
    "layer twice": ("format: 1\nlayers:\n" + LAYER + "  - {name: m2, layer: [68, 20], zmin: 2, "
                    "thickness: 1}\n", ["bad.yaml:4", "'layer'", "68/20 given twice"]),
    "negative thickness": (("format: 1\nlayers:\n  - name: m1\n    layer: 1/0\n    zmin: 0\n"
                           "    thickness: -0.2\n"), ["bad.yaml:6", "'thickness'", "negative"]),
    "infinite height": (("format: 1\nlayers:\n  - {name: m1, layer: 1/0, zmin: .inf, "
                        "thickness: 1}\n"), ["bad.yaml:3", "'zmin'", "finite"]),
    "unreadable colour": (("format: 1\nlayers:\n  - {name: m1, layer: 1/0, zmin: 0, thickness: 1,"
                          " color: blue}\n"), ["bad.yaml:3", "'color'", "unreadable colour"]),
    "broken lyp": ("<layer-properties><properties>\n<name>x</name>\n", ["bad.lyp:3", "broken XML"]),
    "lyp colour": (("<layer-properties>\n<properties>\n<fill-color>#12345</fill-color>"
                   "<source>1/0@1</source></properties></layer-properties>"),
                   ["bad.lyp:3", "'fill-color'", "unreadable colour"]),
    "unknown name": ("nope", ["unknown technology 'nope'", "sky130", "ihp-sg13g2"]),
}  # fmt: skip


@pytest.mark.parametrize("case", BAD)
def test_bad_technology_input_is_one_line_and_status_2(case, tmp_path, view):
    text, fragments = BAD[case]
    gds = write_layout(tmp_path / "cell.gds", [MET1])
    if case == "unknown name":
        options = ["--tech", text]
    elif case.endswith("lyp") or case == "lyp colour":
        (tmp_path / "bad.lyp").write_text(text, encoding="utf-8")
        options = ["--tech", "sky130", "--lyp", tmp_path / "bad.lyp"]
    else:
        path = tmp_path / ("missing.yaml" if text is None else "bad.yaml")
        if text is not None:
            path.write_text(text, encoding="utf-8")
        options = ["--tech", path]
    code, _out, err, content = view(gds, *options)
    assert code == 2
    assert len(err.strip().splitlines()) == 1, err
    for fragment in fragments:
        assert fragment in err
    assert content is None and not (tmp_path / "out").exists()
    if case == "unknown name":  # watch refuses it before it starts, server or not
        assert main(["watch", gds, *map(str, options)]) == 2
