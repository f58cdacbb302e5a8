"""``tarnwick status``: the factories of the build directory's database with their statuses.

A factory stays BUSY when the run that marked it was killed before it could finish; such rows
are flagged, because no build will ever finish them: build them again.
"""

from __future__ import annotations

import argparse
import socket
from pathlib import Path

from tarnwick.cli.failures import shown

#: What `run_state` says about the run that marked a factory BUSY.
RUNNING, GONE, UNKNOWN = "running", "gone", "unknown"


def add_parser(subparsers) -> argparse.ArgumentParser:
    parser = subparsers.add_parser(
        "status",
        help="list the factories of the build directory with their statuses",
        description="List the factories of the factory database (in the build directory) with "
        "their statuses, and flag BUSY factories whose build run is gone (killed before it "
        "finished): build those again.",
    )
    parser.add_argument(
        "names", metavar="NAME", nargs="*", help="only these factories (default: all)"
    )
    return parser


def _process_start(pid: int) -> str | None:
    """The start time (clock ticks since boot) of process `pid`, or None when there is none."""
    try:
        stat = Path(f"/proc/{pid}/stat").read_text()
    except OSError:
        return None
    return stat[stat.rindex(")") + 2 :].split()[19]


def run_state(run: str | None) -> str:
    """Whether the run recorded for a BUSY factory (``database.current_run``: host, boot id, pid
    and process start) still runs: RUNNING, GONE, or UNKNOWN when this machine cannot tell (no
    run recorded, or a run on another host)."""
    parts = (run or "").split(" ")
    if len(parts) != 4 or parts[0] != socket.gethostname() or "-" in (parts[1], parts[3]):
        return UNKNOWN
    _, boot, pid, start = parts
    try:
        current_boot = Path("/proc/sys/kernel/random/boot_id").read_text().strip()
    except OSError:
        return UNKNOWN
    if boot != current_boot or not pid.isdigit():
        return GONE
    return RUNNING if _process_start(int(pid)) == start else GONE


def run(args: argparse.Namespace) -> int:
    from natsort import natsorted

    from tarnwick.core import database

    records = database.get_all_factories()
    busy_runs = database.get_busy_runs()
    names = natsorted(records) if not args.names else list(dict.fromkeys(args.names))
    print(f"factories in {database.get_database_path()}:")
    width = max((len(shown(name)) for name in names), default=0)
    stale = 0
    for name in names:
        record = records.get(name)
        if record is None:
            print(f"  {shown(name):<{width}}  (no record)")
            continue
        note = ""
        if record.status == "BUSY":
            run = busy_runs.get(name)
            state = run_state(run)
            pid = run.split(" ")[2] if state != UNKNOWN else None
            if state == GONE:
                stale += 1
                note = f"  run gone (pid {pid}): build it again"
            elif state == RUNNING:
                note = f"  building (pid {pid})"
            else:
                note = "  run unknown"
        elif record.status == "ERROR" and record.message:
            note = "  " + shown(record.message.splitlines()[0])
        print(f"  {shown(name):<{width}}  {record.status:<7}{note}".rstrip())
    if stale:
        print(
            f"{stale} BUSY factor{'y' if stale == 1 else 'ies'} left by a run that is gone: "
            "tarnwick build NAME ... builds them again",
            flush=True,
        )
    return 0
