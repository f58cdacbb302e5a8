"""get_layer_properties: the PDK's layer stack and views condensed into PdkLayer records."""

from __future__ import annotations

import copy
from types import SimpleNamespace

import brenvik
import pytest
from brenvik import Color, DerivedLayer, LayerLevel, LayerStack, LayerView, LayerViews, LogicalLayer
from tesselink import LayerEnum

from tarnwick.core.depthview import get_layer_properties


class L(LayerEnum):
    A = (1, 0)
    B = (2, 0)
    C = (3, 5)
    D = (4, 0)


def views(*specs):
    """LayerViews from (member, colour or None) pairs."""
    return LayerViews(
        {m.name: LayerView(name=m.name, layer=m.tuple, fill_color=color) for m, color in specs}
    )


def level(layer, thickness=0.22, zmin=0.0, derived_layer=None):
    return LayerLevel(layer=layer, derived_layer=derived_layer, thickness=thickness, zmin=zmin)


def fields(result):
    return {k: (v.name, v.thickness, v.zmin, v.color) for k, v in result.items()}


def test_empty_stack_gives_empty_map():
    assert get_layer_properties(LayerStack({}), views()) == {}


def test_one_logical_level():
    stack = LayerStack({"core": level(LogicalLayer(L.A), 0.22, 0.0)})
    result = get_layer_properties(stack, views((L.A, "#ff0000")))
    assert list(result) == [(1, 0)]
    layer = result[(1, 0)]
    assert type(layer).__name__ == "PdkLayer"
    assert (layer.name, layer.thickness, layer.zmin, layer.color) == ("A", 0.22, 0.0, "#ff0000")


def test_level_without_view_is_left_out_and_next_level_still_counts():
    stack = LayerStack({"a": level(LogicalLayer(L.A)), "b": level(LogicalLayer(L.B), 0.5, 1.0)})
    result = get_layer_properties(stack, views((L.B, "#00ff00")))
    assert fields(result) == {(2, 0): ("B", 0.5, 1.0, "#00ff00")}


def test_view_without_fill_colour_is_left_out():
    stack = LayerStack({"a": level(LogicalLayer(L.A)), "b": level(LogicalLayer(L.B))})
    result = get_layer_properties(stack, views((L.A, None), (L.B, "#0000ff")))
    assert list(result) == [(2, 0)]


def test_derived_levels():
    derived = DerivedLayer(LogicalLayer(L.A), LogicalLayer(L.B), "and")
    stack = LayerStack(
        {
            "no_target": level(derived, 9.0, 9.0),
            "with_target": level(derived, 0.13, 0.09, derived_layer=LogicalLayer(L.C)),
        }
    )
    result = get_layer_properties(stack, views((L.A, "#111111"), (L.C, "#333333")))
    assert fields(result) == {(3, 5): ("C", 0.13, 0.09, "#333333")}


def test_derived_level_whose_target_is_not_logical_is_left_out():
    derived = DerivedLayer(LogicalLayer(L.A), LogicalLayer(L.B), "or")
    stack = SimpleNamespace(
        layers={
            "odd": SimpleNamespace(layer=derived, derived_layer=derived, thickness=1, zmin=0),
            "ok": SimpleNamespace(layer=LogicalLayer(L.A), derived_layer=None, thickness=2, zmin=1),
        }
    )
    assert list(get_layer_properties(stack, views((L.A, "#123456")))) == [(1, 0)]


def test_logical_layer_that_is_not_a_layer_enum_is_left_out():
    stack = LayerStack({"pair": level(LogicalLayer((1, 0))), "enum": level(LogicalLayer(L.B))})
    result = get_layer_properties(stack, views((L.A, "#aaaaaa"), (L.B, "#bbbbbb")))
    assert list(result) == [(2, 0)]


def test_same_layer_twice_keeps_first_position_and_later_values():
    stack = LayerStack(
        {
            "first": level(LogicalLayer(L.A), 0.1, 0.0),
            "other": level(LogicalLayer(L.B), 0.3, 0.5),
            "again": level(LogicalLayer(L.A), 0.7, 2.0),
        }
    )
    result = get_layer_properties(stack, views((L.A, "#010101"), (L.B, "#020202")))
    assert list(result) == [(1, 0), (2, 0)]
    assert fields(result)[(1, 0)] == ("A", 0.7, 2.0, "#010101")


