"""freeze and freeze_recursive on stand-in PDK cells: the options the component receives, the
result map, the warnings that reach the host logger and the errors of exact kinds and texts."""

from __future__ import annotations

import logging
from typing import ClassVar

import pytest
from conftest import netlist_of

from tarnwick.core import freeze

OPERATIONS = [freeze.freeze, freeze.freeze_recursive]
SECTIONS = ["instances", "connections", "ports", "placements", "routes", "nets"]


def warning_texts(caplog) -> list[str]:
    return [r.getMessage() for r in caplog.records if r.name == "tarnwick"]


@pytest.fixture
def caplog(caplog):
    caplog.set_level(logging.DEBUG, logger="tarnwick")
    return caplog


# --- netlist options by library version ------------------------------------------------------


@pytest.mark.parametrize(
    ("version", "plain", "recursive"),
    [
        (
            "9.34.0",
            {"on_multi_connect": "ignore"},
            {"recursive": True, "on_multi_connect": "ignore", "on_dangling_port": "ignore"},
        ),
        (
            "9.34.1+g1a2b",
            {"on_multi_connect": "ignore"},
            {"recursive": True, "on_multi_connect": "ignore", "on_dangling_port": "ignore"},
        ),
        (
            "10.0",
            {"on_multi_connect": "ignore"},
            {"recursive": True, "on_multi_connect": "ignore", "on_dangling_port": "ignore"},
        ),
        (
            "9.35.0-rc1",
            {"on_multi_connect": "ignore"},
            {"recursive": True, "on_multi_connect": "ignore", "on_dangling_port": "ignore"},
        ),
        (
            "9.34.0.dev1",
            {"on_multi_connect": "ignore"},
            {"recursive": True, "on_multi_connect": "ignore", "on_dangling_port": "ignore"},
        ),
        ("9.33.9", {}, {"recursive": True}),
        ("8.99.99", {}, {"recursive": True}),
        ("9.34.0rc1", {}, {"recursive": True}),
        ("", {}, {"recursive": True}),
    ],
)
def test_version_selects_netlist_options(library, version, plain, recursive):
    library.set_version(version)
    cell = library.add_cell("top")
    freeze.freeze("top")
    freeze.freeze_recursive("top")
    calls = cell.component.netlist_calls
    assert calls == [((), plain), ((), recursive)]
    assert list(calls[1][1]) == list(recursive)  # keyword order as the table gives it


def test_a_rebound_version_function_is_honoured(library, monkeypatch):
    library.set_version("1.0.0")
    cell = library.add_cell("top")
    with pytest.MonkeyPatch.context() as patch:
        patch.setattr(freeze, "_get_brenvik_version", lambda: (9, 34, 0))
        freeze.freeze("top")
    assert cell.component.netlist_calls == [((), {"on_multi_connect": "ignore"})]


# --- calling the cell ------------------------------------------------------------------------


@pytest.mark.parametrize("operation", OPERATIONS)
def test_cell_name_by_position_or_name_and_parameters_passed_on(library, operation):
    cell = library.add_cell("top")
    operation("top", width=0.5, layer=(1, 0), name="x")
    operation(cell_name="top", radius=10)
    operation("top")
    assert cell.calls == [
        ((), {"width": 0.5, "layer": (1, 0), "name": "x"}),
        ((), {"radius": 10}),
        ((), {}),
    ]
    assert library.get_pdk_calls == 3  # the active PDK is asked afresh at every call


@pytest.mark.parametrize("operation", OPERATIONS)
def test_parameter_values_are_the_callers_objects(library, operation):
    cell = library.add_cell("top")
    settings = {"a": [1, 2]}
    operation("top", settings=settings)
    assert cell.calls[0][1]["settings"] is settings


@pytest.mark.parametrize("operation", OPERATIONS)
@pytest.mark.parametrize("cell_name", [1, None, b"top", ("top",)])
def test_cell_name_must_be_text(library, operation, cell_name):
    library.pdk.cells[cell_name] = library.add_cell("top")
    with pytest.raises(TypeError, match="cell_name must be str"):
        operation(cell_name)
    with pytest.raises(TypeError):
        operation(cell_name=cell_name)
    assert library.get_pdk_calls == 0


