"""Pre-build checks: components as parameter defaults, self-referencing schematics, and the
netlist reader of the self-reference check."""

from __future__ import annotations

from pathlib import Path

import build_cells
import pytest
from build_cells import line_of, schematic_like, square_cell
from tarnwick.models import FactoryRecord

from tarnwick.core import build, database

ADVICE = (
    ". This causes caching issues. Consider passing the cell name as string and calling "
    "bk.get_component(name) inside the function instead."
)


def default_args_message(name: str, params: str, location: str = "") -> str:
    return (
        f"Cell '{name}' has Component instance(s) as default argument(s): {params}"
        + ADVICE
        + location
    )


# --- the error types ---------------------------------------------------------------------------


@pytest.mark.parametrize(
    ("error_type", "doc"),
    [
        (
            build.ComponentAsDefaultArgError,
            "Raised when a cell function has a Component instance as a default argument.",
        ),
        (build.SelfReferenceError, "Raised when a schematic references itself as an instance."),
    ],
)
def test_error_types_are_plain_exceptions_with_their_description(error_type, doc):
    assert error_type.__doc__ == doc
    assert error_type.__bases__ == (Exception,)
    assert error_type.__module__ == "tarnwick.core.build"
    error = error_type("the message")
    assert str(error) == "the message" and error.args == ("the message",)
    with pytest.raises(error_type):
        raise error


# --- components as defaults -------------------------------------------------------------------


@pytest.mark.parametrize(
    "cell_func",
    [build_cells.no_parameters, build_cells.harmless_defaults, square_cell("x"), len, 42],
    ids=[
        "no-parameters",
        "harmless-defaults",
        "no-defaults",
        "builtin-no-signature",
        "not-callable",
    ],
)
def test_default_args_check_passes(cell_func):
    assert build._check_component_default_args("c", cell_func) is None


def test_default_args_check_lists_problematic_parameters_in_order_with_location():
    # a (a Component), b (keyword-only, base of a derived cell type) are problematic; a plain
    # value, a base that is no cell and a missing base are not.
    message = build._check_component_default_args("multi", build_cells.component_defaults)
    location = f" (build_cells.py:{line_of('component-defaults')})"
    assert message == default_args_message("multi", "'a', 'b'", location)


def test_default_args_location_names_the_wrapped_function_one_level_deep():
    message = build._check_component_default_args("w", build_cells.wrapped_component_default)
    assert message == default_args_message(
        "w", "'c'", f" (build_cells.py:{line_of('wrapped-by-cell')})"
    )
    # Two wrappers: only one level is unwrapped, so the location is the inner wrapper's.
    message = build._check_component_default_args("t", build_cells.twice_wrapped_component_default)
    assert message == default_args_message(
        "t", "'c'", f" (build_cells.py:{line_of('local-wrapper')})"
    )


def test_default_args_message_without_location_when_source_cannot_be_found():
    namespace = {"Component": build_cells.Component}
    exec(  # noqa: S102 - a function defined at run time has no source file
        "def runtime_cell(c=Component('prebuilt_runtime')):\n    return c\n", namespace
    )
    message = build._check_component_default_args("rt", namespace["runtime_cell"])
    assert message == default_args_message("rt", "'c'")
    assert message.endswith("inside the function instead.")


def test_default_args_check_lets_an_unreadable_base_propagate():
    def cell_func(x=build_cells.UnreadableBase()):  # noqa: B008
        pass

    with pytest.raises(RuntimeError, match="base cannot be read") as caught:
        build._check_component_default_args("u", cell_func)
    assert caught.value is build_cells.RAISED[-1]


def test_default_args_check_fails_when_the_cell_type_cannot_be_bound(monkeypatch):
    import tesselink.kcell

    monkeypatch.delattr(tesselink.kcell, "TKCell")
    with pytest.raises(AttributeError):
        build._check_component_default_args("c", build_cells.no_parameters)


# --- the schematic netlist reader and the self-reference check ---------------------------------


@pytest.fixture
def schematic(use_cells, write_schematic):
    """Register a schematic-like cell `name` whose record's source is a file with `text`."""

    def make(name: str, text: str | None, file_name: str | None = None) -> Path:
        file_name = file_name or f"{name}.pic.yml"
        path = write_schematic(file_name, text) if text is not None else None
        source = path if path is not None else Path("/nonexistent") / file_name
        use_cells({name: schematic_like(square_cell(name)), "plain": square_cell("plain")})
        database.add_factories(FactoryRecord(name=name, status="UNKNOWN", source=str(source)))
        return source

    return make


