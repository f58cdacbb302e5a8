"""Stand-ins for the component library, the active PDK and the host logger.

The freeze operations are judged by what they do to the objects they are given: which calls the
cell function and the component receive, which texts reach the host logger. The stand-ins record
exactly that, and install themselves on the module-level names of ``tarnwick.core.freeze`` (and on
``sys.modules["brenvik"]`` for the library version) only for the duration of one test.
"""

from __future__ import annotations

import sys
import types
from typing import Any

import pytest
from tarnwick.logger import get_logger

from tarnwick.core import freeze

NO_VERSION = object()


class StandInComponent:
    """Returns its netlist (or raises its error) from get_netlist and records each call's
    keyword arguments."""

    def __init__(self, netlist: Any = None, error: BaseException | None = None) -> None:
        self.netlist = netlist
        self.error = error
        self.netlist_calls: list[tuple[tuple, dict]] = []

    def get_netlist(self, *args: Any, **kwargs: Any) -> Any:
        self.netlist_calls.append((args, kwargs))
        if self.error is not None:
            raise self.error
        return self.netlist


class StandInCell:
    """A cell function: records its calls and returns its component."""

    def __init__(self, component: StandInComponent, module: str, error: BaseException | None):
        self.component = component
        self.error = error
        self.calls: list[tuple[tuple, dict]] = []
        self.__module__ = module

    def __call__(self, *args: Any, **kwargs: Any) -> StandInComponent:
        self.calls.append((args, kwargs))
        if self.error is not None:
            raise self.error
        return self.component


class StandInPdk:
    def __init__(self, name: Any = "stand_in_pdk") -> None:
        self.name = name
        self.cells: dict[str, Any] = {}


class Library:
    """The stand-in world of one test."""

    def __init__(self, patch: pytest.MonkeyPatch) -> None:
        self._patch = patch
        self.pdk = StandInPdk()
        self.get_pdk_calls = 0
        self.get_logger_calls = 0
        patch.setattr(freeze, "get_pdk", self._get_pdk)
        patch.setattr(freeze, "log", self._get_logger)
        self.set_version("9.34.0")

    def _get_pdk(self) -> StandInPdk:
        self.get_pdk_calls += 1
        return self.pdk

    def _get_logger(self):
        self.get_logger_calls += 1
        return get_logger()

    def set_version(self, version: Any) -> None:
        """Install a stand-in ``brenvik`` module whose ``__version__`` is ``version``
        (none at all for NO_VERSION)."""
        module = types.ModuleType("brenvik")
        if version is not NO_VERSION:
            module.__version__ = version
        self._patch.setitem(sys.modules, "brenvik", module)

    def add_cell(
        self,
        name: str,
        netlist: Any = None,
        *,
        module: str = "stand_in_cells",
        cell_error: BaseException | None = None,
        netlist_error: BaseException | None = None,
    ) -> StandInCell:
        if netlist is None and netlist_error is None:
            netlist = netlist_of()
        cell = StandInCell(StandInComponent(netlist, netlist_error), module, cell_error)
        self.pdk.cells[name] = cell
        return cell


def netlist_of(**sections: Any) -> dict[str, Any]:
    """A library netlist: a name, one instance, the other five sections empty, then
    ``sections`` on top (a value of None removes that section)."""
    netlist: dict[str, Any] = {
        "name": "top",
        "instances": {"i1": {"component": "straight", "settings": {"length": 1}}},
        "connections": {},
        "ports": {},
        "placements": {"i1": {"x": 0, "y": 0}},
        "routes": {},
        "nets": [],
    }
    for key, value in sections.items():
        if value is None:
            netlist.pop(key, None)
        else:
            netlist[key] = value
    return netlist


@pytest.fixture
def library():
    # A private MonkeyPatch, undone when this fixture ends: before the shared sandbox tears down,
    # which imports the real brenvik again.
    with pytest.MonkeyPatch.context() as patch:
        yield Library(patch)
