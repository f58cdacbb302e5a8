"""Outcome handling: the success step, the error step with its error log file, the located error
text and the error record."""

from __future__ import annotations

import sys
import traceback

import build_cells
import pytest
from build_cells import line_of
from tarnwick.models import FactoryRecord, ReloadLayoutMessage

from tarnwick import settings
from tarnwick.core import build, callgraph, communication, database

RULE = "=" * 50


def raise_and_catch(function, *args):
    try:
        function(*args)
    except Exception as error:  # noqa: BLE001
        return error
    raise AssertionError("did not raise")


def log_file(name: str):
    return settings.get_log_dir() / f"{name}.log"


# --- the located error text ------------------------------------------------------------------


def test_location_is_the_innermost_frame_where_the_error_was_raised():
    error = raise_and_catch(build_cells._level_one, 1)
    assert build._format_error_with_location(error) == (
        f"deep failure 2 (build_cells.py:{line_of('innermost-deep')})"
    )


def test_location_follows_the_trace_through_native_code():
    # Through the runtime's C code (sorted) and through the build module's own C++.
    error = raise_and_catch(build_cells.failure_through_builtin)
    assert build._format_error_with_location(error) == (
        f"exploded in a sort key (build_cells.py:{line_of('innermost-builtin')})"
    )
    error = raise_and_catch(build_cells.failure_through_native)
    assert build._format_error_with_location(error) == (
        f"base cannot be read (build_cells.py:{line_of('innermost-unreadable-base')})"
    )


def test_an_error_never_raised_has_no_location():
    assert build._format_error_with_location(KeyError("k")) == "'k'"
    assert build._format_error_with_location(build.SelfReferenceError("loop")) == "loop"


class Unprintable(Exception):
    def __str__(self):
        return str(1 / 0)


def unprintable_cell():
    raise Unprintable()


def test_an_error_whose_text_fails_is_still_reported(use_cells):
    assert build._format_error_with_location(Unprintable()) == "<exception str() failed>"
    use_cells({"u": unprintable_cell})
    database.sync_from_kcl()
    build.build_by_names("u")
    message = database.get_factories_by_name("u")["u"].message
    assert message.startswith("<exception str() failed> (test_build_outcome.py:"), message
    assert "Unprintable: <exception str() failed>" in log_file("u").read_text()


# --- the error record ------------------------------------------------------------------------


def test_error_record_copies_the_database_record_which_wins_over_the_static_one():
    stored = FactoryRecord(name="f", status="SUCCESS", message="", source="/src/db.py")
    database.add_factories(stored)
    callgraph.register_static_record(FactoryRecord(name="f", source="/src/static.py"))
    record = build._update_factory_error_status("f", "broken (x.py:3)")
    assert record == FactoryRecord(
        name="f", status="ERROR", message="broken (x.py:3)", source="/src/db.py"
    )
    assert database.get_factories_by_name("f")["f"] == stored  # nothing written
    assert communication.messages() == [ReloadLayoutMessage(cell="f")]


def test_error_record_of_a_factory_known_only_to_the_call_graph():
    callgraph.register_static_record(
        FactoryRecord(name="g", status="UNKNOWN", message="old", source="/src/static.py")
    )
    record = build._update_factory_error_status("g", "broken")
    assert record == FactoryRecord(
        name="g", status="ERROR", message="broken", source="/src/static.py"
    )
    assert communication.messages() == [ReloadLayoutMessage(cell="g")]
    # The call graph's own record is not changed by the copy.
    assert callgraph.get_static_records()["g"].status == "UNKNOWN"


def test_no_record_and_no_message_for_an_unknown_factory():
    assert build._update_factory_error_status("nowhere", "broken") is None
    assert communication.messages() == []


# --- the error step ------------------------------------------------------------------------


def test_error_log_file_line_by_line_for_a_raised_error(host_log):
    database.add_factories(FactoryRecord(name="f", source="/src/f.py"))
    settings.get_log_dir().mkdir(parents=True)
    try:
        build_cells._level_one(1)
    except ValueError as error:
        expected_trace = traceback.format_exc()
        record = build._handle_build_error("f", "Failed to build component f: because", error)

    lines = log_file("f").read_text().split("\n")
    assert lines[:6] == [
        "Build Error for f",
        RULE,
        "Error Message: Failed to build component f: because",
        "ValueError: deep failure 2",
        RULE,
        "Full Stack Trace:",
    ]
    assert "\n".join(lines[6:]) == expected_trace
    assert expected_trace.startswith("Traceback (most recent call last):\n")
    assert expected_trace.endswith("ValueError: deep failure 2\n")

    location = f"(build_cells.py:{line_of('innermost-deep')})"
    assert record.message == f"deep failure 2 {location}" and record.status == "ERROR"
    assert host_log.entries == [
        ("error", "Failed to build component f: because"),
        ("debug", f"Stack trace written to {log_file('f')}"),
    ]


