"""Fixtures of the build tests: a test PDK made active, the captured host log, spies on the
factory database, and schematic files in the test's directory."""

from __future__ import annotations

import logging
from collections.abc import Callable
from pathlib import Path
from typing import Any

import brenvik
import build_cells
import pytest
from tarnwick.core.pdk import set_pdk

from tarnwick.core import database


@pytest.fixture(autouse=True)
def _fresh_records():
    build_cells.BUILT.clear()
    build_cells.RAISED.clear()
    yield


@pytest.fixture
def use_cells() -> Callable[..., brenvik.Pdk]:
    """Make a PDK with the given cells (name -> cell function) the active one."""

    def activate(cells: dict[str, Any]) -> brenvik.Pdk:
        pdk = brenvik.Pdk(name="buildtest", cells=cells)
        set_pdk(pdk)
        return pdk

    return activate


class HostLog:
    """The host logger's entries of one test as (level, text) pairs."""

    def __init__(self, caplog: pytest.LogCaptureFixture) -> None:
        self._caplog = caplog

    @property
    def entries(self) -> list[tuple[str, str]]:
        return [
            (record.levelname.lower(), record.getMessage())
            for record in self._caplog.records
            if record.name == "tarnwick"
        ]

    def texts(self, level: str) -> list[str]:
        return [text for entry_level, text in self.entries if entry_level == level]


@pytest.fixture
def host_log(caplog) -> HostLog:
    caplog.set_level(logging.DEBUG, logger="tarnwick")
    return HostLog(caplog)


@pytest.fixture
def calls(monkeypatch) -> list[tuple]:
    """Records the factory database calls of the build, in order, as (operation, args, kwargs),
    and still carries each of them out."""
    recorded: list[tuple] = []
    for operation in (
        "set_factories_status_by_names",
        "get_factories_by_name",
        "sync_from_kcl",
        "add_factories",
    ):
        original = getattr(database, operation)

        def spy(*args, _operation=operation, _original=original, **kwargs):
            recorded.append((_operation, args, kwargs))
            return _original(*args, **kwargs)

        monkeypatch.setattr(database, operation, spy)
    return recorded


@pytest.fixture
def write_schematic(tmp_path) -> Callable[[str, str], Path]:
    """Write a `.pic.yml` file with the given text below the test's directory."""

    def write(file_name: str, text: str) -> Path:
        path = tmp_path / "schematics" / file_name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(text)
        return path

    return write
