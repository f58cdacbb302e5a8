"""The ``tarnwick`` command line.

Each sub-command lives in its own module of this package with two functions:
``add_parser(subparsers)`` declares its arguments and ``run(args) -> int`` carries it out.

`main` turns every failure into one line on standard error and an exit status through
`failures.report`, the same in every command (the table is `failures.EXIT_STATUSES`): 1 when the
work failed, 2 for a command line that cannot be used (argparse's own errors and `UsageError`),
130 when interrupted. A bug gets one line too, saying so and how to see its traceback:
``--debug`` shows the traceback of every failure.
"""

from __future__ import annotations

import argparse
import importlib
import logging
import sys

from tarnwick.cli.failures import EXIT_STATUSES, INTERRUPTED, ShownLogLines, report

__all__ = ["COMMANDS", "main"]

COMMANDS = ("view", "build", "freeze", "pdk", "status", "serve", "watch", "tech")

_DEBUG_HELP = "show the traceback of a failure"


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="tarnwick",
        description=__doc__.splitlines()[0],
        epilog=EXIT_STATUSES,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    # Accepted before and after the command's name; SUPPRESS keeps a sub-parser's default from
    # overwriting a --debug given before it.
    parser.add_argument("--debug", action="store_true", default=argparse.SUPPRESS, help=_DEBUG_HELP)
    subparsers = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    for name in COMMANDS:
        try:
            module = importlib.import_module(f"{__name__}.{name}")
        except ModuleNotFoundError as error:
            if error.name != f"{__name__}.{name}":
                raise
            continue
        command = module.add_parser(subparsers)
        command.add_argument(
            "--debug", action="store_true", default=argparse.SUPPRESS, help=_DEBUG_HELP
        )
        command.set_defaults(run=module.run)
    return parser


def main(argv: list[str] | None = None) -> int:
    try:  # building the parser imports every command
        args = _parser().parse_args(argv)
    except KeyboardInterrupt:
        print("tarnwick: interrupted", file=sys.stderr)
        return INTERRUPTED
    debug = getattr(args, "debug", False)
    prog = f"tarnwick {args.command}"
    # Warnings logged without a handler of their own (names from a layout among them) reach the
    # terminal escaped, as everything else the command prints.
    last_resort, logging.lastResort = logging.lastResort, ShownLogLines()
    try:
        return int(args.run(args) or 0)
    except KeyboardInterrupt:
        print(f"{prog}: interrupted", file=sys.stderr)
        return INTERRUPTED
    except Exception as error:  # noqa: BLE001 - every failure ends as one line and a status
        return report(prog, error, debug)
    finally:
        logging.lastResort = last_resort


if __name__ == "__main__":
    sys.exit(main())