def test_error_log_of_an_error_that_is_not_being_handled(host_log):
    settings.get_log_dir().mkdir(parents=True)
    error = build.ComponentAsDefaultArgError("bad defaults")
    assert build._handle_build_error("f", "bad defaults", error) is None
    assert log_file("f").read_text() == (
        f"Build Error for f\n{RULE}\nError Message: bad defaults\n"
        f"ComponentAsDefaultArgError: bad defaults\n{RULE}\nFull Stack Trace:\nNoneType: None\n"
    )
    assert communication.messages() == []


def test_a_second_failure_replaces_the_log_file():
    settings.get_log_dir().mkdir(parents=True)
    build._handle_build_error("f", "first message", ValueError("first"))
    # Replaced through the host's one writer of whole files: a link and the file's mode stay.
    kept = settings.get_log_dir() / "kept.log"
    log_file("f").rename(kept)
    kept.chmod(0o640)
    log_file("f").symlink_to(kept)
    build._handle_build_error("f", "second message", KeyError("second"))
    text = log_file("f").read_text()
    assert log_file("f").is_symlink() and kept.stat().st_mode & 0o777 == 0o640
    assert "first" not in text
    assert text.splitlines()[2:4] == ["Error Message: second message", "KeyError: 'second'"]


def test_a_missing_log_directory_is_made_and_one_in_the_way_gives_a_warning(host_log):
    database.add_factories(FactoryRecord(name="f"))
    build._handle_build_error("f", "it failed", ValueError("bad value"))
    assert log_file("f").read_text().startswith("Build Error for f\n")

    log_file("f").unlink()
    settings.get_log_dir().rmdir()
    settings.get_log_dir().write_text("")  # a file where the directory belongs
    record = build._handle_build_error("f", "it failed", ValueError("bad value"))
    assert record.message == "bad value" and record.status == "ERROR"
    [warning] = host_log.texts("warning")
    assert warning.startswith(f"Failed to write stack trace to {log_file('f')}: [Errno 17] ")


def test_errors_outside_the_log_file_block_propagate(monkeypatch):
    def no_log_dir():
        raise RuntimeError("settings unavailable")

    monkeypatch.setattr(settings, "get_log_dir", no_log_dir)
    with pytest.raises(RuntimeError, match="settings unavailable"):
        build._handle_build_error("f", "message", ValueError("v"))

    monkeypatch.undo()
    monkeypatch.setattr(database, "get_factories_by_name", lambda name: 1 / 0)
    with pytest.raises(ZeroDivisionError):
        build._handle_build_error("f", "message", ValueError("v"))


@pytest.mark.parametrize("name", ["../escape", "sub/f", "", ".", ".."])
def test_unsafe_factory_names_write_no_error_log(tmp_path, host_log, name):
    log_dir = settings.get_log_dir()
    (log_dir / "sub").mkdir(parents=True)
    database.get_factories_by_name(name)  # the database file exists before, too
    before = sorted(tmp_path.rglob("*"))
    callgraph.register_static_record(FactoryRecord(name=name))
    record = build._handle_build_error(name, "it failed", ValueError("bad"))
    assert record.name == name and record.message == "bad"
    assert sorted(tmp_path.rglob("*")) == before
    [warning] = host_log.texts("warning")
    assert warning.startswith(f"Failed to write stack trace to {log_dir / (name + '.log')}: ")
    assert f"factory name '{name}' cannot be a file name" in warning


def test_success_step_logs_and_reloads_the_layout(host_log):
    build._handle_build_success("f")
    assert host_log.entries == [("info", "Successfully built factory f")]
    assert communication.messages() == [ReloadLayoutMessage(cell="f")]


def test_the_handled_error_is_restored_after_a_build():
    """A build run inside an `except` block leaves the caller's handled error in place."""
    try:
        raise LookupError("outer")
    except LookupError as outer:
        build._build_by_name("not_a_cell")
        assert sys.exc_info()[1] is outer
    assert sys.exc_info() == (None, None, None)


def test_a_build_inside_a_generator_leaves_the_generator_handling_nothing():
    """The caller's handled error shows through while the generator runs, but is not left in the
    generator's own exception state."""

    def steps():
        build._build_by_name("not_a_cell")
        yield sys.exc_info()[1]
        yield sys.exc_info()[1]

    generator = steps()
    try:
        raise LookupError("outer")
    except LookupError as outer:
        assert next(generator) is outer
    assert next(generator) is None
