"""ostrand.flatten_dict."""

from __future__ import annotations

import pytest
from hypothesis import given
from hypothesis import strategies as st
from ostrand import flatten_dict


class TestFlattenDict:
    def test_nested_paths_are_joined_in_order(self):
        nested = {"a": {"b": 1, "c": {"d": 2}}, "e": 3, "f": {"g": [4, 5]}}
        flat = flatten_dict(nested)
        assert flat == {"a_b": 1, "a_c_d": 2, "e": 3, "f_g": [4, 5]}
        assert list(flat) == ["a_b", "a_c_d", "e", "f_g"]

    def test_custom_separator_and_non_text_keys(self):
        assert flatten_dict({1: {2.5: "x", None: "y"}}, sep=" ") == {"1 2.5": "x", "1 None": "y"}

    def test_empty_nested_map_contributes_nothing(self):
        assert flatten_dict({"a": {}, "b": {"c": {}}, "d": 0}) == {"d": 0}
        assert flatten_dict({}) == {}

    def test_leaves_are_kept_as_is_and_input_untouched(self):
        leaf = {"not": "copied"}.keys()
        nested = {"x": {"y": leaf, "z": None}}
        flat = flatten_dict(nested)
        assert flat["x_y"] is leaf
        assert flat["x_z"] is None
        assert nested == {"x": {"y": leaf, "z": None}}

    def test_order_follows_depth_first_leaf_order(self):
        nested = {"z": 1, "a": {"y": 2, "b": 3}, "m": 4}
        assert list(flatten_dict(nested)) == ["z", "a_y", "a_b", "m"]

    def test_very_deep_nesting_does_not_hit_recursion_limit(self):
        nested: dict = {"leaf": 1}
        for _ in range(5000):
            nested = {"k": nested}
        (key,) = flatten_dict(nested, sep=".")
        assert key.count(".") == 5000

    def test_rejects_non_mapping(self):
        with pytest.raises(TypeError):
            flatten_dict([("a", 1)])


_keys = st.text(alphabet="abcdef", min_size=1, max_size=4)
_nested = st.recursive(
    st.integers(), lambda children: st.dictionaries(_keys, children, max_size=4), max_leaves=20
)


def _unflatten(flat: dict, sep: str) -> dict:
    out: dict = {}
    for key, value in flat.items():
        node = out
        *parents, last = key.split(sep)
        for part in parents:
            node = node.setdefault(part, {})
        node[last] = value
    return out


def _drop_empty(d):
    if not isinstance(d, dict):
        return d
    pruned = {k: _drop_empty(v) for k, v in d.items()}
    return {k: v for k, v in pruned.items() if v != {}}


@given(st.dictionaries(_keys, _nested, max_size=5))
def test_flatten_then_unflatten_gives_back_the_leaves(nested):
    flat = flatten_dict(nested, sep="/")
    assert all(not isinstance(v, dict) for v in flat.values())
    assert _unflatten(flat, "/") == _drop_empty(nested)
