"""numpy_to_buffer_json: numeric arrays become base64 buffer records, the tree around them is
rebuilt, everything else passes through."""

from __future__ import annotations

import base64
from collections import OrderedDict

import numpy as np
import orjson
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp

from tarnwick.core.depthview import numpy_to_buffer_json


def decode(record):
    """The array a buffer record describes."""
    assert list(record) == ["shape", "dtype", "buffer", "codec"]
    assert record["codec"] == "b64"
    (count,) = record["shape"]
    array = np.frombuffer(base64.b64decode(record["buffer"], validate=True), record["dtype"])
    assert array.size == count
    return array


def test_two_floats_give_the_documented_bytes():
    record = numpy_to_buffer_json({"a": np.array([1.0, 2.0], np.float32)})["a"]
    assert list(record["shape"]) == [2]
    assert record["dtype"] == "float32"
    assert base64.b64decode(record["buffer"]) == bytes.fromhex("0000803f00000040")
    assert record["buffer"] == "AACAPwAAAEA="
    assert record["codec"] == "b64"
    assert orjson.dumps(record) == (
        b'{"shape":[2],"dtype":"float32","buffer":"AACAPwAAAEA=","codec":"b64"}'
    )


def test_empty_array():
    record = numpy_to_buffer_json({"a": np.zeros(0, np.float32)})["a"]
    assert list(record["shape"]) == [0]
    assert record["buffer"] == ""
    assert record["dtype"] == "float32"


def test_two_by_three_array_is_flattened_row_major():
    array = np.arange(6, dtype=np.float32).reshape(2, 3)
    record = numpy_to_buffer_json({"m": array})["m"]
    assert list(record["shape"]) == [6]
    np.testing.assert_array_equal(decode(record), [0, 1, 2, 3, 4, 5])


def test_non_contiguous_array_encodes_the_selected_elements_only():
    base = np.arange(10, dtype=np.float32)
    record = numpy_to_buffer_json({"s": base[::2]})["s"]
    assert list(record["shape"]) == [5]
    assert len(base64.b64decode(record["buffer"])) == 5 * 4
    np.testing.assert_array_equal(decode(record), [0, 2, 4, 6, 8])


def test_column_major_array_is_written_in_row_major_order():
    array = np.asfortranarray(np.arange(6, dtype=np.float64).reshape(2, 3))
    assert not array.flags.c_contiguous
    np.testing.assert_array_equal(
        decode(numpy_to_buffer_json({"f": array})["f"]), [0, 1, 2, 3, 4, 5]
    )


def test_transposed_and_sliced_views():
    base = np.arange(24, dtype=np.int32).reshape(4, 6)
    view = base.T[1:5, ::3]
    np.testing.assert_array_equal(decode(numpy_to_buffer_json(view)), view.ravel())


@pytest.mark.parametrize(
    "dtype, name",
    [
        (np.float32, "float32"),
        (np.float64, "float64"),
        (np.int32, "int32"),
        (np.int64, "int64"),
        (np.uint8, "uint8"),
        (np.bool_, "bool"),
        (np.int16, "int16"),
        (np.complex64, "complex64"),
        (np.float16, "float16"),
    ],
)
def test_dtype_names_follow_numpy(dtype, name):
    array = np.arange(5).astype(dtype)
    record = numpy_to_buffer_json({"x": array})["x"]
    assert record["dtype"] == name
    assert base64.b64decode(record["buffer"]) == array.tobytes()


def test_big_endian_array_is_written_in_native_order():
    array = np.array([1.0, 2.0], dtype=">f4")
    record = numpy_to_buffer_json({"x": array})["x"]
    assert record["dtype"] == "float32"
    assert record["buffer"] == "AACAPwAAAEA="


def test_zero_dimensional_array_counts_one_element():
    record = numpy_to_buffer_json({"x": np.array(3.5, np.float32)})["x"]
    assert list(record["shape"]) == [1]
    np.testing.assert_array_equal(decode(record), [3.5])


