"""The host services: lazy binding, settings, database, messages, logger, schema, fallback."""

from __future__ import annotations

import json
import logging
import sqlite3
import sys

import orjson
import pytest
from tarnwick.core.lazy import LazyObject, lazy_import, resolve
from tarnwick.logger import get_logger
from tarnwick.models import DepthviewMessage, FactoryRecord, ReloadLayoutMessage

from tarnwick import settings
from tarnwick.core import communication, database, schema, shared


def test_lazy_import_loads_on_first_use_and_then_behaves_as_the_target(tmp_path, monkeypatch):
    module_file = tmp_path / "lazy_probe_module.py"
    module_file.write_text("VALUE = 41\ndef add(a, b):\n    return a + b\nITEMS = {'a': 1}\n")
    monkeypatch.syspath_prepend(str(tmp_path))
    sys.modules.pop("lazy_probe_module", None)

    module = lazy_import("lazy_probe_module")
    add = lazy_import("lazy_probe_module", "add")
    items = lazy_import("lazy_probe_module", "ITEMS")
    assert "lazy_probe_module" not in sys.modules
    assert not add.is_loaded

    assert add(1, 2) == 3
    assert "lazy_probe_module" in sys.modules
    assert module.VALUE == 41
    assert "a" in items and items["a"] == 1 and list(items) == ["a"]
    assert resolve(items) is sys.modules["lazy_probe_module"].ITEMS
    assert resolve(5) == 5
    assert isinstance(module, LazyObject)


def test_lazy_import_of_a_missing_module_fails_only_when_used():
    missing = lazy_import("tarnwick_no_such_module")
    with pytest.raises(ModuleNotFoundError):
        missing()


def test_settings_follow_the_environment_and_reset(tmp_path, monkeypatch):
    settings.reset()
    monkeypatch.chdir(tmp_path)
    assert settings.get_build_dir() == tmp_path / "tarnwick_build"
    assert settings.get_gds_dir() == tmp_path / "tarnwick_build" / "gds"
    assert settings.get_log_dir() == tmp_path / "tarnwick_build" / "logs"

    settings.configure(build_dir=tmp_path / "b")
    assert settings.get_gds_dir() == tmp_path / "b" / "gds"
    monkeypatch.setenv("TARNWICK_LOG_DIR", str(tmp_path / "elsewhere"))
    assert settings.get_log_dir() == tmp_path / "elsewhere"
    settings.reset()
    assert settings.get_build_dir() == tmp_path / "tarnwick_build"


def test_database_statuses_records_and_replacement(tmp_path):
    database.set_factories_status_by_names("a", "b", status="BUSY")
    database.set_factories_status_by_names("a", status="SUCCESS")
    database.set_factories_status_by_names(status="ERROR")  # no names: no change
    found = database.get_factories_by_name("a")
    assert list(found) == ["a"] and found["a"].status == "SUCCESS"
    assert database.get_factories_by_name("b")["b"].status == "BUSY"
    assert database.get_factories_by_name("missing") == {}

    record = FactoryRecord(name="b", status="ERROR", message="boom (x.py:3)", source="/src/x.py")
    database.add_factories(record)
    database.add_factories()
    stored = database.get_factories_by_name("b")["b"]
    assert stored == record
    assert str(stored.absolute_source()) == "/src/x.py"

    # The table is a real SQLite file that another connection can read.
    with sqlite3.connect(tmp_path / "factories.db") as connection:
        rows = connection.execute("SELECT name, status FROM factories ORDER BY name").fetchall()
    assert rows == [("a", "SUCCESS"), ("b", "ERROR")]


def test_database_can_be_switched_and_reset(tmp_path):
    database.use_database(tmp_path / "other.db")
    database.set_factories_status_by_names("x", status="BUSY")
    assert (tmp_path / "other.db").exists()
    database.reset_database()
    assert database.get_database_path() == settings.get_build_dir() / "factories.db"
    assert database.get_factories_by_name("x") == {}


def test_factory_record_copy_is_independent():
    record = FactoryRecord(name="a", status="SUCCESS")
    copy = record.model_copy()
    copy.status = "ERROR"
    assert record.status == "SUCCESS"
    assert FactoryRecord(name="a").absolute_source() is None


def test_messages_are_delivered_in_order_and_can_be_written(tmp_path):
    received = []
    communication.subscribe(received.append)
    try:
        first = ReloadLayoutMessage(cell="c1")
        second = DepthviewMessage(content='{"type":"data"}')
        communication.send_message(first)
        communication.send_message(second)
    finally:
        communication.unsubscribe(received.append)
    assert communication.messages() == [first, second] == received
    path = second.write(tmp_path / "scene.json")
    assert json.loads(path.read_text()) == {"type": "data"}
    communication.clear_messages()
    assert communication.messages() == []


def test_logger_takes_one_text_per_level(caplog):
    caplog.set_level(logging.DEBUG, logger="tarnwick")
    log = get_logger()
    log.debug("d %s")
    log.info("i")
    log.warning("w")
    log.error("e")
    assert [(r.levelname, r.getMessage()) for r in caplog.records] == [
        ("DEBUG", "d %s"),
        ("INFO", "i"),
        ("WARNING", "w"),
        ("ERROR", "e"),
    ]


def test_none_fallback_writes_null_for_values_without_json_form():
    assert orjson.dumps({"a": object(), "b": {1, 2}}, default=shared.none) == b'{"a":null,"b":null}'


def test_netlist_schema_is_a_json_schema_for_the_netlist():
    netlist = {"name": "mzi", "instances": {"s1": "straight", "b1": {"component": "bend"}}}
    document = schema.get_netlist_schema(netlist)
    assert document["$schema"] == schema.NETLIST_SCHEMA_DIALECT
    assert document["title"] == "mzi"
    assert document["properties"]["instances"]["required"] == ["s1", "b1"]
    assert orjson.loads(orjson.dumps(document)) == document
    assert schema.get_netlist_schema([1, 2])["title"] == "netlist"
