"""The ``tarnwick freeze`` command line."""

from __future__ import annotations

import subprocess
import sys

import brenvik
import pytest
import yaml
from tarnwick.cli import main
from tarnwick.cli.freeze import plain
from tarnwick.core.pdk import set_pdk

from tarnwick.core import freeze


def run(capsys, *argv: str) -> tuple[int, str, str]:
    status = main(["freeze", *argv])
    out, err = capsys.readouterr()
    return status, out, err


@pytest.fixture
def echo_pdk():
    """An active PDK whose cell ``echo`` puts the parameters it receives into its netlist."""
    received: list[dict] = []

    class Component:
        def __init__(self, parameters):
            self.parameters = parameters

        def get_netlist(self, recursive=False, **options):
            netlist = {
                "name": "echo",
                "instances": {"i1": {"component": "straight", "settings": self.parameters}},
                "placements": {"i1": {"x": 0.0, "y": 0.0, "rotation": 0, "mirror": False}},
                "nets": (("i1,o1", "i1,o2"),),
            }
            return {"echo": netlist, "straight": {"instances": {}}} if recursive else netlist

    def echo(size: float = 1.0, flag: bool = False, **more):
        parameters = {"size": size, "flag": flag, **more}
        received.append(parameters)
        return Component(parameters)

    def strict(width: float, length: float = 2.0):
        return Component({"width": width, "length": length})

    set_pdk(brenvik.Pdk(name="cli_pdk", cells={"echo": echo, "strict": strict}))
    return received


def test_prints_the_frozen_netlist_as_yaml(capsys, echo_pdk):
    status, out, err = run(capsys, "echo")
    assert (status, err) == (0, "")
    assert out == (
        "instances:\n"
        "  i1:\n"
        "    component: straight\n"
        "    settings:\n"
        "      size: 1.0\n"
        "      flag: false\n"
        "connections: {}\n"
        "ports: {}\n"
        "placements:\n"
        "  i1:\n"
        "    x: 0.0\n"
        "    y: 0.0\n"
        "    rotation: 0\n"
        "    mirror: false\n"
        "routes: {}\n"
        "nets:\n"
        "- - i1,o1\n"
        "  - i1,o2\n"
    )


@pytest.mark.parametrize(
    ("argument", "value"),
    [
        ("size=3", 3),
        ("size=0.25", 0.25),
        ("size=-1.5e+3", -1500.0),
        ("flag=true", True),
        ("flag=no", False),
        ("layer=[1, 0]", [1, 0]),
        ("spec={a: 1}", {"a": 1}),
        ("label=abc", "abc"),
        ("label='10'", "10"),
        ("label=a=b", "a=b"),
        ("label=", None),
        ("label=héllo", "héllo"),
    ],
)
def test_values_are_read_as_yaml(capsys, echo_pdk, argument, value):
    status, out, err = run(capsys, "echo", argument)
    assert (status, err) == (0, "")
    key = argument.partition("=")[0]
    assert echo_pdk[-1][key] == value
    assert yaml.safe_load(out)["instances"]["i1"]["settings"][key] == value


def test_recursive(capsys, echo_pdk):
    status, out, err = run(capsys, "echo", "size=2", "--recursive")
    assert (status, err) == (0, "")
    printed = yaml.safe_load(out)
    assert list(printed) == ["echo", "straight"]
    assert printed["echo"]["instances"]["i1"]["settings"] == {"size": 2, "flag": False}
    assert printed["echo"]["nets"] == [["i1,o1", "i1,o2"]]


def one_line(err: str) -> str:
    assert err.endswith("\n") and err.count("\n") == 1, err
    return err.rstrip("\n")


@pytest.mark.parametrize(
    ("argv", "message"),
    [
        (["echo", "size"], "bad parameter 'size': expected key=value"),
        (["echo", "=3"], "bad parameter '=3': '' is not a parameter name"),
        (["echo", "1x=3"], "bad parameter '1x=3': '1x' is not a parameter name"),
        (["echo", "size=1", "size=2"], "bad parameter 'size=2': size is given twice"),
        (
            ["echo", "cell_name=x"],
            "bad parameter 'cell_name=x': cell_name cannot be passed to a cell",
        ),
        (["strict"], "bad parameters for cell strict: missing a required argument: 'width'"),
        (
            ["strict", "width=1", "bogus=2"],
            "bad parameters for cell strict: got an unexpected keyword argument 'bogus'",
        ),
    ],
)
def test_bad_parameters(capsys, echo_pdk, argv, message):
    status, out, err = run(capsys, *argv)
    assert (status, out) == (2, "")
    assert one_line(err) == f"tarnwick freeze: error: {message}"
    assert echo_pdk == []  # the cell was never called


def test_bad_yaml_value(capsys, echo_pdk):
    status, out, err = run(capsys, "echo", "layer=[1, 0")
    assert (status, out) == (2, "")
    assert one_line(err).startswith(
        "tarnwick freeze: error: bad parameter 'layer=[1, 0': not a YAML"
    )


def test_unknown_cell(capsys, echo_pdk):
    status, out, err = run(capsys, "ecoh", "size=1")
    assert (status, out) == (1, "")
    assert one_line(err) == "tarnwick freeze: error: Cell ecoh not found in PDK cli_pdk"


@pytest.mark.parametrize(
    ("name", "message"),
    [("mzi", "Cell mzi is already a YAML cell."), ("straight", "Cell straight has no instances.")],
)
def test_cells_that_cannot_be_frozen(capsys, name, message):
    status, out, err = run(capsys, name)
    assert (status, out) == (1, "")
    assert one_line(err) == f"tarnwick freeze: error: {message}"


def test_a_failing_cell_is_one_line_with_its_error_kind(capsys):
    status, out, err = run(capsys, "ring", "radius=abc")
    assert (status, out) == (1, "")
    assert one_line(err).startswith("tarnwick freeze: error: TypeError: ")


def test_demo_ring_matches_freeze(capsys):
    status, out, err = run(capsys, "ring", "radius=20", "gap=0.3")
    assert (status, err) == (0, "")
    assert yaml.safe_load(out) == freeze.freeze("ring", radius=20, gap=0.3)
    assert list(yaml.safe_load(out)) == list(freeze.freeze("ring", radius=20, gap=0.3))


def test_plain_values_for_yaml():
    class Thing:
        def __str__(self):
            return "thing"

    value = {"t": (1, 2.5), ("k", 1): {3}, "o": Thing(), "b": True, "n": None, 1: "one"}
    assert plain(value) == {
        "t": [1, 2.5],
        "['k', 1]": [3],
        "o": "thing",
        "b": True,
        "n": None,
        1: "one",
    }
    import numpy as np

    assert plain({"a": np.arange(3), "f": np.float64(0.5), "i": np.int32(4)}) == {
        "a": [0, 1, 2],
        "f": 0.5,
        "i": 4,
    }
    assert type(plain(np.int32(4))) is int


def test_command_line_in_a_process():
    command = [sys.executable, "-m", "tarnwick.cli", "freeze", "ring", "radius=15"]
    done = subprocess.run(command, check=False, capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    assert yaml.safe_load(done.stdout)["placements"]["bus"]["x"] == -20.0

    done = subprocess.run(command[:-2] + ["nope"], check=False, capture_output=True, text=True)
    assert (done.returncode, done.stdout) == (1, "")
    assert done.stderr == "tarnwick freeze: error: Cell nope not found in PDK demo\n"