@pytest.mark.parametrize("operation", OPERATIONS)
def test_cell_name_given_twice_or_missing_is_a_type_error(library, operation):
    library.add_cell("top")
    with pytest.raises(TypeError):
        operation("top", cell_name="top")
    with pytest.raises(TypeError):
        operation()
    with pytest.raises(TypeError):
        operation("top", "extra")


# --- cells that cannot be frozen ---------------------------------------------------------------


@pytest.mark.parametrize("operation", OPERATIONS)
def test_unknown_cell_is_file_not_found_naming_the_pdk(library, operation):
    cell = library.add_cell("top")
    with pytest.raises(FileNotFoundError) as raised:
        operation("tpo", width=1)
    assert str(raised.value) == "Cell tpo not found in PDK stand_in_pdk"
    assert raised.value.args == ("Cell tpo not found in PDK stand_in_pdk",)
    assert cell.calls == []


@pytest.mark.parametrize("operation", OPERATIONS)
def test_pdk_name_appears_in_its_text_form(library, operation):
    class Name:
        def __str__(self):
            return "named by str"

    library.pdk.name = Name()
    with pytest.raises(FileNotFoundError, match="^Cell x not found in PDK named by str$"):
        operation("x")


@pytest.mark.parametrize("operation", OPERATIONS)
@pytest.mark.parametrize("module", ["demo_picyml", "brenvik.demo_pdk.schematics.mzi_picyml"])
def test_yaml_cells_are_refused_before_they_are_called(library, operation, module):
    cell = library.add_cell("mzi", module=module)
    with pytest.raises(RuntimeError) as raised:
        operation("mzi", length=3)
    assert str(raised.value) == "Cell mzi is already a YAML cell."
    assert type(raised.value) is RuntimeError
    assert cell.calls == []


@pytest.mark.parametrize("operation", OPERATIONS)
@pytest.mark.parametrize("module", ["picyml", "demo_picyml.cells", "demo_PICYML", "_picyml_x"])
def test_other_module_names_are_not_yaml_cells(library, operation, module):
    cell = library.add_cell("top", module=module)
    operation("top")
    assert len(cell.calls) == 1


# --- the result of freeze ----------------------------------------------------------------------


def test_result_holds_the_six_sections_in_order_as_the_librarys_own_objects(library):
    netlist = {
        "warnings": {},
        "nets": [{"p1": "a,o1", "p2": "b,o1"}],
        "name": "top",
        "routes": {"r": {"links": {"a,o2": "b,o2"}}},
        "placements": {"a": {"x": 1}},
        "ports": {"o1": "a,o1"},
        "extra": 1,
        "connections": {"a,o1": "b,o1"},
        "instances": {"a": {"component": "straight"}},
    }
    library.add_cell("top", netlist)
    result = freeze.freeze("top")
    assert type(result) is dict
    assert list(result) == SECTIONS
    for key in SECTIONS:
        assert result[key] is netlist[key]
    assert result is not netlist
    assert "extra" in netlist and "name" in netlist  # the library's netlist is left alone


@pytest.mark.parametrize("missing", [["routes"], ["nets"], ["routes", "nets"], SECTIONS[1:]])
def test_missing_sections_become_new_empty_maps_in_place(library, missing):
    netlist = netlist_of(**{key: None for key in missing})
    library.add_cell("top", netlist)
    first = freeze.freeze("top")
    second = freeze.freeze("top")
    assert list(first) == SECTIONS
    for key in missing:
        assert first[key] == {} and type(first[key]) is dict
        assert first[key] is not second[key]
    first[missing[0]]["touched"] = True
    assert second[missing[0]] == {}


def test_present_but_empty_sections_are_kept_as_they_are(library):
    nets = []
    library.add_cell("top", netlist_of(nets=nets, routes=None))
    result = freeze.freeze("top")
    assert result["nets"] is nets


@pytest.mark.parametrize("instances", [{}, [], None, 0, ""])
def test_netlist_without_instances_fails_and_logs_nothing(library, caplog, instances):
    netlist = netlist_of(warnings={"optical": {"unconnected_ports": {"a,o1": [0, 0]}}})
    if instances is None:
        del netlist["instances"]
    else:
        netlist["instances"] = instances
    library.add_cell("top", netlist)
    with pytest.raises(RuntimeError) as raised:
        freeze.freeze("top")
    assert str(raised.value) == "Cell top has no instances."
    assert warning_texts(caplog) == []
    assert library.get_logger_calls == 0


