"""The batch driver: busy marks, natural order, the database bookends, the stored error records
and the closing reload message."""

from __future__ import annotations

import build_cells
import pytest
from build_cells import square_cell
from tarnwick.models import FactoryRecord, ReloadFactoriesMessage, ReloadLayoutMessage

from tarnwick import settings
from tarnwick.core import build, communication, database


@pytest.fixture(autouse=True)
def _log_dir():
    settings.get_log_dir().mkdir(parents=True)


def statuses(*names: str) -> dict[str, str]:
    """The database status of each name that has a row."""
    found = database.get_factories_by_name(*names)
    return {name: found[name].status for name in names if name in found}


def database_calls(calls, *operations):
    return [c for c in calls if c[0] in operations]


def debug_line(records) -> str:
    return f"Updated factories {records!r} status to ERROR in database"


def test_no_names(use_cells, calls, host_log):
    use_cells({"sq": square_cell("sq")})
    assert build.build_by_names() is None
    assert calls == [
        ("set_factories_status_by_names", (), {"status": "BUSY"}),
        ("sync_from_kcl", (), {}),
        ("add_factories", (), {}),
    ]
    assert host_log.entries == [("debug", "Updated factories [] status to ERROR in database")]
    assert communication.messages() == [ReloadFactoriesMessage()]
    assert build_cells.BUILT == []


def test_names_are_marked_busy_as_given_and_built_in_natural_order(use_cells, calls):
    names = ["c10", "c2", "C1", "c1b", "c01"]
    use_cells({name: square_cell(name) for name in names})
    events: list[str] = []

    def collect(message):
        events.append(type(message).__name__)

    communication.subscribe(collect)
    try:
        build.build_by_names(*names)
    finally:
        communication.unsubscribe(collect)
    assert database_calls(calls, "set_factories_status_by_names")[0] == (
        "set_factories_status_by_names",
        ("c10", "c2", "C1", "c1b", "c01"),
        {"status": "BUSY"},
    )
    # Digits compare by value, everything else by character, case-sensitively; the sort is
    # stable, so "c01" (value 1) comes before "c1b" after "C1".
    assert build_cells.BUILT == ["C1", "c01", "c1b", "c2", "c10"]
    # Each build marks its success right after construction; then the two bookends follow.
    assert [c[0] for c in calls if c[0] != "get_factories_by_name"] == [
        "set_factories_status_by_names",
        *["set_factories_status_by_names"] * 5,
        "sync_from_kcl",
        "add_factories",
    ]
    assert events == ["ReloadFactoriesMessage"]
    assert statuses(*names) == dict.fromkeys(names, "SUCCESS")


def test_a_name_given_twice_is_built_twice_and_both_failures_are_stored(use_cells, calls, host_log):
    use_cells({"deep": build_cells.deep_failure, "sq": square_cell("sq")})
    build.build_by_names("deep", "sq", "deep")
    assert build_cells.BUILT == ["deep_failure", "deep_failure", "sq"]
    [(_, stored, _)] = database_calls(calls, "add_factories")
    assert [r.name for r in stored] == ["deep", "deep"]
    assert all(r.status == "ERROR" and r.message.startswith("deep failure 2 (") for r in stored)
    assert host_log.texts("debug")[-1] == debug_line(list(stored))


def test_the_metadata_flag_reaches_every_build(use_cells):
    use_cells({"a": square_cell("a"), "b": square_cell("b")})
    build.build_by_names("a", "b", with_metadata=False)
    no_meta = settings.get_gds_dir() / "no-meta"
    assert sorted(p.name for p in no_meta.iterdir()) == ["a.gds", "b.gds"]
    assert sorted(p.name for p in settings.get_gds_dir().iterdir()) == ["no-meta"]


def test_only_keyword_with_metadata_is_accepted_and_names_are_texts():
    with pytest.raises(TypeError):
        build.build_by_names("a", metadata=False)
    with pytest.raises(TypeError):
        build.build_by_names("a", with_metadata=None)
    with pytest.raises(TypeError, match="must be a str, not int"):
        build.build_by_names("a", 3)
    assert communication.messages() == []  # rejected before the batch starts


def test_only_the_failed_build_is_stored_and_statuses_move_through_the_batch(
    use_cells, calls, host_log
):
    use_cells({"a": square_cell("a"), "b": build_cells.unsaveable, "c": square_cell("c")})
    seen_at_store: dict[str, str] = {}
    original = database.add_factories

    def store(*records):
        seen_at_store.update(statuses("a", "b", "c"))
        return original(*records)

    database.add_factories = store
    try:
        build.build_by_names("c", "b", "a")
    finally:
        database.add_factories = original
    assert build_cells.BUILT == ["a", "unsaveable", "c"]
    [(_, (stored,), _)] = database_calls(calls, "add_factories")
    assert stored.name == "b" and stored.status == "ERROR"
    assert seen_at_store == {"a": "SUCCESS", "b": "SUCCESS", "c": "SUCCESS"}
    assert statuses("a", "b", "c") == {"a": "SUCCESS", "b": "ERROR", "c": "SUCCESS"}
    assert database.get_factories_by_name("b")["b"].message == stored.message
    assert host_log.texts("debug")[-1] == debug_line([stored])
    assert communication.messages() == [ReloadLayoutMessage(cell="b"), ReloadFactoriesMessage()]


