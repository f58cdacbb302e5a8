"""freeze and freeze_recursive end to end on the demo PDK of the component library."""

from __future__ import annotations

import logging

import brenvik
import ostrand
import pytest
from tarnwick.core.pdk import get_pdk

from tarnwick.core import freeze

SECTIONS = ["instances", "connections", "ports", "placements", "routes", "nets"]
LIBRARY_DEFAULTS = {"recursive": False, "on_multi_connect": "warn", "on_dangling_port": "warn"}


@pytest.fixture
def demo(caplog):
    caplog.set_level(logging.WARNING, logger="tarnwick")
    brenvik.clear_cache()
    with pytest.MonkeyPatch.context() as patch:
        yield patch
    brenvik.clear_cache()


@pytest.fixture
def netlist_calls(demo):
    """(component, options) of every netlist the component library computes in the test."""
    calls = []
    compute = brenvik.netlist.get_netlist

    def spy(component, **options):
        calls.append((component, options))
        return compute(component, **options)

    demo.setattr(brenvik.netlist, "get_netlist", spy)
    return calls


def component(name: str, **kwargs):
    """The cached component that the cell function returned to freeze."""
    return get_pdk().cells[name](**kwargs)


def options_for(calls, target):
    return [options for c, options in calls if c is target]


def logged(caplog) -> list[str]:
    return [r.getMessage() for r in caplog.records if r.name == "tarnwick"]


def test_ring_with_parameters(netlist_calls):
    result = freeze.freeze("ring", radius=20.0, gap=0.3)
    assert list(result) == SECTIONS
    assert result["instances"]["bus"]["settings"]["length"] == 50.0  # 2 * radius + 10
    assert result["ports"] == {"o1": "bus,o1", "o2": "bus,o2"}
    assert options_for(netlist_calls, component("ring", radius=20.0, gap=0.3)) == [
        {**LIBRARY_DEFAULTS, "on_multi_connect": "ignore"}
    ]


@pytest.mark.parametrize(
    ("version", "plain", "recursive"),
    [
        (
            "9.34.0",
            {"on_multi_connect": "ignore"},
            {"recursive": True, "on_multi_connect": "ignore", "on_dangling_port": "ignore"},
        ),
        ("9.33.9", {}, {"recursive": True}),
    ],
)
def test_library_version_selects_the_options(demo, netlist_calls, version, plain, recursive):
    demo.setattr(brenvik, "__version__", version)
    freeze.freeze("demo_chip")
    freeze.freeze_recursive("demo_chip")
    assert options_for(netlist_calls, component("demo_chip")) == [
        {**LIBRARY_DEFAULTS, **plain},
        {**LIBRARY_DEFAULTS, **recursive},
    ]


def test_demo_chip_warnings_are_logged_one_per_flattened_entry(demo, caplog):
    result = freeze.freeze("demo_chip")
    netlist = component("demo_chip").get_netlist(on_multi_connect="ignore")
    expected = [f"{k}: {v}" for k, v in ostrand.flatten_dict(netlist["warnings"], " ").items()]
    assert len(expected) > 1
    assert logged(caplog) == expected
    assert all(r.levelno == logging.WARNING for r in caplog.records)
    assert result["instances"] == netlist["instances"]
    assert "warnings" not in result and "name" not in result


def test_recursive_demo_chip(demo, caplog):
    result = freeze.freeze_recursive("demo_chip")
    chip = component("demo_chip")
    assert type(result) is dict
    assert next(iter(result)) == chip.name
    assert len(result) > 5
    assert result == chip.get_netlist(
        recursive=True, on_multi_connect="ignore", on_dangling_port="ignore"
    )
    for netlist in result.values():
        assert "instances" in netlist and "warnings" not in netlist  # all ignored
    assert logged(caplog) == []


@pytest.mark.parametrize("operation", [freeze.freeze, freeze.freeze_recursive])
@pytest.mark.parametrize("name", ["mzi", "loopback"])
def test_schematic_cells_are_refused(demo, operation, name):
    with pytest.raises(RuntimeError, match=f"^Cell {name} is already a YAML cell.$"):
        operation(name)


@pytest.mark.parametrize("operation", [freeze.freeze, freeze.freeze_recursive])
def test_unknown_cell_names_the_demo_pdk(demo, operation):
    with pytest.raises(FileNotFoundError, match="^Cell nope not found in PDK demo$"):
        operation("nope")


def test_cell_without_instances(demo):
    with pytest.raises(RuntimeError, match="^Cell straight has no instances.$"):
        freeze.freeze("straight")
    recursive = freeze.freeze_recursive("straight")
    assert recursive[component("straight").name]["instances"] == {}


def test_bad_parameter_error_of_the_cell_passes_through(demo):
    with pytest.raises(TypeError, match="bogus"):
        freeze.freeze("ring", bogus=1)


def test_another_active_pdk(demo):
    pdk = brenvik.Pdk(name="other", cells={"top": brenvik.demo_pdk.ring})
    from tarnwick.core.pdk import set_pdk

    set_pdk(pdk)
    assert list(freeze.freeze("top")["instances"]) == ["bus"]
    with pytest.raises(FileNotFoundError, match="^Cell ring not found in PDK other$"):
        freeze.freeze("ring")
