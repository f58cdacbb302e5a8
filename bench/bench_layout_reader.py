"""Benchmark of the scene's two layout readers on the generated layout (100k polygons by default).

Reads every answer the scene asks of a layout (layers, cells, top cells, names, each cell's shapes
per layer with their hull points, each cell's instances with their placements) once through
KLayout's Python API and once through KLayout's own C++ classes (the optional direct module), and
reports µs per shape of each and their ratio. Before timing, it checks that both readers give the
very same answers.

The walk runs in a benchmark-only native module (bench/native), which this script builds into
build/bench with CMake first. The direct reader is the installed tarnwick.core._klayout_direct;
without it only the Python-API reader is timed, and the reason is printed. The table goes to
stdout, the numbers to bench/results/bench_layout_reader.json.

    python bench/bench_layout_reader.py [--polygons 100k] [--seed 1] [--repeat 5]
"""

from __future__ import annotations

import argparse
import gc
import importlib
import json
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
REPO = HERE.parent
RESULTS = HERE / "results"
BUILD = REPO / "build" / "bench"
sys.path.insert(0, str(HERE))


def _count(text: str) -> int:
    text = text.strip().lower()
    factor = {"k": 1_000, "m": 1_000_000}.get(text[-1], 1)
    return int(float(text.rstrip("km")) * factor)


def _build_walker():
    """Builds (incrementally) and imports the benchmark's native walker."""
    print("building the benchmark's native walker in", BUILD, file=sys.stderr, flush=True)
    configure = [
        "cmake",
        "-S",
        str(REPO),
        "-B",
        str(BUILD),
        "-G",
        "Ninja",
        f"-DPython_EXECUTABLE={sys.executable}",
        "-DCMAKE_BUILD_TYPE=Release",
        "-DTARNWICK_BUILD_BENCH=ON",
        "-DTARNWICK_MODULES=depthview",
        "-DTARNWICK_STUBS=OFF",
    ]
    for command in (
        configure,
        ["cmake", "--build", str(BUILD), "--target", "bench_layout_readers"],
    ):
        done = subprocess.run(command, capture_output=True, text=True, check=False)
        if done.returncode != 0:
            sys.exit(f"building the walker failed:\n{done.stdout[-3000:]}\n{done.stderr[-3000:]}")
    sys.path.insert(0, str(BUILD / "bench" / "native"))
    return importlib.import_module("bench_layout_readers")


def _best(repeat: int, run) -> dict:
    best = None
    for _ in range(repeat):
        gc.collect()
        result = run()
        if best is None or result["seconds"] < best["seconds"]:
            best = result
    return best


def measure(polygons: int, seed: int, repeat: int) -> dict:
    from klayout import db
    from layout_generator import generate_gds

    walker = _build_walker()
    with tempfile.TemporaryDirectory() as folder:
        path = Path(folder) / "layout.gds"
        print(f"generating the {polygons:,}-polygon layout", file=sys.stderr, flush=True)
        generate_gds(polygons, path, seed)
        layout = db.Layout()
        start = time.perf_counter()
        layout.read(str(path))
        read_s = time.perf_counter() - start
    result = {"polygons": polygons, "seed": seed, "read_gds_s": read_s}
    print("timing the Python-API reader", file=sys.stderr, flush=True)
    result["python-api"] = _best(repeat, lambda: walker.walk(layout, "python-api"))
    try:
        walker.walk(layout, "direct")
    except RuntimeError as error:
        result["direct_unavailable"] = str(error)
        return result
    print("checking that both readers give the same answers", file=sys.stderr, flush=True)
    if walker.answers(layout, "direct") != walker.answers(layout, "python-api"):
        sys.exit("the readers' answers differ: no timing of a reader that is wrong")
    print("timing the direct reader", file=sys.stderr, flush=True)
    result["direct"] = _best(repeat, lambda: walker.walk(layout, "direct"))
    return result


def table(r: dict) -> str:
    rows = [
        "| reader | seconds | µs/shape | µs/point | shapes | points | ratio to python-api |",
        "|---|---|---|---|---|---|---|",
    ]
    base = r["python-api"]["seconds"]
    for name in ("python-api", "direct"):
        if name not in r:
            continue
        m = r[name]
        rows.append(
            f"| {name} | {m['seconds']:.3f} | {m['seconds'] / m['shapes'] * 1e6:.3f} | "
            f"{m['seconds'] / m['points'] * 1e6:.4f} | {m['shapes']:,} | {m['points']:,} | "
            f"{m['seconds'] / base:.3f} |"
        )
    return "\n".join(rows)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--polygons", default="100k")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()
    result = measure(_count(args.polygons), args.seed, args.repeat)
    RESULTS.mkdir(parents=True, exist_ok=True)
    target = RESULTS / "bench_layout_reader.json"
    target.write_text(json.dumps(result, indent=2))
    print(table(result))
    if "direct_unavailable" in result:
        print(f"\ndirect reader not timed: {result['direct_unavailable']}")
    else:
        speedup = result["python-api"]["seconds"] / result["direct"]["seconds"]
        print(
            f"\ndirect is {speedup:.1f}x faster; KLayout read the GDS file in "
            f"{result['read_gds_s']:.3f} s; numbers in {target}"
        )


if __name__ == "__main__":
    main()