def test_statuses_of_every_kind_of_outcome(use_cells, write_schematic):
    loop_file = write_schematic("loop.pic.yml", "instances:\n  me: loop\n")
    use_cells(
        {
            "ok": square_cell("ok"),
            "construct": build_cells.deep_failure,
            "save": build_cells.unsaveable,
            "defaults": build_cells.component_defaults,
            "loop": build_cells.schematic_like(square_cell("loop")),
        }
    )
    database.add_factories(FactoryRecord(name="loop", source=str(loop_file)))
    build.build_by_names("ok", "construct", "save", "defaults", "loop")
    found = database.get_factories_by_name("ok", "construct", "save", "defaults", "loop")
    assert {name: r.status for name, r in found.items()} == {
        "ok": "SUCCESS",
        "construct": "ERROR",
        "save": "ERROR",
        "defaults": "ERROR",
        "loop": "ERROR",
    }
    assert found["defaults"].message.startswith("Cell 'defaults' has Component instance(s)")
    assert found["loop"].message.startswith("Schematic 'loop' references itself")
    assert found["ok"].message == ""
    logs = sorted(p.name for p in settings.get_log_dir().iterdir())
    assert logs == ["construct.log", "defaults.log", "loop.log", "save.log"]


def test_a_bad_instance_entry_does_not_end_the_batch(use_cells, write_schematic):
    odd = write_schematic("odd.pic.yml", "instances:\n  n: 5\n  l: [odd]\n")
    use_cells({"odd": build_cells.schematic_like(square_cell("odd")), "z": square_cell("z")})
    database.add_factories(FactoryRecord(name="odd", source=str(odd)))
    build.build_by_names("odd", "z")
    assert build_cells.BUILT == ["odd", "z"]
    assert statuses("odd", "z") == {"odd": "SUCCESS", "z": "SUCCESS"}
    assert (settings.get_build_dir() / "schemas" / "odd.json").is_file()


def test_a_name_without_utf8_form_gets_its_error_record_and_the_batch_goes_on(use_cells):
    use_cells({"z": square_cell("z")})
    build.build_by_names("x\ud800", "z")
    assert build_cells.BUILT == ["z"]
    found = database.get_factories_by_name("x\ud800", "z")
    assert found["x\ud800"].status == "ERROR" and "has no cell" in found["x\ud800"].message
    assert found["z"].status == "SUCCESS"


def test_an_escaping_error_ends_the_batch_after_the_reload_message(use_cells, calls):
    use_cells({"a": square_cell("a"), "b": build_cells.unreadable_default, "c": square_cell("c")})
    with pytest.raises(RuntimeError, match="base cannot be read") as caught:
        build.build_by_names("c", "b", "a", "deep")
    assert caught.value is build_cells.RAISED[-1]
    assert build_cells.BUILT == ["a"]
    assert statuses("a", "b", "c", "deep") == {
        "a": "SUCCESS",
        "b": "BUSY",
        "c": "BUSY",
        "deep": "BUSY",
    }
    assert database_calls(calls, "sync_from_kcl", "add_factories") == []
    assert communication.messages() == [ReloadFactoriesMessage()]


def test_collected_error_records_are_not_stored_when_the_batch_ends_early(use_cells, calls):
    use_cells({"a": build_cells.deep_failure, "b": build_cells.unreadable_default})
    with pytest.raises(RuntimeError):
        build.build_by_names("a", "b")
    assert statuses("a", "b") == {"a": "BUSY", "b": "BUSY"}
    assert database_calls(calls, "add_factories") == []
    assert communication.messages() == [ReloadLayoutMessage(cell="a"), ReloadFactoriesMessage()]


@pytest.mark.parametrize(
    "failing", ["set_factories_status_by_names", "sync_from_kcl", "add_factories"]
)
def test_a_failing_bookend_ends_the_batch_after_the_reload_message(use_cells, monkeypatch, failing):
    use_cells({"a": square_cell("a")})

    def broken(*args, **kwargs):
        raise ConnectionError(f"{failing} failed")

    monkeypatch.setattr(database, failing, broken)
    with pytest.raises(ConnectionError, match=f"{failing} failed"):
        build.build_by_names("a")
    assert communication.messages() == [ReloadFactoriesMessage()]
    assert build_cells.BUILT == ([] if failing == "set_factories_status_by_names" else ["a"])


@pytest.fixture
def unreachable_interface():
    def refuse(message):
        raise BrokenPipeError("interface gone")

    communication.subscribe(refuse)
    yield
    communication.unsubscribe(refuse)


def test_an_error_of_the_reload_message_replaces_the_batch_error(use_cells, unreachable_interface):
    use_cells({"b": build_cells.unreadable_default, "a": square_cell("a")})
    with pytest.raises(BrokenPipeError) as caught:
        build.build_by_names("b")
    assert caught.value.__context__ is build_cells.RAISED[-1]

    with pytest.raises(BrokenPipeError) as caught:
        build.build_by_names("a")
    assert caught.value.__context__ is None
    assert statuses("a") == {"a": "SUCCESS"}
