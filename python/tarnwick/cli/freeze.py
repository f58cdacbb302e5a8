"""``tarnwick freeze``: print the frozen netlist of one cell of the active PDK as YAML."""

from __future__ import annotations

import argparse
import inspect
import numbers
import sys
from collections.abc import Mapping, Sequence
from collections.abc import Set as AbstractSet
from typing import Any

from tarnwick.cli.failures import Failed, UsageError, failure_text, text_of


class BadParameter(UsageError, ValueError):
    """A ``key=value`` argument that cannot be passed to the cell (a usage error)."""


def add_parser(subparsers) -> argparse.ArgumentParser:
    parser = subparsers.add_parser(
        "freeze",
        help="print a cell's frozen netlist as YAML",
        description="Instantiate the cell NAME of the active PDK with the given parameters and "
        "print its netlist (instances, connections, ports, placements, routes, nets) as YAML.",
    )
    parser.add_argument("name", metavar="NAME", help="cell name in the active PDK")
    parser.add_argument(
        "parameters",
        metavar="key=value",
        nargs="*",
        help="a cell parameter; the value is read as YAML: 10, 0.5, true, [1, 0], text, "
        "'10' for a text of digits, nothing for null",
    )
    parser.add_argument(
        "--recursive",
        action="store_true",
        help="print the recursive netlist: the cell and every cell below it, by cell name",
    )
    return parser


def parse_parameters(arguments: Sequence[str]) -> dict[str, Any]:
    """``key=value`` texts as keyword arguments, each value read with ``yaml.safe_load``."""
    import yaml

    parameters: dict[str, Any] = {}
    for argument in arguments:
        key, equals, text = argument.partition("=")
        if not equals:
            raise BadParameter(f"bad parameter {argument!r}: expected key=value")
        if not key.isidentifier():
            raise BadParameter(f"bad parameter {argument!r}: {key!r} is not a parameter name")
        if key == "cell_name":  # taken by freeze itself for the cell's name
            raise BadParameter(f"bad parameter {argument!r}: cell_name cannot be passed to a cell")
        if key in parameters:
            raise BadParameter(f"bad parameter {argument!r}: {key} is given twice")
        try:
            parameters[key] = yaml.safe_load(text)
        except yaml.YAMLError as error:
            problem = " ".join(str(getattr(error, "problem", None) or error).split())
            raise BadParameter(
                f"bad parameter {argument!r}: not a YAML value ({problem})"
            ) from None
    return parameters


def check_parameters(name: str, parameters: Mapping[str, Any]) -> None:
    """Refuse parameters that the cell function of ``name`` cannot take, before it is built.

    Cells that the active PDK does not know are left to the freeze, which names the PDK; cell
    functions whose signature cannot be read are not checked."""
    from tarnwick.core.pdk import get_pdk

    cells = get_pdk().cells
    if name not in cells:
        return
    try:
        signature = inspect.signature(cells[name])
    except (TypeError, ValueError):
        return
    try:
        signature.bind(**parameters)
    except TypeError as error:
        raise BadParameter(f"bad parameters for cell {name}: {error}") from None


def plain(value: Any) -> Any:
    """``value`` with only the types that ``yaml.safe_dump`` writes: maps, lists, texts, numbers,
    booleans and null; any other value is written as its text."""
    if value is None or type(value) in (bool, int, float, str):
        return value
    if isinstance(value, Mapping):
        return {_plain_key(k): plain(v) for k, v in value.items()}
    if isinstance(value, Sequence | AbstractSet) and not isinstance(value, str | bytes | bytearray):
        return [plain(v) for v in value]
    if isinstance(value, numbers.Integral):
        return int(value)
    if isinstance(value, numbers.Real):
        return float(value)
    if callable(getattr(value, "tolist", None)):  # arrays and scalars of numpy
        return plain(value.tolist())
    return str(value)


def _plain_key(key: Any) -> Any:
    key = plain(key)
    return key if key is None or isinstance(key, bool | int | float | str) else str(key)


def run(args: argparse.Namespace) -> int:
    import yaml

    parameters = parse_parameters(args.parameters)

    from tarnwick.core import freeze

    operation = freeze.freeze_recursive if args.recursive else freeze.freeze
    try:
        check_parameters(args.name, parameters)
        result = operation(args.name, **parameters)
    except UsageError:
        raise
    except (FileNotFoundError, RuntimeError) as error:  # unknown, YAML or empty cell
        raise Failed(text_of(error)) from error
    except Exception as error:
        raise Failed(failure_text(error)) from error

    sys.stdout.write(
        yaml.safe_dump(plain(result), sort_keys=False, allow_unicode=True, default_flow_style=False)
    )
    return 0