def test_netlist_reader_returns_the_mapping_and_its_path(schematic):
    path = schematic("sch", "instances:\n  a: plain\nname: sch\n")
    netlist, found = build._get_schematic_netlist("sch")
    assert netlist == {"instances": {"a": "plain"}, "name": "sch"}
    assert found == path.resolve()


@pytest.mark.parametrize(
    "text",
    [
        None,
        "- a\n- b\n",
        "just text\n",
        "",
        "instances: [unclosed\n",
        "a: !!python/name:os.system\n",
    ],
    ids=["missing-file", "list", "scalar", "empty", "syntax-error", "application-object"],
)
def test_netlist_reader_gives_nothing_for_unreadable_schematics(schematic, text, host_log):
    schematic("sch", text)
    assert build._get_schematic_netlist("sch") is None
    assert build._check_self_referencing_schematic("sch") is None
    assert host_log.entries == []


def test_netlist_reader_needs_a_schematic_cell_a_record_and_a_source(use_cells, write_schematic):
    path = write_schematic("s.pic.yml", "instances:\n  me: s\n")
    use_cells({"s": schematic_like(square_cell("s")), "plain": square_cell("plain")})
    assert build._get_schematic_netlist("s") is None  # no record
    database.add_factories(FactoryRecord(name="s", source=None))
    assert build._get_schematic_netlist("s") is None  # record without source
    database.add_factories(FactoryRecord(name="s", source=str(path.parent)))
    assert build._get_schematic_netlist("s") is None  # a directory, not a regular file
    database.add_factories(FactoryRecord(name="plain", source=str(path)))
    assert build._get_schematic_netlist("plain") is None  # not a schematic cell
    assert build._get_schematic_netlist("unknown") is None  # not a cell of the PDK
    database.add_factories(FactoryRecord(name="s", source=str(path)))
    assert build._get_schematic_netlist("s") == ({"instances": {"me": "s"}}, path.resolve())


@pytest.mark.parametrize(
    ("text", "instance"),
    [
        ("instances:\n  a: plain\n  me: sch\n  b: sch\n", "me"),
        ("instances:\n  a: {component: plain}\n  inner: {component: sch, settings: {}}\n", "inner"),
        ("instances:\n  7: sch\n", "7"),
    ],
    ids=["text-entry-first-match", "mapping-entry", "numeric-instance-name"],
)
def test_self_reference_is_found_and_named(schematic, text, instance):
    schematic("sch", text, file_name="my_circuit.pic.yml")
    assert build._check_self_referencing_schematic("sch") == (
        f"Schematic 'sch' references itself as instance '{instance}'. This would cause infinite "
        "recursion. Remove the self-referencing instance from my_circuit.pic.yml."
    )


@pytest.mark.parametrize(
    "text",
    [
        "name: sch\n",
        "instances: [sch, sch]\n",
        "instances: sch\n",
        "instances:\n  a: {settings: {component: sch}}\n  b: {component: SCH}\n  c: Sch\n",
        "instances:\n  a: {component: [sch]}\n",
    ],
    ids=["no-instances", "instances-list", "instances-text", "no-match", "component-not-text"],
)
def test_self_reference_check_passes(schematic, text):
    schematic("sch", text)
    assert build._check_self_referencing_schematic("sch") is None


def test_entries_that_are_neither_text_nor_mapping_never_match(schematic):
    schematic("sch", "instances:\n  n: 5\n  l: [sch]\n  z: null\n")
    assert build._check_self_referencing_schematic("sch") is None
    schematic("sch", "instances:\n  n: 5\n  l: [sch]\n  z: null\n  me: sch\n")
    assert "as instance 'me'" in build._check_self_referencing_schematic("sch")


def test_self_reference_check_of_the_demo_schematic():
    assert build._check_self_referencing_schematic("self_ref") is None  # no record yet
    database.sync_from_kcl()
    assert build._check_self_referencing_schematic("self_ref") == (
        "Schematic 'self_ref' references itself as instance 'inner'. This would cause infinite "
        "recursion. Remove the self-referencing instance from self_ref.pic.yml."
    )
    assert build._check_self_referencing_schematic("mzi") is None
