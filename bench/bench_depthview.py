"""depthview end to end on large layouts, against the native floor of the work it has to do.

The native floor is what KLayout itself needs for the file handling the conversion asks for:
reading the GDS file, writing the layout to a temporary GDS file and reading that file again,
measured on the same file in the same process, just before the conversion. Each measurement
runs in a fresh process:

- time: the floor, then depthview (GDS path in, one viewer message out), by layer and by cell,
  with simplification off (curve_tolerance None) and on (the default 0.01), with its stages
  (read, parse, convert, encode) from depthview's report hook and the layout reader it used;
- the same by layer through the component route, which a file took before it was read once
  (imported as a component, its derived layers computed, written to a temporary GDS file and
  read again), measured in the same run for the ratio beside it;
- memory: depthview alone, its peak resident memory above the process's baseline (with the
  libraries a host has loaded), over the float32 bytes of every hull point (two float32 values
  per point);
- with --baseline PYTHON, the same time measurement through another installation (for example a
  build of an earlier commit), whose ratio to its own floor is shown beside this one's.

Each time measurement runs --repeat times (3 by default); the run with the lowest ratio to its own
floor is kept, which takes out most of a shared machine's noise.

It prints markdown tables and writes the numbers to bench/results/depthview.json.

    .venv/bin/python bench/bench_depthview.py                 # 100k polygons
    .venv/bin/python bench/bench_depthview.py --large         # 100k and 1M
    .venv/bin/python bench/bench_depthview.py --baseline /path/to/other/.venv/bin/python
"""

from __future__ import annotations

import argparse
import json
import resource
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
RESULTS = HERE / "results"
TOLERANCES = ("none", "0.01")


def _size(text: str) -> int:
    text = text.lower().replace("_", "")
    factor = 1
    if text.endswith("k"):
        factor, text = 1_000, text[:-1]
    elif text.endswith("m"):
        factor, text = 1_000_000, text[:-1]
    return int(float(text) * factor)


def _label(size: int) -> str:
    return f"{size // 1_000_000}M" if size % 1_000_000 == 0 else f"{size // 1000}k"


def layout_file(polygons: int, seed: int) -> Path:
    """The GDS file of the generated layout of `polygons` distinct polygons (made once)."""
    sys.path.insert(0, str(HERE))
    import layout_generator

    RESULTS.mkdir(parents=True, exist_ok=True)
    path = RESULTS / f"depthview_layout_generator_{_label(polygons)}_{seed}.gds"
    if not path.is_file():
        layout_generator.generate_gds(polygons, path, seed)
    return path


# --- workers, each in a fresh process -----------------------------------------------------------


def _rss_mib() -> float:
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


def _native_floor(path: str) -> dict:
    import klayout.db as kdb

    begin = time.perf_counter()
    layout = kdb.Layout()
    layout.read(path)
    read = time.perf_counter()
    with tempfile.TemporaryDirectory() as folder:
        copy = str(Path(folder) / "copy.gds")
        layout.write(copy)
        written = time.perf_counter()
        again = kdb.Layout()
        again.read(copy)
        end = time.perf_counter()
    return {
        "seconds": end - begin,
        "read": read - begin,
        "write": written - read,
        "read_again": end - written,
    }


def _run_depthview(path: str, by: str, tolerance: str, route: str = "file") -> dict:
    """depthview through this installation: total seconds, stages, counts, reader. `route`
    "component" takes the component route for the file (where this build still has it)."""
    from tarnwick.core import communication, depthview

    if route == "component":
        depthview._read_file_through_component = True
    output = depthview.Output.LAYER if by == "layer" else depthview.Output.CELL
    curve_tolerance = None if tolerance == "none" else float(tolerance)
    communication.clear_messages()
    begin = time.perf_counter()
    if hasattr(depthview, "_depthview_timed"):  # an earlier build: its private timing entry
        report = depthview._depthview_timed(path, output, curve_tolerance=curve_tolerance)
        final = {"seconds": report["seconds"], "counts": report["counts"], "reader": "python-api"}
    else:
        events: list = []
        depthview.depthview(path, output, curve_tolerance=curve_tolerance, report=events.append)
        final = events[-1]
    seconds = time.perf_counter() - begin
    (message,) = communication.messages()[-1:]
    return {
        "seconds": seconds,
        "stages": dict(final["seconds"]),
        "counts": dict(final["counts"]),
        "reader": final["reader"],
        # The report counts the bytes; an earlier build's report may not.
        "bytes": final["counts"].get("bytes") or len(message.content.encode()),
    }


def _load_what_a_host_has_loaded() -> None:
    """The library, KLayout, the message models and channel, the JSON writer and the optional
    direct KLayout reader: a running host has them loaded, so neither their loading time nor
    their memory is the conversion's."""
    import brenvik
    import klayout.db  # noqa: F401
    import numpy  # noqa: F401
    import orjson  # noqa: F401
    import tarnwick.core.communication
    import tarnwick.models

    from tarnwick.core import depthview  # noqa: F401

    brenvik.get_layer_stack()
    try:
        import tarnwick.core._klayout_direct  # noqa: F401
    except ImportError:
        pass


