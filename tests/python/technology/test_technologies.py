"""Bundled technologies, technology files and .lyp files, as the 3D view draws them."""

from __future__ import annotations

import pytest
from tarnwick.cli import main
from tarnwick.technology import bundled_names, load_technology, read_technology

from .conftest import layer_parts, write_layout

# The public layer numbers and heights of the open PDKs (name layer/datatype zmin thickness),
# and their wells, which are not drawn unless asked for.
PUBLIC = {
    "sky130": """diff 65/20 0 0.3230, tap 65/44 0 0.3230, poly 66/20 0.3262 0.18,
        licon1 66/44 0.3230 0.6131, li1 67/20 0.9361 0.10, mcon 67/44 1.0361 0.34,
        met1 68/20 1.3761 0.36, via 68/44 1.7361 0.27, met2 69/20 2.0061 0.36,
        via2 69/44 2.3661 0.42, met3 70/20 2.7861 0.845, via3 70/44 3.6311 0.39,
        met4 71/20 4.0211 0.845, via4 71/44 4.8661 0.505, met5 72/20 5.3711 1.26""",
    "gf180mcu": """comp 22/0 0 0.312, poly2 30/0 0.32 0.20, contact 33/0 0.312 0.918,
        metal1 34/0 1.23 0.55, via1 35/0 1.78 0.60, metal2 36/0 2.38 0.55,
        via2 38/0 2.93 0.60, metal3 42/0 3.53 0.55, via3 40/0 4.08 0.60,
        metal4 46/0 4.68 0.55, via4 41/0 5.23 0.90, metaltop 53/0 6.13 1.1925""",
    "ihp-sg13g2": """Activ 1/0 0 0.40, GatPoly 5/0 0.40 0.16, Cont 6/0 0.40 0.64,
        Metal1 8/0 1.04 0.42, Via1 19/0 1.46 0.54, Metal2 10/0 2.00 0.49,
        Via2 29/0 2.49 0.54, Metal3 30/0 3.03 0.49, Via3 49/0 3.52 0.54,
        Metal4 50/0 4.06 0.49, Via4 66/0 4.55 0.54, Metal5 67/0 5.09 0.49,
        TopVia1 125/0 5.58 0.85, TopMetal1 126/0 6.43 2.00, TopVia2 133/0 8.43 2.80,
        TopMetal2 134/0 11.23 3.00""",
}
WELLS = {"sky130": [(64, 20)], "gf180mcu": [(21, 0), (12, 0)], "ihp-sg13g2": [(31, 0)]}


def public_layers(name):
    out = []
    for entry in PUBLIC[name].split(","):
        layer_name, spec, zmin, thickness = entry.split()
        layer, datatype = map(int, spec.split("/"))
        out.append((layer_name, (layer, datatype), float(zmin), float(thickness)))
    return out


@pytest.mark.parametrize("name", sorted(PUBLIC))
def test_bundled_cmos_stack_at_public_heights(name, tmp_path, view):
    expected = public_layers(name)
    gds = write_layout(tmp_path / "cell.gds", [spec for _, spec, _, _ in expected] + WELLS[name])
    code, _out, err, content = view(gds, "--tech", name)
    assert code == 0, err
    drawn = layer_parts(content)
    assert len(drawn) == len(expected)  # the wells are hidden
    for layer_name, (layer, datatype), zmin, thickness in expected:
        part = drawn[f"{layer_name} ({layer}, {datatype})"]
        assert part["zmin"] == pytest.approx(zmin) and part["height"] == pytest.approx(thickness)
    assert "not drawn" not in err  # hidden on purpose: no notice

    code, _, err, content = view(gds, "--tech", name, "--all-layers")
    assert code == 0, err
    assert len(layer_parts(content)) == len(expected) + len(WELLS[name])


def test_demo_technology_is_the_active_pdk_unchanged(tmp_path):
    import brenvik

    from tarnwick.core import communication, depthview

    component = brenvik.get_component("ring")
    depthview.depthview(component, depthview.Output.LAYER)
    depthview.depthview(component, depthview.Output.LAYER, technology="demo")
    plain, named = communication.messages()
    assert plain.content == named.content


LYP = """<?xml version="1.0" encoding="utf-8"?>
<layer-properties>
 <properties>
  <fill-color>#123456</fill-color><visible>true</visible>
  <name>Metal one</name><source>68/20@1</source>
 </properties>
 <properties>
  <fill-color>#ff0000</fill-color><visible>false</visible><name>gate</name><source>66/20@1</source>
 </properties>
 <properties>
  <name>group</name><source>*/*@*</source>
  <group-members>
   <properties><name>marker</name><source>200/0@1</source></properties>
  </group-members>
 </properties>
</layer-properties>
"""


