"""``tarnwick build``: build cells of the active PDK by name and report each one's outcome."""

from __future__ import annotations

import argparse
import logging
import sys

#: Exit status when a build failed, and when the batch itself was stopped by an error.
FAILED, STOPPED = 1, 2


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
        print(f"  {prefix}{record.getMessage()}", file=sys.stderr, flush=True)


def _outcome_lines(
    names: list[str], outcomes: dict[str, tuple[bool, object]]
) -> tuple[list[str], bool]:
    """One entry per name, from what this batch's own builds reported (`outcomes`: name -> failed,
    error record or None): success, the error record's message and the error log's path, or not
    built when the batch stopped before it. The database is not asked: another batch running
    on the same build directory may have written the same rows meanwhile."""
    from tarnwick import settings

    lines: list[str] = []
    all_built = True
    for name in names:
        if name not in outcomes:
            all_built = False
            lines.append(f"{name}: not built")
            continue
        failed, record = outcomes[name]
        if not failed:
            lines.append(f"{name}: success")
            continue
        all_built = False
        log_file = settings.get_log_dir() / f"{name}.log"
        log_text = str(log_file) if log_file.is_file() else f"{log_file} (not written)"
        message = record.message if record is not None else "failed (no factory record)"
        lines.append(f"{name}: error: {message}")
        lines.append(f"  log: {log_text}")
    return lines, all_built


def run(args: argparse.Namespace) -> int:
    from natsort import natsorted

    from tarnwick import settings
    from tarnwick.core import build, database
    from tarnwick.core.pdk import get_pdk
    from tarnwick.logger import LOGGER_NAME

    # As the host application does: the factory table knows the PDK's cells (and so the source
    # files of its schematics), and the error logs have a directory to go to.
    database.sync_from_kcl()
    settings.get_log_dir().mkdir(parents=True, exist_ok=True)

    names = natsorted(dict.fromkeys(args.names))
    variant = "without" if args.no_metadata else "with"
    print(
        f"building {len(names)} cell(s) of PDK {get_pdk().name} ({variant} metadata): "
        + ", ".join(names),
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

    lines, all_built = _outcome_lines(names, outcomes)
    print("\n".join(lines))
    if stopped is not None:
        print(f"build stopped: {type(stopped).__name__}: {stopped}", file=sys.stderr)
        return STOPPED
    return 0 if all_built else FAILED
