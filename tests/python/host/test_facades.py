"""The compiled modules reach the host services through one layer of facades: a service replaced
on its Python module is seen by every module at once, and a service that answers with the wrong
kind of value gives an error that names it."""

from __future__ import annotations

import brenvik
import pytest
import tarnwick.core.pdk
from tarnwick.models import FactoryRecord

from tarnwick import settings
from tarnwick.core import build, database, freeze


class _Pdk:
    name = "replaced"
    cells: tuple = ()


def test_a_service_replaced_on_its_module_is_seen_after_first_use(monkeypatch):
    # First use resolves every binding; a replacement made afterwards must still take effect.
    with pytest.raises(FileNotFoundError, match="not found in PDK demo"):
        freeze.freeze("no_such_cell")
    assert build._check_self_referencing_schematic("no_such_cell") is None

    monkeypatch.setattr(tarnwick.core.pdk, "get_pdk", lambda: _Pdk())
    with pytest.raises(FileNotFoundError, match="^Cell ring not found in PDK replaced$"):
        freeze.freeze("ring")
    seen = []
    monkeypatch.setattr(database, "get_factories_by_name", lambda name: seen.append(name) or {})
    build._update_factory_error_status("ring", "boom")
    assert seen == ["ring"]


def test_a_rebound_module_name_of_freeze_wins_over_the_service(monkeypatch):
    monkeypatch.setattr(freeze, "get_pdk", lambda: _Pdk())
    with pytest.raises(FileNotFoundError, match="in PDK replaced$"):
        freeze.freeze("ring")


def test_a_setting_that_gives_no_path_is_named_in_the_error(monkeypatch, use_demo_cell):
    monkeypatch.setattr(settings, "get_gds_dir", lambda: None)
    record = build._build_by_name(use_demo_cell)
    assert record.status == "ERROR"
    assert record.message == "tarnwick.settings.get_gds_dir() gave NoneType, not a path"

    monkeypatch.setattr(settings, "get_log_dir", lambda: 5)
    with pytest.raises(
        TypeError, match=r"^tarnwick\.settings\.get_log_dir\(\) gave int, not a path$"
    ):
        build._handle_build_error(use_demo_cell, "message", ValueError("x"))


def test_a_record_source_that_is_no_path_is_named_in_the_error(monkeypatch, use_demo_cell):
    class OddRecord(FactoryRecord):
        def absolute_source(self):
            return 3.5

    monkeypatch.setattr(
        database, "get_factories_by_name", lambda name: {name: OddRecord(name=name)}
    )
    monkeypatch.setattr(brenvik.get_active_pdk().cells[use_demo_cell], "__module__", "x_picyml")
    with pytest.raises(
        TypeError, match=r"^FactoryRecord\.absolute_source\(\) gave float, not a path$"
    ):
        build._get_schematic_netlist(use_demo_cell)


@pytest.fixture
def use_demo_cell():
    return "straight"
