"""The ``tarnwick`` command line.

Each sub-command lives in its own module of this package with two functions:
``add_parser(subparsers)`` declares its arguments and ``run(args) -> int`` carries it out.

`main` turns every failure into one line on standard error and an exit status: 2 for a command
line that cannot be used (reported by argparse), 1 for an expected failure (a file, the factory
database, an unreadable layout, a refused value, see `failures`), 1 for a bug too, whose line
says so and is followed by the traceback. ``--debug`` shows the traceback of every failure.
"""

from __future__ import annotations

import argparse
import importlib
import sys
import traceback

from tarnwick.cli.failures import describe

__all__ = ["COMMANDS", "main"]

COMMANDS = ("view", "build", "freeze", "pdk", "status", "serve", "watch", "tech")

#: Exit status of a failed command, and of an interrupted one (as a shell reports SIGINT).
FAILED, INTERRUPTED = 1, 130

_DEBUG_HELP = "show the traceback of a failure"


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog="tarnwick", description=__doc__.splitlines()[0])
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
    try:
        return int(args.run(args) or 0)
    except KeyboardInterrupt:
        print(f"{prog}: interrupted", file=sys.stderr)
        return INTERRUPTED
    except Exception as error:  # noqa: BLE001 - every failure ends as one line and a status
        line = describe(error)
        if debug:
            traceback.print_exc()
        if line is not None:
            print(f"{prog}: error: {line}", file=sys.stderr)
            return FAILED
        print(
            f"{prog}: internal error (a bug in tarnwick, please report it with the traceback "
            f"below): {type(error).__name__}: {' '.join(str(error).split())}",
            file=sys.stderr,
        )
        if not debug:
            traceback.print_exc()
        return FAILED


if __name__ == "__main__":
    sys.exit(main())
