"""Cell functions for the build tests.

They live in this file so that the tests know the source file and the lines where they fail
(each such line carries a marker comment, found with `line_of`). Every cell that runs appends an
entry to `BUILT`.
"""

from __future__ import annotations

import functools
from pathlib import Path
from typing import Any

import brenvik
from brenvik import Component
from tesselink.kcell import TKCell

BUILT: list[str] = []
RAISED: list[BaseException] = []


def line_of(marker: str) -> int:
    """The line of this file that carries the comment `# <marker>`."""
    lines = Path(__file__).read_text().splitlines()
    found = [number for number, line in enumerate(lines, 1) if line.endswith(f"# {marker}")]
    assert len(found) == 1, marker
    return found[0]


def square_cell(label: str, size: float = 1.0):
    """A plain (non-schematic) cell function that builds a small square and records `label`."""

    def square() -> Component:
        BUILT.append(label)
        c = Component()
        c.add_polygon([(0, 0), (size, 0), (size, size), (0, size)], (1, 0))
        return c

    square.__qualname__ = square.__name__ = f"square_{label}"
    return square


def schematic_like(cell_func, module: str = "tests_fake_picyml"):
    """`cell_func` presented as a schematic cell (its module name ends with "_picyml")."""
    cell_func.__module__ = module
    return cell_func


# --- failures inside construction, at known lines -------------------------------------------


def _level_two(value: int) -> int:
    error = ValueError(f"deep failure {value}")
    RAISED.append(error)
    raise error  # innermost-deep


def _level_one(value: int) -> int:
    return _level_two(value + 1)


def deep_failure() -> Component:
    BUILT.append("deep_failure")
    _level_one(1)
    raise AssertionError("not reached")


def _explode(value: int) -> int:
    error = ZeroDivisionError("exploded in a sort key")
    RAISED.append(error)
    raise error  # innermost-builtin


def failure_through_builtin() -> Component:
    """The error passes through the runtime's own C code (sorted) on its way out."""
    BUILT.append("failure_through_builtin")
    sorted([3, 1, 2], key=_explode)
    raise AssertionError("not reached")


class UnreadableBase:
    """A default value whose `base` cannot be read."""

    @property
    def base(self) -> Any:
        error = RuntimeError("base cannot be read")
        RAISED.append(error)
        raise error  # innermost-unreadable-base


class MissingBase:
    """A default value whose `base` attribute is missing (reading it raises AttributeError)."""

    @property
    def base(self) -> Any:
        raise AttributeError("no base here")


class PlainBase:
    """A default value whose `base` is not a cell."""

    base = "not a cell"


def failure_through_native() -> Component:
    """The error raised in Python passes through the build module's C++ (the default-argument
    check reads `base`) and back into Python before it reaches the build."""
    from tarnwick.core import build

    BUILT.append("failure_through_native")

    def probe(x: Any = UnreadableBase()) -> None:  # noqa: B008
        pass

    build._check_component_default_args("probe", probe)
    raise AssertionError("not reached")


def unreadable_default(x: Any = UnreadableBase()) -> Component:  # noqa: B008
    BUILT.append("unreadable_default")
    return Component()


# --- components as defaults --------------------------------------------------------------------


class DerivedCell(TKCell):
    """A derived cell type: its instances count as cells too."""

    __slots__ = ()


class HoldsDerived:
    def __init__(self) -> None:
        self.base = DerivedCell(Component().kdb_cell)


def component_defaults(  # component-defaults
    a: Component = Component("prebuilt_a"),  # noqa: B008
    size: float = 1.0,
    plain: Any = PlainBase(),  # noqa: B008
    missing: Any = MissingBase(),  # noqa: B008
    *,
    b: Any = HoldsDerived(),  # noqa: B008
) -> Component:
    BUILT.append("component_defaults")
    return Component()


def harmless_defaults(
    size: float = 1.0,
    plain: Any = PlainBase(),  # noqa: B008
    missing: Any = MissingBase(),  # noqa: B008
    *args,
    **kwargs,
) -> Component:
    BUILT.append("harmless_defaults")
    return Component()


def no_parameters() -> Component:
    BUILT.append("no_parameters")
    return Component()


def _local_wrap(func):
    @functools.wraps(func)  # local-wrapper
    def local_wrapper(*args: Any, **kwargs: Any) -> Any:
        return func(*args, **kwargs)

    return local_wrapper


@brenvik.cell  # wrapped-by-cell
def wrapped_component_default(c: Component = Component("prebuilt_w")) -> Component:  # noqa: B008
    BUILT.append("wrapped_component_default")
    return Component()


def _twice_wrapped(c: Component = Component("prebuilt_t")) -> Component:  # noqa: B008
    return Component()


# brenvik.cell wraps the local wrapper, which wraps the function: the location is the local
# wrapper's (one level of unwrapping only).
twice_wrapped_component_default = brenvik.cell(_local_wrap(_twice_wrapped))


# --- save stage ----------------------------------------------------------------------------


class Unsaveable:
    """Built fine, but cannot be written."""

    def write_gds(self, path: Any, with_metadata: bool = True) -> None:
        error = OSError("cannot write GDS")
        RAISED.append(error)
        raise error  # innermost-save


def unsaveable() -> Unsaveable:
    BUILT.append("unsaveable")
    return Unsaveable()
