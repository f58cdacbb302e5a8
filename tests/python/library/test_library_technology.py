"""Layer stacks, derived layers and layer views."""

from __future__ import annotations

import brenvik
import klayout.db as kdb
import pytest
from brenvik import (
    Color,
    Component,
    DerivedLayer,
    LayerLevel,
    LayerStack,
    LayerView,
    LayerViews,
    LogicalLayer,
    technology,
)
from brenvik.demo_pdk import LAYER_STACK, LAYER_VIEWS, DemoLayer, demo_chip, grating_coupler

WG = LogicalLayer(layer=DemoLayer.WG)
SLAB = LogicalLayer(layer=DemoLayer.SLAB)


def _region(cell: kdb.Cell, layer: tuple[int, int]) -> kdb.Region:
    """Flat copy of a layer of ``cell``'s whole tree (empty if the layout lacks the layer)."""
    region = kdb.Region()
    index = cell.layout().find_layer(*layer)
    if index is not None:
        region.insert(cell.begin_shapes_rec(index))
    return region


def _own_region(cell: kdb.Cell, layer: tuple[int, int]) -> kdb.Region:
    index = cell.layout().find_layer(*layer)
    return kdb.Region() if index is None else kdb.Region(cell.shapes(index))


def _overlap_component() -> Component:
    """Two boxes in a child cell placed twice, overlapping a top-level box on SLAB."""
    child = Component("child")
    child.add_polygon([(0, 0), (4, 0), (4, 2), (0, 2)], DemoLayer.WG)
    top = Component("top")
    top.add_ref(child, x=0)
    top.add_ref(child, x=10, rotation=90)
    top.add_polygon([(2, -1), (12, -1), (12, 1), (2, 1)], DemoLayer.SLAB)
    return top


class TestDerivedLayerExpressions:
    def test_operators_build_derived_layers(self):
        for expr, op in (
            (WG & SLAB, "and"),
            (WG | SLAB, "or"),
            (WG - SLAB, "not"),
            (WG ^ SLAB, "xor"),
        ):
            assert isinstance(expr, DerivedLayer)
            assert (expr.left, expr.right, expr.operation) == (WG, SLAB, op)
        nested = (WG - SLAB) & WG
        assert nested.layers() == [WG, SLAB, WG]
        assert DerivedLayer(WG, SLAB, "-").operation == "not"
        with pytest.raises(ValueError):
            DerivedLayer(WG, SLAB, "nand")
        with pytest.raises(TypeError):
            DerivedLayer(WG, DemoLayer.SLAB, "and")

    @pytest.mark.parametrize("op", ["and", "or", "not", "xor"])
    def test_regions_match_klayout_booleans(self, fresh_kcl, op):
        top = _overlap_component()
        a, b = _region(top.kdb_cell, (1, 0)), _region(top.kdb_cell, (2, 0))
        expected = {"and": a & b, "or": a | b, "not": a - b, "xor": a ^ b}[op]
        result = DerivedLayer(WG, SLAB, op).get_region(top.kdb_cell)
        assert (result ^ expected).is_empty()
        assert not expected.is_empty()

    def test_missing_layer_is_empty_and_not_created(self, fresh_kcl):
        top = _overlap_component()
        count = fresh_kcl.layers()
        assert LogicalLayer(layer=(99, 9)).get_region(top.kdb_cell).is_empty()
        assert fresh_kcl.layers() == count


