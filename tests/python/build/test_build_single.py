"""The single build: stages, files, statuses, messages and the error records of each stage."""

from __future__ import annotations

import traceback
from pathlib import Path
from typing import ClassVar

import brenvik
import build_cells
import orjson
import pytest
import yaml
from brenvik import Component
from brenvik.schematic import cell_from_yaml
from build_cells import line_of, schematic_like, square_cell
from tarnwick.models import FactoryRecord, ReloadLayoutMessage

from tarnwick import settings
from tarnwick.core import build, communication, database, schema

RULE = "=" * 50


def gds_file(name: str, with_metadata: bool = True):
    directory = settings.get_gds_dir() if with_metadata else settings.get_gds_dir() / "no-meta"
    return directory / f"{name}.gds"


def schema_file(name: str):
    return settings.get_build_dir() / "schemas" / f"{name}.json"


def log_lines(name: str) -> list[str]:
    return (settings.get_log_dir() / f"{name}.log").read_text().split("\n")


@pytest.fixture(autouse=True)
def _log_dir():
    settings.get_log_dir().mkdir(parents=True)


def record(name: str, source=None) -> None:
    database.add_factories(FactoryRecord(name=name, status="BUSY", source=source))


class RecordingComponent(Component):
    writes: ClassVar[list[tuple]] = []

    def write_gds(self, path, with_metadata=True):
        RecordingComponent.writes.append((path, with_metadata))
        return super().write_gds(path, with_metadata=with_metadata)


def recording_cell() -> Component:
    c = RecordingComponent()
    c.add_polygon([(0, 0), (1, 0), (1, 1)], (1, 0))
    return c


# --- a plain cell ------------------------------------------------------------------------------


def test_plain_cell_is_built_saved_and_marked_successful(use_cells, host_log, calls):
    use_cells({"sq": square_cell("sq")})
    record("sq")
    assert build._build_by_name("sq") is None
    assert build_cells.BUILT == ["sq"]
    assert database.get_factories_by_name("sq")["sq"].status == "SUCCESS"
    assert gds_file("sq").is_file() and gds_file("sq").read_bytes()[:2] == b"\x00\x06"
    assert not schema_file("sq").parent.exists()
    assert not settings.get_log_dir().joinpath("sq.log").exists()
    # Neither the success step's line nor a layout reload: only the save stage's line.
    assert host_log.entries == [("info", f"Successfully built component sq to {gds_file('sq')}")]
    assert communication.messages() == []
    assert [c for c in calls if c[0] == "set_factories_status_by_names"] == [
        ("set_factories_status_by_names", ("sq",), {"status": "SUCCESS"})
    ]


@pytest.mark.parametrize("with_metadata", [True, False])
def test_metadata_flag_selects_the_gds_variant(use_cells, host_log, with_metadata):
    RecordingComponent.writes.clear()
    use_cells({"r": recording_cell})
    assert build._build_by_name("r", with_metadata=with_metadata) is None
    target = gds_file("r", with_metadata)
    assert target.is_file() and not gds_file("r", not with_metadata).exists()
    # Written under a temporary name beside the target, which then took the target's name.
    [(written, flag)] = RecordingComponent.writes
    assert flag is with_metadata and Path(written).parent == target.parent
    assert Path(written).name.startswith(".r.") and Path(written).suffix == ".gds"
    assert [p.name for p in target.parent.iterdir() if p.is_file()] == ["r.gds"]
    assert host_log.texts("info") == [f"Successfully built component r to {target}"]


def test_metadata_flag_is_keyword_only_and_a_flag():
    with pytest.raises(TypeError):
        build._build_by_name("r", False)
    with pytest.raises(TypeError):
        build._build_by_name("r", with_metadata="no")


# --- the construct stage ---------------------------------------------------------------------