def _worker(kind: str, path: str, by: str, tolerance: str) -> dict:
    _load_what_a_host_has_loaded()
    baseline = _rss_mib()
    if kind in ("time", "time_component"):
        floor = _native_floor(path)
        run = _run_depthview(path, by, tolerance, "component" if kind != "time" else "file")
        return {"floor": floor, **run, "ratio": run["seconds"] / floor["seconds"]}
    run = _run_depthview(path, by, tolerance)
    peak = _rss_mib()
    import klayout.db as kdb

    layout = kdb.Layout()
    layout.read(path)
    points = sum(
        shape.polygon.num_points_hull()
        for cell in layout.each_cell()
        for index in layout.layer_indices()
        for shape in cell.shapes(index).each()
        if not shape.is_text() and shape.polygon is not None
    )
    return {**run, "peak_mib": peak - baseline, "pool_mib": points * 8 / 2**20}


def measure(python: str, kind: str, path: Path, by: str, tolerance: str) -> dict:
    completed = subprocess.run(
        [python, __file__, "--worker", kind, str(path), by, tolerance],
        capture_output=True,
        text=True,
        check=False,
    )
    if completed.returncode != 0:
        raise RuntimeError(f"{kind} on {path.name} failed:\n{completed.stderr[-3000:]}")
    return json.loads(completed.stdout.strip().splitlines()[-1])


def best(repeat: int, python: str, path: Path, by: str, tolerance: str, kind="time") -> dict:
    """The time measurement with the lowest ratio to its floor among `repeat` runs."""
    runs = [measure(python, kind, path, by, tolerance) for _ in range(max(1, repeat))]
    return min(runs, key=lambda run: run["ratio"])


# --- tables ------------------------------------------------------------------------------------


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sizes", nargs="+", type=_size, default=None)
    parser.add_argument("--large", action="store_true", help="also the 1M polygon layout")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--baseline", help="the Python of another installation to compare with")
    parser.add_argument(
        "--repeat", type=int, default=3, help="time measurements per case; the best ratio is kept"
    )
    parser.add_argument("--worker", nargs=4, help=argparse.SUPPRESS)
    args = parser.parse_args(argv)
    if args.worker:
        print(json.dumps(_worker(*args.worker)))
        return 0
    sizes = args.sizes or ([100_000, 1_000_000] if args.large else [100_000])
    results: dict = {}
    for size in sizes:
        path = layout_file(size, args.seed)
        entry: dict = {"file": path.name}
        for tolerance in TOLERANCES:
            print(f"== {_label(size)}, curve_tolerance {tolerance}", file=sys.stderr)
            for by in ("layer", "cell"):
                entry[f"{by}_{tolerance}"] = best(args.repeat, sys.executable, path, by, tolerance)
            entry[f"component_{tolerance}"] = best(
                args.repeat, sys.executable, path, "layer", tolerance, "time_component"
            )
            entry[f"memory_{tolerance}"] = measure(
                sys.executable, "memory", path, "layer", tolerance
            )
            if args.baseline:
                entry[f"baseline_{tolerance}"] = measure(
                    args.baseline, "time", path, "layer", tolerance
                )
        results[_label(size)] = entry

    print("\n### depthview end to end against the native floor (KLayout read + write + read)\n")
    header = "| layout | curve_tolerance | native floor s | by layer s | ratio | by cell s | ratio "
    header += "| component route by layer / floor | peak MiB | peak / float32 pool | reader |"
    if args.baseline:
        header += " baseline ratio |"
    print(header)
    print("|" + "---|" * (header.count("|") - 1))
    for label, entry in results.items():
        for tolerance in TOLERANCES:
            layer, cell = entry[f"layer_{tolerance}"], entry[f"cell_{tolerance}"]
            memory = entry[f"memory_{tolerance}"]
            row = (
                f"| {label} | {tolerance} | {layer['floor']['seconds']:.2f} | "
                f"{layer['seconds']:.2f} | {layer['ratio']:.2f} | {cell['seconds']:.2f} | "
                f"{cell['ratio']:.2f} | {entry[f'component_{tolerance}']['ratio']:.2f} | "
                f"{memory['peak_mib']:.0f} | "
                f"{memory['peak_mib'] / memory['pool_mib']:.2f} | {layer['reader']} |"
            )
            if args.baseline:
                row += f" {entry[f'baseline_{tolerance}']['ratio']:.2f} |"
            print(row)
    print("\n### stages by layer (seconds) and the scene's counts\n")
    print(
        "| layout | curve_tolerance | floor: read, write, read | read | parse | convert | encode "
        "| polygons | placements | placed polygons | message bytes |"
    )
    print("|---|---|---|---:|---:|---:|---:|---:|---:|---:|---:|")
    for label, entry in results.items():
        for tolerance in TOLERANCES:
            run = entry[f"layer_{tolerance}"]
            s, c, f = run["stages"], run["counts"], run["floor"]
            print(
                f"| {label} | {tolerance} | {f['read']:.2f}, {f['write']:.2f}, "
                f"{f['read_again']:.2f} | {s.get('read', 0):.2f} | {s.get('parse', 0):.2f} | "
                f"{s.get('convert', 0):.2f} | {s.get('encode', 0):.2f} | {c['polygons']:,} | "
                f"{c['placements']:,} | {c['placed_polygons']:,} | {run['bytes']:,} |"
            )
    RESULTS.mkdir(parents=True, exist_ok=True)
    (RESULTS / "depthview.json").write_text(json.dumps(results, indent=2))
    print(f"\nwritten: {RESULTS / 'depthview.json'}", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