def test_entries_follow_the_stack_order():
    stack = LayerStack(
        {
            "d": level(LogicalLayer(L.D)),
            "a": level(LogicalLayer(L.A)),
            "c": level(LogicalLayer(L.C)),
            "b": level(LogicalLayer(L.B)),
        }
    )
    result = get_layer_properties(
        stack, views((L.A, "#000001"), (L.B, "#000002"), (L.C, "#000003"), (L.D, "#000004"))
    )
    assert list(result) == [(4, 0), (1, 0), (3, 5), (2, 0)]


def test_unknown_layer_kind_is_a_type_error():
    stack = SimpleNamespace(
        layers={
            "ok": SimpleNamespace(layer=LogicalLayer(L.A), derived_layer=None, thickness=1, zmin=0),
            "bad": SimpleNamespace(layer=42, derived_layer=None, thickness=1, zmin=0),
        }
    )
    with pytest.raises(TypeError) as info:
        get_layer_properties(stack, views((L.A, "#ffffff")))
    assert str(info.value) == "Unknown type <class 'int'>"


def test_any_lookup_error_skips_the_level_but_interrupts_propagate():
    class Views:
        def __init__(self, error):
            self.error = error

        def get_from_tuple(self, spec):
            if spec == (1, 0):
                raise self.error
            return SimpleNamespace(fill_color=Color(1, 2, 3))

    stack = LayerStack({"a": level(LogicalLayer(L.A)), "b": level(LogicalLayer(L.B))})
    for error in (KeyError("x"), ValueError("y"), RuntimeError("z")):
        assert list(get_layer_properties(stack, Views(error))) == [(2, 0)]
    with pytest.raises(KeyboardInterrupt):
        get_layer_properties(stack, Views(KeyboardInterrupt()))


def test_lookup_is_passed_the_layer_spec_pair():
    seen = []

    class Views:
        def get_from_tuple(self, spec):
            seen.append(spec)
            return SimpleNamespace(fill_color=SimpleNamespace(as_hex=lambda: "Violet"))

    stack = LayerStack({"c": level(LogicalLayer(L.C), 1.5, 2.5)})
    result = get_layer_properties(stack, Views())
    assert seen == [(3, 5)]
    assert fields(result) == {(3, 5): ("C", 1.5, 2.5, "Violet")}


def test_errors_of_the_inputs_members_propagate():
    stack = SimpleNamespace(
        layers={"a": SimpleNamespace(layer=LogicalLayer(L.A), derived_layer=None, zmin=0.0)}
    )
    with pytest.raises(AttributeError, match="thickness"):
        get_layer_properties(stack, views((L.A, "#ffffff")))


def test_values_are_passed_unchanged():
    stack = SimpleNamespace(
        layers={
            "a": SimpleNamespace(layer=LogicalLayer(L.A), derived_layer=None, thickness=1, zmin=2)
        }
    )
    layer = get_layer_properties(stack, views((L.A, "#ffffff")))[(1, 0)]
    assert layer.thickness == 1 and type(layer.thickness) is int
    assert layer.zmin == 2 and type(layer.zmin) is int


def test_parameters_are_required_and_positional_names_fixed():
    with pytest.raises(TypeError):
        get_layer_properties(LayerStack({}))  # type: ignore[call-arg]
    assert get_layer_properties(layer_stack=LayerStack({}), layer_views=views()) == {}


def test_demo_pdk_stack():
    stack, layer_views = brenvik.get_layer_stack(), brenvik.get_layer_views()
    before = (copy.deepcopy(stack), copy.deepcopy(layer_views))
    result = get_layer_properties(stack, layer_views)
    assert (stack, layer_views) == before

    # Independently: every logical level (or derived level with a target) on a LayerEnum that has
    # a coloured view, keyed in first-seen order with the last level's values.
    expected = {}
    for lvl in stack.layers.values():
        target = lvl.derived_layer if isinstance(lvl.layer, DerivedLayer) else lvl.layer
        if target is None or not isinstance(target.layer, LayerEnum):
            continue
        try:
            view = layer_views.get_from_tuple(target.layer.tuple)
        except KeyError:
            continue
        if view.fill_color is not None:
            expected[target.layer.tuple] = (
                target.layer.name,
                lvl.thickness,
                lvl.zmin,
                view.fill_color.as_hex(),
            )
    assert fields(result) == expected
    assert list(result) == list(expected)
    # The demo stack has a floorplan level without a view, a derived level with a target and
    # a derived level without one; all three cases must have been exercised.
    assert (64, 0) not in result
    assert result[(3, 0)].name == "SHALLOW"
    assert result[(3, 0)].zmin == stack.layers["shallow_etch"].zmin
    assert len(result) >= 5