def test_construct_failure_becomes_an_error_record_with_the_innermost_location(use_cells, host_log):
    use_cells({"deep": build_cells.deep_failure})
    record("deep", source="/src/deep.py")
    result = build._build_by_name("deep")
    location = f"(build_cells.py:{line_of('innermost-deep')})"
    assert result == FactoryRecord(
        name="deep", status="ERROR", message=f"deep failure 2 {location}", source="/src/deep.py"
    )
    assert host_log.texts("error") == ["Failed to build component deep: ValueError: deep failure 2"]
    lines = log_lines("deep")
    assert lines[2:4] == [
        "Error Message: Failed to build component deep: ValueError: deep failure 2",
        "ValueError: deep failure 2",
    ]
    # The trace being handled is the construct error's own, down to its innermost frame.
    [error] = build_cells.RAISED
    assert "\n".join(lines[6:]) == "".join(traceback.format_exception(error))
    assert lines[6] == "Traceback (most recent call last):"
    assert database.get_factories_by_name("deep")["deep"].status == "BUSY"  # nothing written
    assert not settings.get_gds_dir().exists()
    assert communication.messages() == [ReloadLayoutMessage(cell="deep")]


def test_construct_failure_through_native_code_is_located_where_it_was_raised(use_cells):
    use_cells({"n": build_cells.failure_through_native, "b": build_cells.failure_through_builtin})
    record("n")
    record("b")
    assert build._build_by_name("n").message == (
        f"base cannot be read (build_cells.py:{line_of('innermost-unreadable-base')})"
    )
    assert build._build_by_name("b").message == (
        f"exploded in a sort key (build_cells.py:{line_of('innermost-builtin')})"
    )


def test_unknown_name_fails_in_the_construct_stage(use_cells, host_log):
    use_cells({"sq": square_cell("sq")})
    assert build._build_by_name("nosuch") is None  # no record anywhere
    assert communication.messages() == []
    [line] = host_log.texts("error")
    assert line.startswith("Failed to build component nosuch: UnknownCellError: ")

    record("nosuch")
    result = build._build_by_name("nosuch")
    assert result.status == "ERROR" and "has no cell 'nosuch'" in result.message
    assert result.message.endswith(")") and " (pdk.py:" in result.message


def test_a_failure_while_marking_success_belongs_to_the_construct_stage(use_cells, monkeypatch):
    use_cells({"sq": square_cell("sq")})
    record("sq")

    def refuse(*names, status):
        raise PermissionError("database is read-only")

    monkeypatch.setattr(database, "set_factories_status_by_names", refuse)
    result = build._build_by_name("sq")
    assert result.message.startswith("database is read-only (test_build_single.py:")
    assert log_lines("sq")[2] == (
        "Error Message: Failed to build component sq: PermissionError: database is read-only"
    )
    assert not gds_file("sq").exists()


# --- the save stage ----------------------------------------------------------------------------


@pytest.mark.parametrize("with_metadata", [True, False])
def test_save_failure_message_ends_with_the_flag(use_cells, host_log, with_metadata):
    use_cells({"u": build_cells.unsaveable})
    record("u")
    result = build._build_by_name("u", with_metadata=with_metadata)
    assert result.message == f"cannot write GDS (build_cells.py:{line_of('innermost-save')})"
    assert host_log.texts("error") == [
        f"Failed to save component u: cannot write GDS [with_metadata={with_metadata}]"
    ]
    # Marked successful after construction; the batch's error record replaces it later.
    assert database.get_factories_by_name("u")["u"].status == "SUCCESS"
    assert log_lines("u")[3] == "OSError: cannot write GDS"


