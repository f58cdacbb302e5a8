"""_get_brenvik_version: the library's version text read as (major, minor, patch)."""

from __future__ import annotations

import sys
import types

import pytest
from conftest import NO_VERSION
from hypothesis import given
from hypothesis import strategies as st

from tarnwick.core import freeze


@pytest.mark.parametrize(
    ("text", "expected"),
    [
        ("9.34.0", (9, 34, 0)),
        ("9.33.9", (9, 33, 9)),
        ("9.34.1+g1a2b", (9, 34, 1)),
        ("10.0", (10, 0, 0)),
        ("9.35.0-rc1", (9, 35, 0)),
        ("9.34.0.dev1", (9, 34, 0)),
        ("9.34.0rc1", (0, 0, 0)),
        ("", (0, 0, 0)),
        ("10", (10, 0, 0)),
        ("1.2.3.4.5", (1, 2, 3)),
        ("9.34.2+local-build", (9, 34, 2)),
        ("9.34.2-rc+x", (9, 34, 2)),
        ("9.34.+1", (0, 0, 0)),  # the patch text is empty after the cut
        ("9..0", (0, 0, 0)),
        ("9.x.0", (0, 0, 0)),
        ("9-1.34.0", (0, 0, 0)),  # "+" and "-" are cut from the patch only
        # The parts are read as Python's int() reads them.
        (" 9 .34. 0", (9, 34, 0)),
        ("+9.34.1_0", (9, 34, 10)),
        ("-1.0.0", (-1, 0, 0)),
        ("\u0669.\u0663\u0664.\u0660", (9, 34, 0)),  # Arabic-Indic digits
        ("123456789012345678901234567890.1.2", (123456789012345678901234567890, 1, 2)),
        ("9.34.0.\udc80", (9, 34, 0)),  # a lone surrogate after the third part is ignored
        ("9.34.\udc80", (0, 0, 0)),
        ("9\x00.34.0", (0, 0, 0)),
    ],
)
def test_version_texts(library, text, expected):
    library.set_version(text)
    version = freeze._get_brenvik_version()
    assert version == expected
    assert type(version) is tuple and all(type(part) is int for part in version)


@pytest.mark.parametrize("value", [NO_VERSION, None, 9.34, b"9.34.0"])
def test_unreadable_versions_give_zeros(library, value):
    library.set_version(value)
    assert freeze._get_brenvik_version() == (0, 0, 0)


def test_version_is_read_by_a_fresh_import_at_every_call(library):
    library.set_version("9.33.0")
    assert freeze._get_brenvik_version() == (9, 33, 0)
    sys.modules["brenvik"].__version__ = "9.35.1"
    assert freeze._get_brenvik_version() == (9, 35, 1)
    library.set_version("11.2.3")  # a different module object under the same name
    assert freeze._get_brenvik_version() == (11, 2, 3)


def test_failure_to_load_the_library_is_not_caught():
    with pytest.MonkeyPatch.context() as patch:
        patch.setitem(sys.modules, "brenvik", None)
        with pytest.raises(ImportError):
            freeze._get_brenvik_version()


@pytest.mark.parametrize("kind", [ValueError, IndexError, AttributeError])
def test_value_index_and_attribute_errors_reading_the_version_give_zeros(kind):
    module = types.ModuleType("brenvik")

    def __getattr__(name):
        raise kind(name)

    module.__getattr__ = __getattr__
    with pytest.MonkeyPatch.context() as patch:
        patch.setitem(sys.modules, "brenvik", module)
        assert freeze._get_brenvik_version() == (0, 0, 0)


def test_other_errors_reading_the_version_pass_through():
    class Broken(Exception):
        pass

    module = types.ModuleType("brenvik")

    def __getattr__(name):
        raise Broken(name)

    module.__getattr__ = __getattr__
    with pytest.MonkeyPatch.context() as patch:
        patch.setitem(sys.modules, "brenvik", module)
        with pytest.raises(Broken, match="__version__"):
            freeze._get_brenvik_version()


def _version_by_the_rules(text: str) -> tuple[int, int, int]:
    """The version rules written out plainly, as an independent oracle."""
    try:
        parts = text.split(".")
        major = int(parts[0]) if len(parts) >= 1 else 0
        minor = int(parts[1]) if len(parts) >= 2 else 0
        patch = int(parts[2].split("+")[0].split("-")[0]) if len(parts) >= 3 else 0
    except (ValueError, IndexError):
        return (0, 0, 0)
    return (major, minor, patch)


@given(
    st.text(alphabet=st.sampled_from("0123456789.+-_ ab\u0663\udc80"), max_size=16)
    | st.from_regex(r"\A[0-9]{1,3}\.[0-9]{1,3}(\.[0-9]{1,3}([+-][a-z0-9.+-]{0,5})?)?\Z")
)
def test_version_agrees_with_the_rules(text):
    with pytest.MonkeyPatch.context() as patch:
        module = types.ModuleType("brenvik")
        module.__version__ = text
        patch.setitem(sys.modules, "brenvik", module)
        assert freeze._get_brenvik_version() == _version_by_the_rules(text)
