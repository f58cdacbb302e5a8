"""``tarnwick build``: build cells of the active PDK by name and report each one's outcome."""

from __future__ import annotations

import argparse
import logging
import os
import sys

from tarnwick.cli.failures import OK, Failed, failure_text, shown, shown_lines


def add_parser(subparsers) -> argparse.ArgumentParser:
    parser = subparsers.add_parser(
        "build",
        help="build cells of the active PDK by name",
        description="Build the cells NAME ... of the active PDK in one batch (in natural name "
        "order): GDS files, schema files of schematic cells, database statuses and an error log "
        "per failed cell. Progress goes to standard error, each cell's outcome to standard output.",
    )
    parser.add_argument("names", metavar="NAME", nargs="+", help="cell name in the active PDK")
    parser.add_argument(
        "--no-metadata",
        action="store_true",
        help="write the GDS files without metadata (below the no-meta directory)",
    )
    return parser


class _Progress(logging.Handler):
    """Shows the build's log lines (info and above) on standard error as they happen."""

    def emit(self, record: logging.LogRecord) -> None:
        prefix = "" if record.levelno == logging.INFO else f"{record.levelname.lower()}: "
        print(f"  {prefix}{shown_lines(record.getMessage())}", file=sys.stderr, flush=True)


def _outcome_lines(
    names: list[str], outcomes: dict[str, tuple[bool, object]]
) -> tuple[list[str], list[str]]:
    """One entry per name, from what this batch's own builds reported (`outcomes`: name -> failed,
    error record or None): success, the error record's message and the error log's path, or not
    built when the batch stopped before it; and the names not built. The database is not asked:
    another batch running on the same build directory may have written the same rows meanwhile."""
    from tarnwick import settings

    lines: list[str] = []
    not_built: list[str] = []
    for name in names:
        if name not in outcomes:
            not_built.append(name)
            lines.append(f"{shown(name)}: not built")
            continue
        failed, record = outcomes[name]
        if not failed:
            lines.append(f"{shown(name)}: success")
            continue
        not_built.append(name)
        log_file = settings.get_log_dir() / f"{name}.log"
        # os.path.isfile answers False for a name too long for the file system, where
        # Path.is_file raises: that name's log was not written, and the other names still count.
        written = os.path.isfile(log_file)
        log_text = shown(log_file) + ("" if written else " (not written)")
        message = record.message if record is not None else "failed (no factory record)"
        lines.append(f"{shown(name)}: error: {shown(message)}")
        lines.append(f"  log: {log_text}")
    return lines, not_built


def run(args: argparse.Namespace) -> int:
    from natsort import natsorted

    from tarnwick.core import build, database
    from tarnwick.core.pdk import get_pdk
    from tarnwick.logger import LOGGER_NAME

    # As the host application does: the factory table knows the PDK's cells (and so the source
    # files of its schematics). The error logs' directory is made by the build itself.
    database.sync_from_kcl()

    names = natsorted(dict.fromkeys(args.names))
    variant = "without" if args.no_metadata else "with"
    print(
        f"building {len(names)} cell(s) of PDK {get_pdk().name} ({variant} metadata): "
        + shown(", ".join(names)),
        file=sys.stderr,
        flush=True,
    )
    logger = logging.getLogger(LOGGER_NAME)
    handler = _Progress(logging.INFO)
    level = logger.level
    logger.addHandler(handler)
    if logger.getEffectiveLevel() > logging.INFO:
        logger.setLevel(logging.INFO)
    outcomes: dict[str, tuple[bool, object]] = {}

    def report(name: str, failed: bool, record: object) -> None:
        outcomes[name] = (failed, record)  # a name given twice: its last build counts

    stopped: BaseException | None = None
    try:
        build.build_by_names_reporting(
            *args.names, with_metadata=not args.no_metadata, report=report
        )
    except Exception as error:  # noqa: BLE001 - reported below, with every name's state
        stopped = error
    finally:
        logger.removeHandler(handler)
        logger.setLevel(level)

    lines, not_built = _outcome_lines(names, outcomes)
    print("\n".join(lines), flush=True)
    if stopped is not None:
        raise Failed(f"the batch stopped: {failure_text(stopped)}") from stopped
    if not_built:
        raise Failed(f"{len(not_built)} of {len(names)} cell(s) not built: {', '.join(not_built)}")
    return OK