@pytest.mark.parametrize("name", ["../escape", "sub/x", "", ".", ".."])
def test_unsafe_factory_names_write_no_file(use_cells, host_log, tmp_path, name):
    use_cells({name: square_cell("unsafe")})
    (settings.get_gds_dir() / "sub").mkdir(parents=True)
    (settings.get_log_dir() / "sub").mkdir(parents=True)
    record(name)
    result = build._build_by_name(name)
    reason = f"factory name '{name}' cannot be a file name"
    assert result.message.startswith(reason) and result.status == "ERROR"
    [error_line] = host_log.texts("error")
    assert error_line.startswith(f"Failed to save component {name}: {reason}")
    assert error_line.endswith(" [with_metadata=True]")
    [warning] = host_log.texts("warning")
    assert warning.startswith("Failed to write stack trace to ")
    files = [p for p in tmp_path.rglob("*") if p.is_file() and p.name != "factories.db"]
    assert files == []


# --- the schema stage --------------------------------------------------------------------------


@pytest.fixture
def schematic_pdk(use_cells, write_schematic):
    """A PDK with a plain cell and the real schematic cell "circuit" that instantiates it."""
    path = write_schematic(
        "circuit.pic.yml",
        "name: circuit\ninstances:\n  a: sq\n  b: {component: sq}\n"
        "placements:\n  b: {x: 5, y: 0}\ninfo: {gain: 2}\n",
    )
    circuit = cell_from_yaml(path)
    use_cells({"sq": square_cell("sq"), "circuit": circuit})
    return path


def test_schematic_cell_gets_its_schema_file_and_a_layout_reload(schematic_pdk, host_log):
    database.sync_from_kcl()
    assert build._build_by_name("circuit") is None
    netlist = yaml.safe_load(schematic_pdk.read_text())
    expected = orjson.dumps(schema.get_netlist_schema(netlist), option=orjson.OPT_INDENT_2)
    assert schema_file("circuit").read_bytes() == expected
    assert gds_file("circuit").is_file()
    assert host_log.entries == [
        ("info", f"Successfully built component circuit to {gds_file('circuit')}"),
        ("info", "Successfully built factory circuit"),
    ]
    assert communication.messages() == [ReloadLayoutMessage(cell="circuit")]

    schema_file("circuit").write_text("stale")  # an existing schema file is replaced
    assert build._build_by_name("circuit") is None
    assert schema_file("circuit").read_bytes() == expected


@pytest.mark.parametrize("source", [None, "no record"])
def test_schematic_without_record_or_source_ends_after_the_gds_file(
    schematic_pdk, host_log, source, monkeypatch
):
    # The factory database fills in a missing source path from the PDK: here it cannot tell.
    monkeypatch.setattr(brenvik, "cell_source_path", lambda cell_function: None)
    if source is None:
        database.add_factories(FactoryRecord(name="circuit", source=None))
    assert build._build_by_name("circuit") is None
    assert gds_file("circuit").is_file()
    assert not schema_file("circuit").parent.exists()
    assert "Successfully built factory circuit" not in host_log.texts("info")
    assert communication.messages() == []


def test_schema_stage_reads_the_record_source_without_swallowing_errors(
    use_cells, tmp_path, host_log
):
    use_cells({"s": schematic_like(square_cell("s"))})
    missing = tmp_path / "gone.pic.yml"
    record("s", source=str(missing))
    result = build._build_by_name("s")
    reason = f"[Errno 2] No such file or directory: '{missing}'"
    assert host_log.texts("error") == [f"Failed to write schema for component s: {reason}"]
    assert result.message.startswith(reason + " (")
    assert gds_file("s").is_file() and not schema_file("s").exists()
    assert database.get_factories_by_name("s")["s"].status == "SUCCESS"

    missing.write_text("instances: [unclosed\n")
    result = build._build_by_name("s")
    assert host_log.texts("error")[-1].startswith("Failed to write schema for component s: ")
    assert "flow sequence" in result.message


def test_schema_stage_takes_any_yaml_document(use_cells, write_schematic):
    use_cells({"s": schematic_like(square_cell("s"))})
    path = write_schematic("s.pic.yml", "- one\n- two\n")
    record("s", source=str(path))
    assert build._build_by_name("s") is None
    assert orjson.loads(schema_file("s").read_bytes()) == orjson.loads(
        orjson.dumps(schema.get_netlist_schema(["one", "two"]))
    )


