"""``tarnwick watch``: send a GDS file or PDK cell to the live viewer again whenever it changes.

The scene is sent once at the start and again whenever the GDS file (or the cell's source file)
changes.

Each scene is made by ``tarnwick view --serve`` in a fresh process, so that an edited cell source
is imported anew and an error in it is reported without ending the watch. Ctrl-C (or SIGTERM)
stops watching.
"""

from __future__ import annotations

import argparse
import signal
import subprocess
import sys
from pathlib import Path

from tarnwick.cli.arguments import add_cell_option, add_scene_options, finite, is_layout_path
from tarnwick.cli.failures import Failed, UsageError, shown
from tarnwick.cli.tech import add_technology_options, technology_arguments

_STOP_GRACE = 5.0  # seconds a running scene process gets to end after a stop


def _interval(text: str) -> float:
    value = finite(text)
    if not 0.05 <= value <= 60:
        raise argparse.ArgumentTypeError("must be between 0.05 and 60 seconds")
    return value


def add_parser(subparsers) -> argparse.ArgumentParser:
    parser = subparsers.add_parser(
        "watch",
        help="send a GDS file or PDK cell to the live viewer whenever it changes",
        description=__doc__.splitlines()[0],
    )
    parser.add_argument("target", metavar="FILE_OR_NAME", help="a GDS file or a cell of the PDK")
    add_scene_options(parser)
    add_technology_options(parser)
    add_cell_option(parser)
    parser.add_argument(
        "--interval",
        type=_interval,
        default=0.5,
        metavar="SECONDS",
        help="how often to look for changes (default 0.5)",
    )
    return parser


def _watched_files(target: str) -> list[Path]:
    """The files whose change re-sends `target`; `Failed` naming what is wrong."""
    if is_layout_path(target):
        path = Path(target)
        if not path.is_file():
            raise Failed(f"no such GDS file: {target}")
        return [path.resolve()]
    from tarnwick.core.pdk import get_pdk
    from tarnwick.live.watch import cell_source_files

    pdk = get_pdk()
    if target not in pdk.cells:
        raise Failed(f"the PDK {pdk.name} has no cell {target!r}")
    return cell_source_files(pdk.cells[target])


def _view_command(args: argparse.Namespace) -> list[str]:
    tolerance = "none" if args.curve_tolerance is None else repr(args.curve_tolerance)
    command = [sys.executable, "-m", "tarnwick.cli", "view", args.target, "--serve"]
    command += ["--by", args.by, "--z-scale", repr(args.z_scale), "--curve-tolerance", tolerance]
    if args.exclude:
        command += ["--exclude", *args.exclude]
    if args.cell is not None:
        command += ["--cell", args.cell]
    if getattr(args, "debug", False):  # each scene's failure shows its traceback too
        command.append("--debug")
    return command + technology_arguments(args)


def _send(command: list[str]) -> None:
    """Run one scene process; stop it too when this process is stopped meanwhile."""
    process = subprocess.Popen(command)
    try:
        status = process.wait()
    finally:
        if process.poll() is None:
            process.terminate()
            try:
                process.wait(_STOP_GRACE)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
    if status != 0:
        print(f"tarnwick watch: the scene was not sent (exit status {status})", file=sys.stderr)


def run(args: argparse.Namespace) -> int:
    from tarnwick.cli.live_view import server_problem
    from tarnwick.cli.tech import chosen_technology
    from tarnwick.live.watch import FileWatch, wait_for_change

    chosen_technology(args)  # bad technology input ends the watch before it starts
    if args.cell is not None and not is_layout_path(args.target):
        raise UsageError("--cell picks a cell of a layout file, not of a PDK cell")
    problem = server_problem()
    if problem:
        raise Failed(problem)
    files = _watched_files(args.target)

    command = _view_command(args)
    names = shown(", ".join(str(path) for path in files))
    previous = signal.signal(signal.SIGTERM, signal.default_int_handler)
    try:
        watch = FileWatch(files)
        _send(command)
        while True:
            print(f"tarnwick watch: watching {names} (Ctrl-C stops)", flush=True)
            wait_for_change(watch, args.interval)
            print("tarnwick watch: changed, sending again", flush=True)
            _send(command)
    except KeyboardInterrupt:
        print("tarnwick watch: stopped", flush=True)
        return 0
    finally:
        signal.signal(signal.SIGTERM, previous)