def test_lyp_renames_recolours_and_hides(tmp_path, view):
    lyp = tmp_path / "mine.lyp"
    lyp.write_text(LYP, encoding="utf-8")
    gds = write_layout(tmp_path / "cell.gds", [(65, 20), (66, 20), (68, 20), (200, 0)])
    code, _, err, content = view(gds, "--tech", "sky130", "--lyp", lyp)
    assert code == 0, err
    drawn = layer_parts(content)
    assert sorted(drawn) == ["Metal one (68, 20)", "diff (65, 20)"]
    assert drawn["Metal one (68, 20)"]["color"] == "#123456"
    assert drawn["Metal one (68, 20)"]["zmin"] == pytest.approx(1.3761)
    # A layer the .lyp names but the stack has no heights for: named in the notice.
    notice = [line for line in err.splitlines() if "200/0" in line]
    assert len(notice) == 1 and "marker" in notice[0] and "1 shape" in notice[0]


def test_technology_file_with_its_lyp_and_exported_templates(tmp_path, view, capsys):
    (tmp_path / "mine.lyp").write_text(LYP, encoding="utf-8")
    tech = tmp_path / "mine.yaml"
    tech.write_text(
        "format: 1\nname: mine\nlyp: mine.lyp\nlayers:\n"
        "  - {name: m1, layer: 68/20, zmin: 2.5, thickness: 0.5}\n"
        "  - {name: top, layer: [70, 1], zmin: 3, thickness: 1, color: '#00FF00'}\n",
        encoding="utf-8",
    )
    gds = write_layout(tmp_path / "cell.gds", [(68, 20), (70, 1)])
    code, _, err, content = view(gds, "--tech", tech)
    assert code == 0, err
    assert layer_parts(content) == {
        "Metal one (68, 20)": {"zmin": 2.5, "height": 0.5, "color": "#123456"},
        "top (70, 1)": {"zmin": 3.0, "height": 1.0, "color": "#00ff00"},
    }
    # Every bundled technology, exported, reads back as the same stack.
    for name in bundled_names():
        assert main(["tech", "export", name]) == 0
        exported = tmp_path / f"{name}.yaml"
        exported.write_text(capsys.readouterr().out, encoding="utf-8")
        again, original = read_technology(exported), load_technology(name)
        assert [(x.spec, x.zmin, x.thickness, x.visible) for x in again.layers] == [
            (x.spec, x.zmin, x.thickness, x.visible) for x in original.layers
        ]
        assert again.all_layers == original.all_layers


def test_lyp_over_the_active_pdk_keeps_its_derived_layers(tmp_path, view):
    lyp = tmp_path / "core.lyp"
    lyp.write_text(
        "<layer-properties><properties><name>core</name><fill-color>#00ff00</fill-color>"
        "<source>1/0@1</source></properties></layer-properties>",
        encoding="utf-8",
    )
    code, _, err, plain = view("grating_coupler")
    assert code == 0, err
    code, _, err, renamed = view("grating_coupler", "--lyp", lyp)
    assert code == 0, err
    before, after = layer_parts(plain), layer_parts(renamed)
    assert after.pop("core (1, 0)") == {**before.pop("WG (1, 0)"), "color": "#00ff00"}
    assert after == before and "SHALLOW (3, 0)" in after  # the derived layer is still computed


def test_gltf_export_and_show_take_the_technology_and_the_cell(tmp_path, capsys):
    import json
    import struct

    from tarnwick import show

    gds = write_layout(tmp_path / "cell.gds", [(1, 0)], child_layers=[(68, 20)], child_copies=2)
    glb = tmp_path / "child.glb"
    argv = ["view", gds, "--tech", "sky130", "--cell", "child", "--by", "cell", "-o", str(glb)]
    assert main(argv) == 0
    capsys.readouterr()
    json_path = str(tmp_path / "child.json")
    assert main(["view", gds, "--tech", "sky130", "--cell", "child", "-o", json_path]) == 0
    assert "1/0" not in capsys.readouterr().err  # the top cell's layer is not the cell's to draw
    data = glb.read_bytes()
    (length,) = struct.unpack_from("<I", data, 12)
    document = json.loads(data[20 : 20 + length])
    assert [material["name"] for material in document["materials"]] == ["met1 (68, 20)"]
    names = {node.get("name") for node in document["nodes"]}
    assert "child" in names and "top" not in names  # the cell asked for is the one top

    page = show(gds, technology="sky130", cell="child").page
    assert "met1 (68, 20)" in page
    assert "met1 (68, 20)" not in show(gds).page  # the demo stack knows no 68/20
