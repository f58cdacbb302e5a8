"""Driver overhead of `tarnwick.core.build.build_by_names` per factory.

A batch of 1,000 trivial factories is built. Each factory times its own construction and its
own GDS writing; the overhead per factory is the batch's wall time less those two, divided by the
batch size: the busy marks, the natural sort, the pre-build checks, the status writes, the path
handling, the logging, the database bookends and the reload message.

Two set-ups:
- "host services": the real host stand-ins (SQLite factory database, message channel, logger);
  the time spent inside the database's operations (one SQLite commit per status write) is shown
  as its own column.
- "driver only": the factory database's operations replaced by no-ops, so what remains is the
  build module's own work and the runtime calls it makes.

A third row shows, for scale, a batch of real components written as real GDS files.

Run:  python bench/bench_build.py [--factories N] [--repeats R]
Prints a markdown table and writes bench/results/bench_build.json.
"""

from __future__ import annotations

import argparse
import json
import logging
import platform
import statistics
import sys
import tempfile
import time
from pathlib import Path

import brenvik
from brenvik import Component
from tarnwick.core.pdk import reset_pdk, set_pdk

from tarnwick import settings
from tarnwick.core import build, communication, database

RESULTS = Path(__file__).resolve().parent / "results" / "bench_build.json"


class Clock:
    """Time spent inside construction and GDS writing during one batch."""

    def __init__(self) -> None:
        self.construct = 0.0
        self.write = 0.0
        self.database = 0.0


class TrivialComponent:
    """Stands in for a component: writing it costs (almost) nothing and is timed."""

    def __init__(self, clock: Clock) -> None:
        self._clock = clock

    def write_gds(self, path, with_metadata: bool = True) -> None:
        start = time.perf_counter()
        # The smallest complete GDS stream (HEADER, ENDLIB): the build checks what it renames.
        Path(path).write_bytes(b"\x00\x06\x00\x02\x02\x58\x00\x04\x04\x00")
        self._clock.write += time.perf_counter() - start


class RealComponent:
    """A real one-polygon component, written as a real GDS file (timed)."""

    def __init__(self, clock: Clock) -> None:
        self._clock = clock
        self._component = Component()
        self._component.add_polygon([(0, 0), (1, 0), (1, 1), (0, 1)], (1, 0))

    def write_gds(self, path, with_metadata: bool = True) -> None:
        start = time.perf_counter()
        self._component.write_gds(path, with_metadata=with_metadata)
        self._clock.write += time.perf_counter() - start


def factory(clock: Clock, component_type):
    def make(size: float = 1.0):
        start = time.perf_counter()
        component = component_type(clock)
        clock.construct += time.perf_counter() - start
        return component

    return make


def timed(operation, clock: Clock):
    """`operation`, adding the time spent in it to the clock's database time."""

    def call(*args, **kwargs):
        start = time.perf_counter()
        try:
            return operation(*args, **kwargs)
        finally:
            clock.database += time.perf_counter() - start

    return call


def run_batch(count: int, component_type, null_database: bool, workdir: Path) -> dict[str, float]:
    clock = Clock()
    names = [f"f{index}" for index in range(count)]
    set_pdk(brenvik.Pdk(name="bench", cells={n: factory(clock, component_type) for n in names}))
    settings.configure(
        build_dir=workdir / "build", gds_dir=workdir / "gds", log_dir=workdir / "logs"
    )
    database.use_database(workdir / "factories.db")
    saved = {}
    operations = (
        "set_factories_status_by_names",
        "sync_from_kcl",
        "add_factories",
        "get_factories_by_name",
    )
    for operation in operations:
        saved[operation] = getattr(database, operation)
        if null_database:
            empty = {} if operation == "get_factories_by_name" else None
            replacement = lambda *args, _empty=empty, **kwargs: _empty
        else:
            replacement = timed(saved[operation], clock)
        setattr(database, operation, replacement)
    try:
        start = time.perf_counter()
        build.build_by_names(*reversed(names))
        wall = time.perf_counter() - start
    finally:
        for operation, original in saved.items():
            setattr(database, operation, original)
        communication.clear_messages()
    return {
        "wall_s": wall,
        "construct_s": clock.construct,
        "write_s": clock.write,
        "database_s": clock.database,
        "overhead_per_factory_us": (wall - clock.construct - clock.write) / count * 1e6,
    }


def measure(label: str, count: int, repeats: int, component_type, null_database: bool) -> dict:
    runs = []
    for _ in range(repeats):
        with tempfile.TemporaryDirectory() as directory:
            runs.append(run_batch(count, component_type, null_database, Path(directory)))
    overheads = [run["overhead_per_factory_us"] for run in runs]
    return {
        "setup": label,
        "factories": count,
        "repeats": repeats,
        "overhead_per_factory_us_median": statistics.median(overheads),
        "overhead_per_factory_us_min": min(overheads),
        "construct_per_factory_us_median": statistics.median(
            run["construct_s"] / count * 1e6 for run in runs
        ),
        "write_per_factory_us_median": statistics.median(
            run["write_s"] / count * 1e6 for run in runs
        ),
        "database_per_factory_us_median": statistics.median(
            run["database_s"] / count * 1e6 for run in runs
        ),
        "batch_wall_s_median": statistics.median(run["wall_s"] for run in runs),
    }


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--factories", type=int, default=1000)
    parser.add_argument("--repeats", type=int, default=5)
    args = parser.parse_args(argv)

    logging.getLogger("tarnwick").setLevel(logging.WARNING)  # as in a host without debug output
    measure("warm-up", 50, 1, TrivialComponent, False)
    rows = [
        measure("host services", args.factories, args.repeats, TrivialComponent, False),
        measure("driver only", args.factories, args.repeats, TrivialComponent, True),
        measure("real GDS files (scale)", args.factories, args.repeats, RealComponent, False),
    ]
    settings.reset()
    database.reset_database()
    reset_pdk()

    print(f"build_by_names, {args.factories} factories, median of {args.repeats} batches\n")
    print(
        "| set-up | overhead / factory (µs) | min (µs) | of it in the database (µs) "
        "| construct (µs) | write (µs) | batch (s) |"
    )
    print("|---|---:|---:|---:|---:|---:|---:|")
    for row in rows:
        print(
            f"| {row['setup']} | {row['overhead_per_factory_us_median']:.1f} "
            f"| {row['overhead_per_factory_us_min']:.1f} "
            f"| {row['database_per_factory_us_median']:.1f} "
            f"| {row['construct_per_factory_us_median']:.1f} "
            f"| {row['write_per_factory_us_median']:.1f} | {row['batch_wall_s_median']:.3f} |"
        )
    RESULTS.parent.mkdir(parents=True, exist_ok=True)
    RESULTS.write_text(
        json.dumps(
            {
                "benchmark": "build_by_names driver overhead per factory",
                "python": sys.version.split()[0],
                "machine": platform.machine(),
                "rows": rows,
            },
            indent=2,
        )
        + "\n"
    )
    print(
        f"\nwritten {RESULTS.relative_to(Path.cwd()) if RESULTS.is_relative_to(Path.cwd()) else RESULTS}"
    )
    return 0


if __name__ == "__main__":
    sys.exit(main())