def test_pair_becomes_list_and_values_are_kept():
    result = numpy_to_buffer_json({"loc": ((0.0, 0.0, 0.0), (0.0, 0.0, 0.0, 1.0))})
    assert result == {"loc": [[0.0, 0.0, 0.0], [0.0, 0.0, 0.0, 1.0]]}
    assert type(result["loc"]) is list and type(result["loc"][0]) is list


def test_leaves_come_back_unchanged_and_identical():
    text, number, flag, big = "WG (1, 0)", 0.22, True, 10**30
    obj = object()
    value = {"t": text, "n": number, "b": flag, "none": None, "big": big, "o": obj, "i": 3}
    result = numpy_to_buffer_json(value)
    assert result == value
    for key, item in value.items():
        assert result[key] is item


def test_non_numeric_arrays_pass_through():
    objects = np.array([object(), 1], dtype=object)
    strings = np.array(["a", "b"])
    result = numpy_to_buffer_json({"o": objects, "s": strings})
    assert result["o"] is objects
    assert result["s"] is strings


def test_maps_and_lists_are_new_and_input_untouched():
    inner = np.array([1.0], np.float32)
    parts = [{"shape": {"refs": [0, 1], "matrices": inner}}]
    value = {"name": "Cells", "parts": parts, "instances": [inner, inner]}
    snapshot = repr(value)
    result = numpy_to_buffer_json(value)
    assert repr(value) == snapshot
    assert result is not value
    assert result["parts"] is not parts
    assert result["parts"][0] is not parts[0]
    assert result["parts"][0]["shape"]["refs"] is not parts[0]["shape"]["refs"]
    assert result["parts"][0]["shape"]["refs"] == [0, 1]
    assert value["instances"][0] is inner
    # Two occurrences of one array give two separate records.
    assert result["instances"][0] == result["instances"][1]
    assert result["instances"][0] is not result["instances"][1]


def test_key_order_is_kept_and_keys_are_not_walked():
    key = (1, 0)
    value = {"z": 1, key: np.zeros(1, np.float32), "a": 2}
    result = numpy_to_buffer_json(value)
    assert list(result) == ["z", key, "a"]
    assert list(result)[1] is key


def test_map_subclass_gives_plain_map():
    result = numpy_to_buffer_json(OrderedDict(b=np.ones(1, np.float32), a=1))
    assert type(result) is dict
    assert list(result) == ["b", "a"]


@pytest.mark.parametrize("value", [[1, 2], (1, 2), 3, 2.5, "text", True])
def test_non_map_result_is_a_type_error(value):
    with pytest.raises(TypeError, match=r"dict.*" + type(value).__name__):
        numpy_to_buffer_json(value)


def test_map_array_and_none_are_accepted():
    assert numpy_to_buffer_json(None) is None
    assert numpy_to_buffer_json({}) == {}
    assert decode(numpy_to_buffer_json(np.array([1.0, 2.0], np.float32))).tolist() == [1.0, 2.0]


def test_self_containing_list_raises_recursion_error_not_crash():
    cycle = []
    cycle.append(cycle)
    with pytest.raises(RecursionError):
        numpy_to_buffer_json({"c": cycle})


def test_large_array_round_trips():
    array = np.random.default_rng(1).random(1_000_003).astype(np.float32)
    record = numpy_to_buffer_json({"x": array})["x"]
    assert record["buffer"] == base64.b64encode(array.tobytes()).decode()
    assert "\n" not in record["buffer"]


@settings(max_examples=200, deadline=None)
@given(
    hnp.arrays(
        dtype=st.sampled_from([np.float32, np.float64, np.int8, np.uint16, np.int64, np.bool_]),
        shape=hnp.array_shapes(min_dims=0, max_dims=3, min_side=0, max_side=5),
    ),
    st.integers(1, 3),
)
def test_any_array_and_stride_matches_numpy(array, step):
    view = array[::step] if array.ndim else array
    record = numpy_to_buffer_json({"x": view})["x"]
    assert list(record["shape"]) == [view.size]
    assert record["dtype"] == str(view.dtype)
    assert base64.b64decode(record["buffer"]) == np.ascontiguousarray(view).tobytes()