def test_schema_values_without_json_form_go_through_the_fallback(
    use_cells, write_schematic, monkeypatch
):
    use_cells({"s": schematic_like(square_cell("s"))})
    record("s", source=str(write_schematic("s.pic.yml", "instances: {}\n")))
    monkeypatch.setattr(schema, "get_netlist_schema", lambda netlist: {"odd": {1, 2}, "n": 1.5})
    assert build._build_by_name("s") is None
    assert schema_file("s").read_bytes() == b'{\n  "odd": null,\n  "n": 1.5\n}'


# --- the checks ----------------------------------------------------------------------------


def test_default_argument_failure_builds_nothing(use_cells, host_log, calls, tmp_path):
    use_cells({"cd": build_cells.component_defaults})
    record("cd")
    calls.clear()
    result = build._build_by_name("cd")
    message = build._check_component_default_args("cd", build_cells.component_defaults)
    assert message.startswith("Cell 'cd' has Component instance(s) as default argument(s): ")
    assert result.message == message  # exactly the check's message: no location added
    assert build_cells.BUILT == []
    assert not any(c[0] == "set_factories_status_by_names" for c in calls)
    lines = log_lines("cd")
    assert lines[3] == f"ComponentAsDefaultArgError: {message}"
    assert lines[6:] == ["NoneType: None", ""]
    files = [p for p in tmp_path.rglob("*") if p.is_file() and p.name != "factories.db"]
    assert files == [settings.get_log_dir() / "cd.log"]
    assert host_log.texts("error") == [message]


def test_self_reference_failure_builds_nothing(use_cells, write_schematic, host_log, calls):
    use_cells({"loop": schematic_like(square_cell("loop"))})
    path = write_schematic("loop.pic.yml", "instances:\n  again: loop\n")
    record("loop", source=str(path))
    calls.clear()
    result = build._build_by_name("loop")
    message = (
        "Schematic 'loop' references itself as instance 'again'. This would cause infinite "
        "recursion. Remove the self-referencing instance from loop.pic.yml."
    )
    assert result.message == message and result.status == "ERROR"
    assert build_cells.BUILT == []
    assert not any(c[0] == "set_factories_status_by_names" for c in calls)
    assert log_lines("loop")[3] == f"SelfReferenceError: {message}"
    assert log_lines("loop")[6] == "NoneType: None"
    assert not settings.get_gds_dir().exists()


def test_check_failure_inside_an_except_block_still_has_no_trace(use_cells):
    use_cells({"cd": build_cells.component_defaults})
    try:
        raise LookupError("unrelated")
    except LookupError:
        build._build_by_name("cd")
    assert log_lines("cd")[6:] == ["NoneType: None", ""]


# --- errors that escape ----------------------------------------------------------------------


def test_an_error_inside_a_check_escapes(use_cells):
    use_cells({"ud": build_cells.unreadable_default})
    with pytest.raises(RuntimeError, match="base cannot be read") as caught:
        build._build_by_name("ud")
    assert caught.value is build_cells.RAISED[-1]
    assert build_cells.BUILT == []


def test_an_error_of_the_error_step_escapes_with_the_stage_error_as_context(use_cells, monkeypatch):
    use_cells({"deep": build_cells.deep_failure})

    def no_log_dir():
        raise RuntimeError("no log directory setting")

    monkeypatch.setattr(settings, "get_log_dir", no_log_dir)
    with pytest.raises(RuntimeError, match="no log directory setting") as caught:
        build._build_by_name("deep")
    assert caught.value.__context__ is build_cells.RAISED[-1]


def test_requests_to_stop_are_not_absorbed_by_a_stage(use_cells):
    class Stop(BaseException):
        pass

    def stopping():
        raise Stop()

    use_cells({"stop": stopping})
    record("stop")
    with pytest.raises(Stop):
        build._build_by_name("stop")
    assert not settings.get_log_dir().joinpath("stop.log").exists()