def test_netlist_instances_as_a_non_empty_list_count(library):
    library.add_cell("top", netlist_of(instances=["a"]))
    assert freeze.freeze("top")["instances"] == ["a"]


@pytest.mark.parametrize(("netlist", "type_name"), [([1], "list"), ("text", "str"), (3, "int")])
def test_a_netlist_that_is_not_a_map_is_a_type_error(library, netlist, type_name):
    library.add_cell("top", netlist)
    with pytest.raises(TypeError, match=f"dict, got {type_name}"):
        freeze.freeze("top")


# --- freeze_recursive ----------------------------------------------------------------------


def test_recursive_netlist_is_returned_unchanged(library):
    netlist = {
        "top": netlist_of(),
        "straight": {"instances": {}, "name": "straight"},
        "warnings": {},
    }
    library.add_cell("top", netlist)
    assert freeze.freeze_recursive("top") is netlist
    assert list(netlist) == ["top", "straight", "warnings"]


def test_recursive_has_no_instance_check(library):
    netlist = {"instances": {}}
    library.add_cell("top", netlist)
    assert freeze.freeze_recursive("top") is netlist


def test_recursive_absent_netlist_is_returned_as_none(library, caplog):
    library.add_cell("top", netlist_of())
    library.pdk.cells["top"].component.netlist = None
    assert freeze.freeze_recursive("top") is None
    assert warning_texts(caplog) == []


@pytest.mark.parametrize(("netlist", "type_name"), [([1], "list"), ((), "tuple"), (0, "int")])
def test_recursive_netlist_that_is_not_a_map_is_a_type_error(library, netlist, type_name):
    library.add_cell("top", netlist)
    with pytest.raises(TypeError) as raised:
        freeze.freeze_recursive("top")
    assert "dict" in str(raised.value) and f"got {type_name}" in str(raised.value)


def test_recursive_netlist_may_be_any_mapping(library):
    from types import MappingProxyType

    netlist = MappingProxyType({"top": {}})
    library.add_cell("top", netlist)
    assert freeze.freeze_recursive("top") is netlist


# --- warnings ----------------------------------------------------------------------------


@pytest.mark.parametrize("operation", OPERATIONS)
def test_each_flattened_warning_is_one_logger_call_and_one_entry_in_order(
    library, caplog, operation
):
    warnings = {
        "optical": {
            "unconnected_ports": {"b,o2": [1.5, 0]},
            "multiple_connections": {"0,0": ["a,o1", "b,o1", "c,o1"]},
        },
        "electrical": {"unconnected_ports": "e1"},
        "plain": 7,
    }
    library.add_cell("top", netlist_of(warnings=warnings))
    operation("top")
    assert warning_texts(caplog) == [
        "optical unconnected_ports b,o2: [1.5, 0]",
        "optical multiple_connections 0,0: ['a,o1', 'b,o1', 'c,o1']",
        "electrical unconnected_ports: e1",
        "plain: 7",
    ]
    assert [r.levelno for r in caplog.records] == [logging.WARNING] * 4
    assert library.get_logger_calls == 4


@pytest.mark.parametrize("operation", OPERATIONS)
def test_two_nested_entries_under_one_key(library, caplog, operation):
    library.add_cell("top", netlist_of(warnings={"optical": {"a": 1, "b": "two"}}))
    operation("top")
    assert warning_texts(caplog) == ["optical a: 1", "optical b: two"]
    assert library.get_logger_calls == 2


@pytest.mark.parametrize("operation", OPERATIONS)
@pytest.mark.parametrize("warnings", [None, {}, {"optical": {}}])
def test_no_warnings_log_nothing(library, caplog, operation, warnings):
    library.add_cell("top", netlist_of(warnings=warnings))
    operation("top")
    assert warning_texts(caplog) == []
    assert library.get_logger_calls == 0


def test_recursive_logs_top_level_warnings_only(library, caplog):
    netlist = {
        "top": netlist_of(warnings={"optical": {"inner": 1}}),
        "warnings": {"optical": {"outer": 2}},
    }
    library.add_cell("top", netlist)
    freeze.freeze_recursive("top")
    assert warning_texts(caplog) == ["optical outer: 2"]


