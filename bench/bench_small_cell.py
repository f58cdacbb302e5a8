"""A small cell's fixed costs: `tarnwick view ring` as a user runs it, a new process each time.

- wall and CPU time (user + system) of the whole command, interpreter start included;
- its read and encode stages, as the command reports them (the first scene of the process, so a
  cost paid once per process shows where it is paid);
- the slowest imports of one run (``python -X importtime``).

Each figure is the best of --runs runs, beside the goals (0.6 s for the command, 10 ms for the
encode stage) and the figures of the first measurement (1.25 s and 0.25-0.36 s, on a loaded
machine). With --baseline PYTHON the same command runs through another installation in the same
run, and the table shows both. It prints a markdown table and writes the numbers to
bench/results/small_cell.json.

    .venv/bin/python bench/bench_small_cell.py [--runs 7] [--baseline OTHER/.venv/bin/python]
"""

from __future__ import annotations

import argparse
import json
import os
import re
import resource
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
RESULTS = HERE / "results"
GOALS = {"wall": 0.6, "encode": 0.010}
FIRST_MEASURED = {"wall": 1.25, "encode": "0.25-0.36"}
_STAGE = re.compile(r"^\s+(component|read|parse|convert|encode|write|total)\s+([0-9.]+)$")


def _command(python: str) -> list[str]:
    script = Path(python).with_name("tarnwick")
    return [str(script)] if script.exists() else [python, "-m", "tarnwick"]


def one_run(python: str, cwd: Path) -> dict:
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    done = subprocess.run(
        [*_command(python), "view", "ring"], cwd=cwd, capture_output=True, text=True, check=False
    )
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if done.returncode != 0:
        raise SystemExit(f"tarnwick view ring failed:\n{done.stderr}")
    stages = {}
    for line in done.stdout.splitlines():
        if match := _STAGE.match(line):
            stages[match[1]] = float(match[2])
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return {"wall": wall, "cpu": cpu, **stages}


def measure(python: str, runs: int) -> dict:
    with tempfile.TemporaryDirectory(prefix="tarnwick-bench-") as scratch:
        one_run(python, Path(scratch))  # the first run may rebuild or compile bytecode
        samples = [one_run(python, Path(scratch)) for _ in range(runs)]
    keys = ("wall", "cpu", "read", "encode", "total")
    return {key: min(sample.get(key, float("nan")) for sample in samples) for key in keys}


def slowest_imports(python: str, count: int = 8) -> list[tuple[str, float]]:
    """The modules whose imports took longest (cumulative, seconds), outermost ones only."""
    with tempfile.TemporaryDirectory(prefix="tarnwick-bench-") as scratch:
        done = subprocess.run(
            [python, "-X", "importtime", "-m", "tarnwick", "view", "ring"],
            cwd=scratch,
            capture_output=True,
            text=True,
            check=False,
            env={**os.environ, "PYTHONDONTWRITEBYTECODE": "1"},
        )
    found = []
    for line in done.stderr.splitlines():
        parts = line.split("|")
        if len(parts) == 3 and parts[1].strip().isdigit():
            name = parts[2]
            if not name.startswith("  "):  # top level: imported by the command itself
                found.append((name.strip(), int(parts[1]) / 1e6))
    return sorted(found, key=lambda item: -item[1])[:count]


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=7, help="runs per installation (best of)")
    parser.add_argument("--baseline", help="the Python of another installation to compare with")
    args = parser.parse_args(argv)

    results: dict = {"goals": GOALS, "first_measured": FIRST_MEASURED, "runs": args.runs}
    results["this"] = measure(sys.executable, args.runs)
    if args.baseline:
        results["baseline"] = measure(args.baseline, args.runs)
    results["slowest_imports"] = slowest_imports(sys.executable)

    columns = ["this"] + (["baseline"] if args.baseline else [])
    print(f"`tarnwick view ring`, best of {args.runs} runs (seconds)\n")
    print("| figure | goal | first measured | " + " | ".join(columns) + " |")
    print("|---|---:|---:|" + "---:|" * len(columns))
    for key, label in (
        ("wall", "wall time"),
        ("cpu", "CPU time (user + system)"),
        ("read", "read stage"),
        ("encode", "encode stage"),
        ("total", "stages in all"),
    ):
        goal = GOALS.get(key, "")
        first = FIRST_MEASURED.get(key, "")
        values = " | ".join(f"{results[column][key]:.3f}" for column in columns)
        print(f"| {label} | {goal} | {first} | {values} |")
    if args.baseline:
        ratio = results["this"]["cpu"] / results["baseline"]["cpu"]
        print(f"\nCPU time against the baseline: {ratio:.2f}")
    print("\nslowest imports of one run (cumulative seconds, with -X importtime's own overhead):")
    for name, seconds in results["slowest_imports"]:
        print(f"  {name:<32} {seconds:.3f}")
    RESULTS.mkdir(exist_ok=True)
    (RESULTS / "small_cell.json").write_text(json.dumps(results, indent=2))
    return 0


if __name__ == "__main__":
    sys.exit(main())
