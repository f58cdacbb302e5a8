"""Schematic cells read from .pic.yml files."""

from __future__ import annotations

import inspect
import sys
import time
from pathlib import Path

import brenvik
import pytest
from brenvik import Component, Pdk
from brenvik.demo_pdk import PDK as DEMO
from brenvik.demo_pdk import DemoLayer, loopback, mzi, self_ref, straight
from brenvik.schematic import SchematicError, SchematicRecursionError, cell_from_yaml


def _write(path: Path, text: str) -> Path:
    path.write_text(text)
    return path


class TestModuleAndSource:
    def test_demo_schematics_live_in_picyml_modules(self):
        for func in (mzi, loopback, self_ref):
            assert func.__module__.endswith("_picyml")
            module = sys.modules[func.__module__]
            assert getattr(module, func.__name__) is func
            assert func.pic_yml_path.name == f"{func.__name__}.pic.yml"
            assert Path(module.__file__) == func.pic_yml_path

    def test_introspection_points_at_the_yaml(self):
        assert Path(inspect.getsourcefile(inspect.unwrap(mzi))) == mzi.pic_yml_path
        assert brenvik.cell_source_path(mzi) == mzi.pic_yml_path
        assert list(inspect.signature(mzi).parameters) == []

    def test_same_stem_in_two_folders_gets_two_modules(self, tmp_path):
        text = "instances:\n  s: straight\n"
        (tmp_path / "a").mkdir()
        (tmp_path / "b").mkdir()
        fa = cell_from_yaml(_write(tmp_path / "a" / "twin.pic.yml", text))
        fb = cell_from_yaml(_write(tmp_path / "b" / "twin.pic.yml", text))
        assert fa.__module__ != fb.__module__
        assert fa.__module__.endswith("_picyml") and fb.__module__.endswith("_picyml")
        assert fa.__name__ == fb.__name__ == "twin"

    def test_missing_file(self, tmp_path):
        with pytest.raises(FileNotFoundError):
            cell_from_yaml(tmp_path / "nope.pic.yml")


class TestSelfReference:
    def test_direct_self_reference_fails_fast(self):
        start = time.monotonic()
        with pytest.raises(RecursionError, match="contains itself"):
            self_ref()
        assert time.monotonic() - start < 2
        with pytest.raises(SchematicRecursionError):  # and again: nothing was left behind
            self_ref()

    def test_indirect_self_reference_fails(self, tmp_path, fresh_kcl):
        a = cell_from_yaml(_write(tmp_path / "ping.pic.yml", "instances:\n  x: pong\n"))
        b = cell_from_yaml(_write(tmp_path / "pong.pic.yml", "instances:\n  y: ping\n"))
        brenvik.set_active_pdk(Pdk("loop", cells={"ping": a, "pong": b}))
        with pytest.raises(SchematicRecursionError, match="ping.pic.yml -> pong.pic.yml"):
            a()


class TestAssembly:
    def test_demo_mzi_geometry(self):
        c = mzi()
        refs = {r.name: r for r in c.references}
        assert set(refs) == {"mmi_in", "mmi_out", "top_arm", "bot_arm"}
        assert refs["mmi_out"].rotation == 180
        assert refs["top_arm"].ports["o1"].center == refs["mmi_in"].ports["o2"].center
        assert c.ports["o2"].orientation == 0
        # mmi_out's input (local x = -10) is turned around its origin at x = 80.
        assert c.ports["o2"].center == (80.0 + 10.0, 0.0)
        # The route polygons were drawn between the arms and the output splitter.
        assert c.kdb_cell.shapes(c.layout.find_layer(1, 0)).size() == 2

    def test_connections_place_and_rotate_instances(self):
        c = loopback()
        refs = {r.name: r for r in c.references}
        assert refs["gc_in"].placement() == {"x": 0.0, "y": 0.0, "rotation": 0.0, "mirror": False}
        assert refs["bend_1"].rotation == 180
        assert refs["arm"].rotation == 270
        for a, b in [("gc_in,o1", "bend_1,o1"), ("bend_1,o2", "arm,o1"), ("arm,o2", "bend_2,o1")]:
            (ia, pa), (ib, pb) = a.split(","), b.split(",")
            port_a, port_b = refs[ia].ports[pa], refs[ib].ports[pb]
            assert port_a.center == port_b.center
            assert (port_a.orientation - port_b.orientation) % 360 == 180

    def test_instances_come_from_the_active_pdk(self, tmp_path, fresh_kcl):
        @brenvik.cell
        def straight_custom(length: float = 10.0) -> Component:
            c = Component()
            c.add_polygon([(0, -1), (length, -1), (length, 1), (0, 1)], DemoLayer.M1)
            c.add_port("o1", center=(0, 0), orientation=180, width=2, layer=DemoLayer.M1)
            c.add_port("o2", center=(length, 0), orientation=0, width=2, layer=DemoLayer.M1)
            return c

        func = cell_from_yaml(
            _write(
                tmp_path / "uses_active.pic.yml",
                "instances:\n  a: {component: straight, settings: {length: 4}}\n"
                "  b: straight\n"
                "connections:\n  a,o2: b,o1\n"
                "ports:\n  in: a,o1\n  out: b,o2\n",
            )
        )
        brenvik.set_active_pdk(Pdk("other", cells={"straight": straight_custom}))
        c = func()
        assert {r.component.function_name for r in c.references} == {"straight_custom"}
        assert c.ports["out"].center == (14.0, 0.0)
        assert c.get_netlist()["connections"] == {"a,o2": "b,o1"}

    @pytest.mark.parametrize(
        ("text", "error", "match"),
        [
            ("instances:\n  a: not_a_cell\n", KeyError, "not_a_cell"),
            ("instances: [1, 2]\n", SchematicError, "mapping"),
            ("instances:\n  a: {settings: {}}\n", SchematicError, "needs a component"),
            ("instances:\n  a: straight\nbogus: 1\n", SchematicError, "unknown sections"),
            ("instances:\n  a: straight\nports:\n  p: a,o9\n", SchematicError, "no port"),
            ("instances:\n  a: straight\nports:\n  p: z,o1\n", SchematicError, "unknown"),
            (
                "instances:\n  a: straight\nplacements:\n  a: {x: 1, rotation: 45}\n",
                ValueError,
                "multiple of 90",
            ),
            (
                (
                    "instances:\n  a: straight\n  b: straight\n"
                    "placements:\n  a: {x: 0}\n  b: {x: 100}\n"
                    "connections:\n  a,o2: b,o1\n"
                ),
                SchematicError,
                "cannot be met",
            ),
            ("instances:\n  a: straight\n  b: [x\n", SchematicError, "invalid YAML"),
        ],
    )
    def test_bad_schematics_fail_clearly(self, tmp_path, fresh_kcl, text, error, match):
        func = cell_from_yaml(_write(tmp_path / "bad.pic.yml", text))
        with pytest.raises(error, match=match):
            func()

    def test_schematic_is_a_cached_cell(self):
        assert mzi() is mzi()
        assert mzi().function_name == "mzi"
        assert DEMO.get_component("mzi") is mzi()
        assert straight(length=20) in [r.component for r in mzi().references]