class TestDerivedComponents:
    def test_copy_gets_exactly_the_boolean_on_the_derived_layer(self, fresh_kcl):
        top = _overlap_component()
        stack = LayerStack(
            layers={
                "core": LayerLevel(layer=WG, thickness=0.22),
                "etch": LayerLevel(layer=WG & SLAB, derived_layer=LogicalLayer(layer=(3, 0))),
                "skipped": LayerLevel(layer=WG - SLAB, thickness=0.22),
            }
        )
        before = {k: _region(top.kdb_cell, k) for k in [(1, 0), (2, 0), (3, 0)]}
        derived = stack.get_component_with_derived_layers(top)

        expected = _region(top.kdb_cell, (1, 0)) & _region(top.kdb_cell, (2, 0))
        got = _own_region(derived.kdb_cell, (3, 0))
        assert not got.is_empty()
        assert (got ^ expected).is_empty()
        # Only the derived layer changed; the skipped level drew nothing anywhere.
        assert (_region(derived.kdb_cell, (1, 0)) ^ before[(1, 0)]).is_empty()
        assert derived.layout.layers() == 3
        # The original is untouched.
        for key, region in before.items():
            assert (_region(top.kdb_cell, key) ^ region).is_empty()
        assert _region(top.kdb_cell, (3, 0)).is_empty()

    def test_copy_keeps_the_hierarchy(self):
        chip = demo_chip()
        derived = brenvik.get_layer_stack().get_component_with_derived_layers(chip)
        assert derived.layout is not chip.layout
        old_cells, new_cells = chip.hierarchy_cell_indices(), derived.hierarchy_cell_indices()
        assert len(new_cells) == len(old_cells)
        # Same cell tree under the same names: the 3D view shows the component's own cell names.
        assert sorted(derived.layout.cell(i).name for i in new_cells) == sorted(
            chip.layout.cell(i).name for i in old_cells
        )

        def instance_counts(component):
            layout = component.layout
            return sorted(
                (layout.cell(i).child_instances(), layout.cell(i).hierarchy_levels())
                for i in component.hierarchy_cell_indices()
            )

        assert instance_counts(derived) == instance_counts(chip)
        arrays = [inst for inst in derived.kdb_cell.each_inst() if inst.is_regular_array()]
        assert len(arrays) == 2
        # Shapes from the whole hierarchy flowed into the top cell's derived layer.
        expected = _region(chip.kdb_cell, (1, 0)) & _region(chip.kdb_cell, (2, 0))
        assert (_own_region(derived.kdb_cell, (3, 0)) ^ expected).is_empty()
        assert expected.count() > 100
        assert _region(chip.kdb_cell, (3, 0)).is_empty()

    def test_demo_stack_has_a_derived_level(self):
        level = LAYER_STACK.layers["shallow_etch"]
        assert isinstance(level.layer, DerivedLayer)
        assert level.derived_layer == LogicalLayer(layer=DemoLayer.SHALLOW)
        gc = grating_coupler()
        derived = LAYER_STACK.get_component_with_derived_layers(gc)
        # One piece per tooth plus the end of the fan taper, where the slab begins.
        assert _own_region(derived.kdb_cell, (3, 0)).count() == 30 + 1


class TestLayerStack:
    def test_levels_are_ordered_with_heights(self):
        names = list(LAYER_STACK.layers)
        assert names[:3] == ["box", "core", "slab"]
        core = LAYER_STACK["core"]
        assert (core.zmin, core.thickness, core.zmax) == (0.0, 0.22, 0.22)
        assert LAYER_STACK["metal2"].zmin == 3.0
        assert LAYER_STACK.get_layer_to_thickness()[(47, 0)] == 0.75
        assert LAYER_STACK.get_layer_to_zmin()[(3, 0)] == 0.09
        assert (1, 0) in LAYER_STACK.get_layer_to_material()

    def test_bare_layers_become_logical_and_bad_levels_fail(self):
        level = LayerLevel(layer=DemoLayer.M1, thickness=1)
        assert level.layer == LogicalLayer(layer=DemoLayer.M1)
        with pytest.raises(ValueError):
            LayerLevel(layer=WG, thickness=-1)
        with pytest.raises(TypeError):
            LayerStack(layers={"x": "not a level"})

    def test_technology_module_is_exported(self):
        assert brenvik.technology is technology
        assert technology.LayerStack is LayerStack


class TestLayerViews:
    def test_lookup_by_tuple(self):
        view = LAYER_VIEWS.get_from_tuple((1, 0))
        assert isinstance(view, LayerView)
        assert view.name == "WG"
        assert view.layer == (1, 0)
        assert view.fill_color.as_hex() == "#ff6e6e"
        assert LAYER_VIEWS.get_from_tuple((66, 0)).fill_color is None

    def test_every_layer_but_floorplan_has_a_view(self):
        for member in DemoLayer:
            if member is DemoLayer.FLOORPLAN:
                with pytest.raises(KeyError):
                    LAYER_VIEWS.get_from_tuple(member.tuple)
            else:
                assert LAYER_VIEWS.get_from_tuple(member.tuple).name == member.name
        with pytest.raises(KeyError):
            LAYER_VIEWS.get_from_tuple((123, 4))

    def test_views_are_checked(self):
        with pytest.raises(ValueError):
            LayerViews(layer_views={"a": LayerView("a", (1, 0)), "b": LayerView("b", (1, 0))})
        views = LayerViews.from_mapping({"x": {"layer": (5, 1), "fill_color": "#0a0B0c"}})
        assert views.get_from_tuple((5, 1)).fill_color == Color(10, 11, 12)
        assert (5, 1) in views and "x" in views and len(views) == 1


class TestColor:
    def test_hex_round_trip(self):
        assert Color(255, 0, 16).as_hex() == "#ff0010"
        assert Color.from_hex("#FF0010") == Color(255, 0, 16)
        assert Color.from_hex("00ff00").as_tuple() == (0, 255, 0)

    @pytest.mark.parametrize("bad", ["#fff", "red", "#gg0000"])
    def test_bad_hex(self, bad):
        with pytest.raises(ValueError):
            Color.from_hex(bad)

    def test_channel_range(self):
        with pytest.raises(ValueError):
            Color(256, 0, 0)
