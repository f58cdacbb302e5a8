"""The native scene writer against the Python-object path value by value: asdict, then
numpy_to_buffer_json, then the host's compact JSON writer (orjson with the `none` hook)."""

from __future__ import annotations

import math

import klayout.db as kdb
import numpy as np
import orjson
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from tarnwick.core import depthview as dv
from tarnwick.core.depthview import KTrans, ParseGDS, Part, Parts, Shape, ViewerData, numpy_to_buffer_json
from tarnwick.core.shared import none

PARSER = ParseGDS(kdb.Layout(), {})


def reference(value):
    """(text, None) or (None, (error type, message)) of the Python-object path."""
    try:
        mapped = numpy_to_buffer_json({"v": PARSER.asdict(value)})["v"]
        return orjson.dumps(mapped, default=none).decode(), None
    except Exception as error:  # noqa: BLE001 - the error itself is compared
        return None, (type(error), str(error))


def native(value):
    try:
        return dv._scene_json(value), None
    except Exception as error:  # noqa: BLE001
        return None, (type(error), str(error))


def check(value, *, must_write: bool):
    expected, expected_error = reference(value)
    text, error = native(value)
    if expected_error is not None:
        # Either left to the Python-object path (None) or the same failure.
        assert text is None and error in (None, expected_error)
        return
    assert error is None
    if must_write:
        assert text is not None, value
    if text is not None:
        assert text == expected


any_text = st.text(st.characters(codec=None, categories=None), max_size=12)
ascii_text = st.text(st.characters(max_codepoint=127), max_size=12)
floats = st.floats(allow_nan=True, allow_infinity=True) | st.sampled_from(
    [0.0, -0.0, 1e16, 1e-7, 5e-324, 1.7976931348623157e308, 0.1, 2.5, 123456789.0, 1e22]
)
ints = st.integers(min_value=-(2**63), max_value=2**63 - 1)
f32_arrays = st.lists(st.floats(width=32, allow_nan=False), max_size=9).map(
    lambda xs: np.array(xs, dtype=np.float32)
)


def plain_tree():
    """Values the native writer writes itself."""
    leaves = st.none() | st.booleans() | ints | floats | any_text.filter(is_encodable) | f32_arrays
    return st.recursive(
        leaves,
        lambda children: st.lists(children, max_size=4)
        | st.lists(children, max_size=3).map(tuple)
        | st.dictionaries(any_text.filter(is_encodable), children, max_size=4),
        max_leaves=20,
    )


def is_encodable(text: str) -> bool:
    try:
        text.encode()
        return True
    except UnicodeEncodeError:
        return False


def records(children):
    shape = st.builds(
        lambda refs, height, matrices: Shape(refs, height, matrices),
        st.lists(ints, max_size=5),
        floats,
        f32_arrays,
    )
    part = st.builds(
        lambda name, id_, shape, color, loc: Part(name, id_, loc=loc, shape=shape, color=color),
        any_text.filter(is_encodable),
        any_text.filter(is_encodable),
        shape,
        any_text.filter(is_encodable) | ints,
        st.tuples(st.tuples(ints, ints, floats), st.tuples(ints, ints, ints, ints)),
    )
    parts = st.builds(
        lambda name, id_, kids: Parts(name, id_, parts=kids),
        any_text.filter(is_encodable),
        any_text.filter(is_encodable),
        st.lists(part | children, max_size=3),
    )
    return parts | part


@settings(max_examples=400, deadline=None)
@given(plain_tree())
def test_plain_values_are_written_natively_and_equal(value):
    check(value, must_write=True)


@settings(max_examples=200, deadline=None)
@given(st.recursive(st.builds(lambda: Parts("p", "/p")), records, max_leaves=8))
def test_scene_records_are_written_natively_and_equal(value):
    check(value, must_write=True)
    check(ViewerData("Cells", "/Cells", parts=[value]), must_write=True)


@settings(max_examples=300, deadline=None)
@given(
    st.recursive(
        st.none()
        | any_text
        | st.integers()
        | floats
        | f32_arrays
        | st.sampled_from(
            [
                np.arange(6, dtype=np.float64),
                np.arange(6, dtype=np.int32),
                np.arange(6, dtype=np.float32).reshape(2, 3),
                np.arange(12, dtype=np.float32)[::2],
                np.arange(3, dtype=">f4"),
                np.array(["a"]),
                object(),
                True,
            ]
        )
        | st.builds(lambda: KTrans(kdb.Trans(1, True, 3, 4))),
        lambda children: st.lists(children, max_size=3)
        | st.dictionaries(any_text | st.integers(-3, 3), children, max_size=3),
        max_leaves=12,
    )
)
def test_any_value_is_equal_or_left_to_the_python_object_path(value):
    check(value, must_write=False)


def test_texts_that_need_escaping():
    for text in ['"', "\\", "\x00\x1f\x7f", "ü", "日本語", "😀", "a/b</script>", "\u2028"]:
        check(text, must_write=True)
    check("\ud800", must_write=False)
    assert native("\ud800")[1] == reference("\ud800")[1]


def test_floats_of_all_magnitudes():
    rng = np.random.default_rng(0)
    values = [float(x) for x in rng.standard_normal(300) * 10.0 ** rng.integers(-320, 308, 300)]
    values += [math.nan, math.inf, -math.inf, 0.2, 0.65, 1.1]
    for value in values:
        check(value, must_write=True)
    check(values, must_write=True)


def test_integers_beyond_64_bits_are_left_to_the_python_object_path():
    check(2**63, must_write=False)
    check(2**64 - 1, must_write=False)
    check(-(2**63) - 1, must_write=False)
    assert dv._scene_json(2**64) is None


def test_deep_nesting_is_left_to_the_python_object_path():
    for depth in (150, 250, 300):
        value: list = []
        inner = value
        for _ in range(depth):
            inner.append([])
            inner = inner[0]
        check(value, must_write=depth < 200)


def test_subclasses_and_non_text_keys_are_left_to_the_python_object_path():
    class Text(str):
        pass

    for value in ({1: 2}, Text("x"), [Text("x")], {"a": np.arange(3, dtype=np.float64)}):
        assert dv._scene_json(value) is None
        check(value, must_write=False)


@pytest.mark.parametrize("count", [0, 1, 2, 3, 4, 5, 16, 1000])
def test_buffer_records(count):
    array = np.random.default_rng(count).random(count, dtype=np.float32)
    check(array, must_write=True)
    check(Shape([1, 2], 0.5, array), must_write=True)
