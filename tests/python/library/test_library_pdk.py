"""PDKs, the active PDK and cell source paths."""

from __future__ import annotations

import functools
import inspect
import types
from pathlib import Path

import brenvik
import pytest
from brenvik import Component, LayerStack, LayerViews, Pdk
from brenvik.demo_pdk import PDK as DEMO
from brenvik.demo_pdk import DemoLayer, mzi, straight


def _custom_pdk() -> Pdk:
    @brenvik.cell
    def marker(size: float = 1.0) -> Component:
        c = Component()
        c.add_polygon([(0, 0), (size, 0), (0, size)], DemoLayer.M1)
        return c

    return Pdk(
        name="custom",
        cells={"marker": marker},
        layers=DemoLayer,
        layer_stack=LayerStack(),
        layer_views=LayerViews(),
    )


class TestActivePdk:
    def test_demo_is_the_default(self):
        pdk = brenvik.get_active_pdk()
        assert pdk is DEMO
        assert pdk.name == "demo"
        assert brenvik.get_layer_views() is DEMO.layer_views
        assert brenvik.get_layer_stack() is DEMO.layer_stack
        assert pdk.layers is DemoLayer

    def test_switch_and_reset(self):
        custom = _custom_pdk()
        brenvik.set_active_pdk(custom)
        assert brenvik.get_active_pdk() is custom
        assert brenvik.get_layer_views() is custom.layer_views
        assert brenvik.get_layer_stack() is custom.layer_stack
        assert brenvik.get_component("marker", size=2).settings == {"size": 2}
        with pytest.raises(KeyError):
            brenvik.get_component("straight")
        assert brenvik.reset_active_pdk() is DEMO
        assert brenvik.get_active_pdk() is DEMO

    def test_only_pdks_can_be_activated(self):
        with pytest.raises(TypeError):
            brenvik.set_active_pdk("demo")
        assert brenvik.get_active_pdk() is DEMO
        custom = _custom_pdk().activate()
        assert brenvik.get_active_pdk() is custom


class TestGetComponent:
    def test_by_name_with_settings(self):
        c = DEMO.get_component("straight", length=7)
        assert c is straight(length=7)
        assert DEMO.get_component({"component": "straight", "settings": {"length": 7}}) is c
        assert DEMO.get_component(c) is c
        assert DEMO.get_component(straight, length=7) is c

    def test_unknown_names_fail_clearly(self):
        with pytest.raises(KeyError) as info:
            DEMO.get_component("no_such_cell")
        assert "no_such_cell" in str(info.value) and "straight" in str(info.value)
        with pytest.raises(ValueError):
            DEMO.get_component("no_such_cell")
        with pytest.raises(ValueError):
            DEMO.get_component(straight(), length=3)

    def test_pdk_checks_its_inputs(self):
        with pytest.raises(ValueError):
            Pdk(name="")
        with pytest.raises(TypeError):
            Pdk(name="x", cells={"a": 3})
        with pytest.raises(KeyError):
            Pdk(name="x").get_layer("WG")
        assert DEMO.get_layer("WG") is DemoLayer.WG


def plain_function():
    return None


class TestCellSourcePath:
    def test_python_cells(self):
        assert brenvik.cell_source_path(straight) == Path(inspect.getfile(straight.__wrapped__))
        assert brenvik.cell_source_path(plain_function) == Path(__file__).resolve()
        assert brenvik.cell_source_path(functools.partial(straight, length=3)) == (
            brenvik.cell_source_path(straight)
        )

    def test_schematic_cells_point_at_their_yaml(self):
        path = brenvik.cell_source_path(mzi)
        assert path.name == "mzi.pic.yml"
        assert path.is_absolute() and path.is_file()

    def test_unknown_sources(self):
        assert brenvik.cell_source_path(len) is None
        assert brenvik.cell_source_path(42) is None
        made_here = types.FunctionType(compile("1", "<generated>", "eval"), {}, "made_here")
        assert brenvik.cell_source_path(made_here) is None
