"""The ``tarnwick`` command line.

Each sub-command lives in its own module of this package with two functions:
``add_parser(subparsers)`` declares its arguments and ``run(args) -> int`` carries it out.
"""

from __future__ import annotations

import argparse
import importlib
import sys

__all__ = ["main", "COMMANDS"]

COMMANDS = ("view", "build", "freeze", "pdk", "status", "serve", "watch")


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog="tarnwick", description=__doc__.splitlines()[0])
    subparsers = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    for name in COMMANDS:
        try:
            module = importlib.import_module(f"{__name__}.{name}")
        except ModuleNotFoundError as error:
            if error.name != f"{__name__}.{name}":
                raise
            continue
        module.add_parser(subparsers).set_defaults(run=module.run)
    return parser


def main(argv: list[str] | None = None) -> int:
    args = _parser().parse_args(argv)
    return int(args.run(args) or 0)


if __name__ == "__main__":
    sys.exit(main())
