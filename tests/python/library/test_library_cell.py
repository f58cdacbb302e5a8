"""The @cell decorator: introspection, caching, naming and settings."""

from __future__ import annotations

import inspect
from pathlib import Path

import brenvik
import pytest
from brenvik import Component, cell
from brenvik.demo_pdk import DemoLayer as L
from brenvik.demo_pdk import cells as demo_cells

CALLS: list[tuple] = []


@cell
def sample_box(width: float = 1.0, height: float = 2.0, tag: str = "a") -> Component:
    """A box used by these tests."""
    CALLS.append((width, height, tag))
    c = Component()
    c.add_polygon([(0, 0), (width, 0), (width, height), (0, height)], L.WG)
    c.add_port("o1", center=(0, height / 2), orientation=180, width=height, layer=L.WG)
    return c


@cell
def with_kwargs(size: float = 1.0, **extra) -> Component:
    c = Component()
    c.add_polygon([(0, 0), (size, 0), (size, size)], L.WG)
    c.info.update(extra)
    return c


class TestIntrospection:
    def test_wraps_keeps_identity(self):
        assert sample_box.__name__ == "sample_box"
        assert sample_box.__module__ == __name__
        assert sample_box.__doc__ == "A box used by these tests."
        assert inspect.isfunction(sample_box.__wrapped__)
        assert sample_box.__wrapped__.__name__ == "sample_box"
        assert inspect.unwrap(sample_box) is sample_box.__wrapped__

    def test_signature_is_the_wrapped_functions(self):
        sig = inspect.signature(sample_box)
        assert list(sig.parameters) == ["width", "height", "tag"]
        assert sig.parameters["height"].default == 2.0

    def test_source_location_points_at_the_definition(self):
        lines, first = inspect.getsourcelines(sample_box)
        assert lines[0].startswith("@cell")
        assert "def sample_box" in lines[1]
        this_file = Path(__file__).resolve()
        assert Path(inspect.getsourcefile(inspect.unwrap(sample_box))).resolve() == this_file
        assert this_file.read_text().splitlines()[first - 1].startswith("@cell")
        assert brenvik.cell_source_path(sample_box) == this_file

    def test_demo_cells_are_found_in_their_module(self):
        path = brenvik.cell_source_path(demo_cells.straight)
        assert path == Path(demo_cells.__file__).resolve()
        assert path.is_absolute()


class TestCaching:
    def test_same_parameters_give_the_same_component(self, fresh_kcl):
        CALLS.clear()
        a = sample_box(1.0, height=2.0)
        b = sample_box()
        c = sample_box(width=1, tag="a")
        assert a is b is c
        assert CALLS == [(1.0, 2.0, "a")]

    def test_other_parameters_give_other_components(self, fresh_kcl):
        CALLS.clear()
        a = sample_box()
        b = sample_box(width=3.0)
        assert a is not b
        assert len(CALLS) == 2
        assert a.name != b.name

    def test_clear_cache_rebuilds(self, fresh_kcl):
        CALLS.clear()
        a = sample_box()
        brenvik.clear_cache()
        b = sample_box()
        assert a is not b
        assert len(CALLS) == 2
        # The new build gets the plain name; the forgotten one moves aside.
        assert b.name == "sample_box"
        assert a.name.startswith("sample_box$")
        assert a.kdb_cell.cell_index() != b.kdb_cell.cell_index()

    def test_cache_is_per_layout(self, fresh_kcl):
        a = sample_box()
        fresher = brenvik.component.tesselink.reset_kcl()
        b = sample_box()
        assert a is not b
        assert a.layout is fresh_kcl and b.layout is fresher
        assert a.name == b.name == "sample_box"

    def test_unhashable_parameters_are_cached_by_value(self, fresh_kcl):
        a = with_kwargs(size=2.0, meta={"k": [1, 2]})
        b = with_kwargs(size=2.0, meta={"k": [1, 2]})
        c = with_kwargs(size=2.0, meta={"k": [1, 3]})
        assert a is b and a is not c


class TestNamingAndSettings:
    def test_name_lists_changed_parameters(self, fresh_kcl):
        assert sample_box().name == "sample_box"
        assert sample_box(width=2.5).name == "sample_box_width2p5"
        assert sample_box(height=0.25, tag="x-y z").name == "sample_box_height0p25_tagxmy_z"

    def test_settings_hold_every_parameter(self, fresh_kcl):
        c = sample_box(width=3)
        assert c.settings == {"width": 3, "height": 2.0, "tag": "a"}
        assert c.function_name == "sample_box"

    def test_var_keyword_parameters_are_spread(self, fresh_kcl):
        c = with_kwargs(color="red")
        assert c.settings == {"size": 1.0, "color": "red"}
        assert c.name == "with_kwargs_colorred"

    def test_long_names_are_shortened(self, fresh_kcl):
        c = sample_box(tag="t" * 200)
        assert c.name.startswith("sample_box_")
        assert len(c.name) <= 80

    def test_colliding_names_stay_unique(self, fresh_kcl):
        # "0.5" (text) and 0.5 (number) render alike but are different parameters.
        a = sample_box(tag="0p5")
        b = sample_box(tag=0.5)
        assert a is not b
        assert a.name != b.name

    def test_must_return_a_component(self):
        @cell
        def broken():
            return 42

        with pytest.raises(TypeError):
            broken()

    def test_component_default_parameter_is_a_built_component(self):
        default = inspect.signature(demo_cells.taper_with_default).parameters["base_straight"]
        assert isinstance(default.default, Component)
        from tesselink.kcell import TKCell

        assert isinstance(default.default.base, TKCell)