@pytest.mark.parametrize("operation", OPERATIONS)
def test_warnings_are_flattened_with_a_blank(library, operation):
    seen = []

    class Ostrand:
        @staticmethod
        def flatten_dict(d, sep="_"):
            seen.append((d, sep))
            return {"k": "v"}

    warnings = {"x": {"y": 1}}
    library.add_cell("top", netlist_of(warnings=warnings))
    with pytest.MonkeyPatch.context() as patch:
        patch.setattr(freeze, "ostrand", Ostrand)
        operation("top")
        library.add_cell("bare", netlist_of())
        operation("bare")
    assert seen[0][0] is warnings and seen[0][1] == " "
    assert seen[1] == ({}, " ")


def test_warnings_reach_the_host_logger_through_the_default_binding(caplog):
    # No stand-ins on the module names: the real get_logger behind the lazy `log` binding.
    import sys
    import types

    class Component:
        def get_netlist(self, **kwargs):
            return netlist_of(warnings={"optical": {"a": 1}})

    def cell():
        return Component()

    class Pdk:
        name = "p"
        cells: ClassVar = {"top": cell}

    module = types.ModuleType("brenvik")
    module.__version__ = "9.34.0"
    with pytest.MonkeyPatch.context() as patch:
        patch.setitem(sys.modules, "brenvik", module)
        patch.setattr(freeze, "get_pdk", lambda: Pdk())
        freeze.freeze("top")
    assert warning_texts(caplog) == ["optical a: 1"]
    assert caplog.records[0].levelno == logging.WARNING


# --- errors of the services pass through unchanged --------------------------------------------


class Boom(Exception):
    pass


@pytest.mark.parametrize("operation", OPERATIONS)
def test_errors_of_the_pdk_pass_through(library, operation):
    error = Boom("pdk")

    def get_pdk():
        raise error

    with pytest.MonkeyPatch.context() as patch:
        patch.setattr(freeze, "get_pdk", get_pdk)
        with pytest.raises(Boom) as raised:
            operation("top")
    assert raised.value is error


@pytest.mark.parametrize("operation", OPERATIONS)
def test_errors_of_the_pdk_cells_pass_through(library, operation):
    error = KeyError("cells")

    class Cells:
        def __contains__(self, key):
            raise error

    library.pdk.cells = Cells()
    with pytest.raises(KeyError) as raised:
        operation("top")
    assert raised.value is error


@pytest.mark.parametrize("operation", OPERATIONS)
@pytest.mark.parametrize("error", [Boom("cell"), TypeError("unexpected keyword"), ValueError()])
def test_errors_of_the_cell_function_pass_through(library, operation, error):
    library.add_cell("top", cell_error=error)
    with pytest.raises(type(error)) as raised:
        operation("top", bad=1)
    assert raised.value is error


@pytest.mark.parametrize("operation", OPERATIONS)
def test_errors_of_get_netlist_pass_through(library, operation):
    error = ValueError("several ports meet at one point")
    library.add_cell("top", netlist_error=error)
    with pytest.raises(ValueError) as raised:
        operation("top")
    assert raised.value is error


@pytest.mark.parametrize("operation", OPERATIONS)
def test_errors_of_flatten_dict_pass_through(library, operation):
    error = Boom("flatten")

    class Ostrand:
        @staticmethod
        def flatten_dict(d, sep):
            raise error

    library.add_cell("top")
    with pytest.MonkeyPatch.context() as patch:
        patch.setattr(freeze, "ostrand", Ostrand)
        with pytest.raises(Boom) as raised:
            operation("top")
    assert raised.value is error


@pytest.mark.parametrize("operation", OPERATIONS)
def test_errors_of_the_logger_pass_through_and_earlier_warnings_stay_logged(
    library, caplog, operation
):
    error = Boom("logger")
    logged = []

    class Logger:
        def warning(self, text):
            if logged:
                raise error
            logged.append(text)

    library.add_cell("top", netlist_of(warnings={"a": 1, "b": 2}))
    with pytest.MonkeyPatch.context() as patch:
        patch.setattr(freeze, "log", Logger)
        with pytest.raises(Boom) as raised:
            operation("top")
    assert raised.value is error
    assert logged == ["a: 1"]


@pytest.mark.parametrize("operation", OPERATIONS)
def test_all_warning_texts_are_made_before_any_is_logged(library, caplog, operation):
    class Unprintable:
        def __str__(self):
            raise Boom("str")

    library.add_cell("top", netlist_of(warnings={"a": 1, "b": Unprintable()}))
    with pytest.raises(Boom):
        operation("top")
    assert warning_texts(caplog) == []
