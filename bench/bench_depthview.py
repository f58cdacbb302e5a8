"""End-to-end benchmark of depthview on large layouts: the native path against the Python-object
(reference) path, simplification off and on.

For each size (default 100k distinct polygons; 1M with --large) it measures, each in a fresh
process:

- the parse floor: KLayout reading the GDS file plus a minimal loop that walks every shape's hull
  points through KLayout's Python API;
- depthview end to end (GDS path in, one viewer message out) by layer, through the native path
  (``depthview``) and through the reference path (``_depthview_reference``: records, asdict,
  numpy_to_buffer_json, the host's JSON writer), with simplification off (``curve_tolerance=None``)
  and on (the default 0.01); by cell for the native path;
- the stages of each (read, parse, convert, encode, from ``_depthview_timed``) with the scene's
  counts and the path that wrote the message;
- peak memory (maximum resident set) of each run, and relative to the float32 polygon pool;
- base64 encoding speed of numpy_to_buffer_json on one large array.

It prints markdown tables and writes the numbers to bench/results/depthview.json.

    .venv/bin/python bench/bench_depthview.py                  # 100k
    .venv/bin/python bench/bench_depthview.py --large          # 100k and 1M
    .venv/bin/python bench/bench_depthview.py --sizes 10k 100k --repeat 3

The layouts come from the seeded generator in bench/ when there is one (a module with a
``generate_gds(polygons, path, seed)`` or ``make_layout(polygons, seed)`` function); otherwise
from the fallback generator below: a four-level hierarchy of arrays, rotations and mirrors with
boxes, L-shapes, paths and curved polygons on the demo PDK's layers.
"""

from __future__ import annotations

import argparse
import importlib
import json
import math
import random
import resource
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
RESULTS = HERE / "results"

# Demo PDK layers that have heights and colours: WG, M1, M2, HEATER, VIA.
LAYERS = [(1, 0), (41, 0), (45, 0), (47, 0), (44, 0)]


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


# --- layouts ---------------------------------------------------------------------------------


def _shared_generator():
    """The seeded generator of the parse benchmark, when it exists."""
    sys.path.insert(0, str(HERE))
    for name in ("layouts", "layout_generator", "generate_layouts", "bench_layouts", "gen_layout"):
        try:
            module = importlib.import_module(name)
        except ModuleNotFoundError:
            continue
        for function in ("generate_gds", "make_layout", "generate"):
            if hasattr(module, function):
                return name, getattr(module, function)
    return None


def _fallback_layout(polygons: int, seed: int):
    """A layout with `polygons` distinct polygons (shapes stored once in their cells)."""
    import klayout.db as kdb

    rng = random.Random(seed)
    layout = kdb.Layout()
    layout.dbu = 0.001
    layers = [layout.layer(layer, datatype) for layer, datatype in LAYERS]
    per_leaf = 500
    leaves = []
    made = 0
    while made < polygons:
        cell = layout.create_cell(f"leaf{len(leaves)}")
        count = min(per_leaf, polygons - made)
        for _ in range(count):
            layer = rng.choice(layers)
            x, y = rng.randrange(0, 200_000), rng.randrange(0, 200_000)
            kind = rng.random()
            if kind < 0.6:
                w, h = rng.randrange(200, 5000), rng.randrange(200, 5000)
                cell.shapes(layer).insert(kdb.Box(x, y, x + w, y + h))
            elif kind < 0.8:
                w, h, t = rng.randrange(1000, 6000), rng.randrange(1000, 6000), 400
                points = [(0, 0), (w, 0), (w, t), (t, t), (t, h), (0, h)]
                cell.shapes(layer).insert(
                    kdb.Polygon([kdb.Point(x + px, y + py) for px, py in points])
                )
            elif kind < 0.9:
                points = [kdb.Point(x + 800 * k, y + rng.randrange(-600, 600)) for k in range(6)]
                cell.shapes(layer).insert(kdb.Path(points, 300))
            else:
                # A curved shape: a ring segment outline with 48 points.
                radius, width = rng.randrange(2000, 8000), 500
                outer = [
                    kdb.Point(x + round(radius * math.cos(a)), y + round(radius * math.sin(a)))
                    for a in (k * math.pi / 46 for k in range(24))
                ]
                inner = [
                    kdb.Point(
                        x + round((radius - width) * math.cos(a)),
                        y + round((radius - width) * math.sin(a)),
                    )
                    for a in (k * math.pi / 46 for k in reversed(range(24)))
                ]
                cell.shapes(layer).insert(kdb.Polygon(outer + inner))
        leaves.append(cell)
        made += count
    # Levels 2 to 4: groups of leaves, arrays, rotations and mirrors.
    mids = []
    for g in range(0, len(leaves), 4):
        mid = layout.create_cell(f"mid{len(mids)}")
        for k, leaf in enumerate(leaves[g : g + 4]):
            trans = kdb.Trans(k % 4, k % 2 == 1, kdb.Vector(250_000 * k, 0))
            if k % 2 == 0:
                mid.insert(kdb.CellInstArray(leaf.cell_index(), trans))
            else:
                mid.insert(
                    kdb.CellInstArray(
                        leaf.cell_index(),
                        trans,
                        kdb.Vector(0, 220_000),
                        kdb.Vector(220_000, 0),
                        2,
                        1,
                    )
                )
        mids.append(mid)
    blocks = []
    for g in range(0, len(mids), 5):
        block = layout.create_cell(f"block{len(blocks)}")
        for k, mid in enumerate(mids[g : g + 5]):
            block.insert(
                kdb.CellInstArray(mid.cell_index(), kdb.Trans(2 * (k % 2), False, 0, 600_000 * k))
            )
        blocks.append(block)
    top = layout.create_cell("TOP")
    side = max(1, math.isqrt(len(blocks)))
    for k, block in enumerate(blocks):
        x, y = (k % side) * 4_000_000, (k // side) * 4_000_000
        top.insert(kdb.CellInstArray(block.cell_index(), kdb.Trans(k % 4, k % 3 == 0, x, y)))
    return layout


def layout_file(polygons: int, seed: int) -> tuple[Path, str]:
    """The GDS file of the benchmark layout of `polygons` polygons (made once, then reused)."""
    RESULTS.mkdir(parents=True, exist_ok=True)
    shared = _shared_generator()
    source = shared[0] if shared else "fallback"
    path = RESULTS / f"depthview_{source}_{_label(polygons)}_{seed}.gds"
    if path.is_file():
        return path, source
    if shared and shared[1].__name__ == "generate_gds":
        shared[1](polygons, path, seed)
    else:
        layout = shared[1](polygons, seed) if shared else _fallback_layout(polygons, seed)
        layout.write(str(path))
    return path, source


# --- measurements, each run in a fresh process -------------------------------------------------


def _rss_mib() -> float:
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


def _tolerance(text: str) -> float | None:
    return None if text == "none" else float(text)


def _worker(kind: str, path: str, by: str, tolerance: str = "none", path_kind: str = "native") -> dict:
    import klayout.db as kdb

    from tarnwick.core import communication, depthview

    baseline = _rss_mib()
    output = depthview.Output.LAYER if by == "layer" else depthview.Output.CELL
    result: dict = {"kind": kind, "by": by, "curve_tolerance": tolerance, "path": path_kind}
    if kind == "floor":
        begin = time.perf_counter()
        layout = kdb.Layout()
        layout.read(path)
        read = time.perf_counter() - begin
        shapes = points = 0
        for cell in layout.each_cell():
            for index in layout.layer_indices():
                for shape in cell.shapes(index).each():
                    if shape.is_text():
                        continue
                    shapes += 1
                    for _ in shape.polygon.each_point_hull():
                        points += 1
        result.update(seconds=time.perf_counter() - begin, read=read, shapes=shapes, points=points)
    elif kind == "depthview":
        import brenvik

        brenvik.get_layer_stack()  # import the library before timing, as a running host has it
        run = depthview.depthview if path_kind == "native" else depthview._depthview_reference
        begin = time.perf_counter()
        run(path, output, curve_tolerance=_tolerance(tolerance))
        result["seconds"] = time.perf_counter() - begin
        (message,) = communication.messages()
        result["bytes"] = len(message.content.encode())
    elif kind == "stages":
        import brenvik

        brenvik.get_layer_stack()
        begin = time.perf_counter()
        report = depthview._depthview_timed(
            path, output, curve_tolerance=_tolerance(tolerance), native=path_kind == "native"
        )
        result["seconds"] = time.perf_counter() - begin
        result["stages"] = dict(report["seconds"])
        result["counts"] = dict(report["counts"])
        result["written_by"] = report["path"]
    result["peak_rss_mib"] = _rss_mib()
    result["baseline_rss_mib"] = baseline
    return result


def measure(kind: str, path: Path, by: str = "layer", tolerance: str = "none",
            path_kind: str = "native") -> dict:
    completed = subprocess.run(
        [sys.executable, __file__, "--worker", kind, str(path), by, tolerance, path_kind],
        capture_output=True,
        text=True,
        check=False,
    )
    if completed.returncode != 0:
        raise RuntimeError(f"{kind} on {path.name} failed:\n{completed.stderr[-3000:]}")
    return json.loads(completed.stdout.strip().splitlines()[-1])


def base64_speed() -> dict:
    import numpy as np

    from tarnwick.core.depthview import numpy_to_buffer_json

    array = np.random.default_rng(0).random(64 * 1024 * 1024 // 4, dtype=np.float32)
    numpy_to_buffer_json({"a": array})
    best = math.inf
    for _ in range(5):
        begin = time.perf_counter()
        numpy_to_buffer_json({"a": array})
        best = min(best, time.perf_counter() - begin)
    # The scene's case: many small arrays (a polygon pool of 100k polygons of 16 floats).
    pool = [array[k * 16 : (k + 1) * 16].copy() for k in range(100_000)]
    small = math.inf
    for _ in range(5):
        begin = time.perf_counter()
        numpy_to_buffer_json({"instances": pool})
        small = min(small, time.perf_counter() - begin)
    return {
        "bytes": array.nbytes,
        "seconds": best,
        "gb_per_s": array.nbytes / best / 1e9,
        "pool_arrays": len(pool),
        "pool_seconds": small,
        "pool_us_per_array": 1e6 * small / len(pool),
    }


def best_of(repeat: int, kind: str, path: Path, by: str = "layer", tolerance: str = "none",
            path_kind: str = "native") -> dict:
    runs = [measure(kind, path, by, tolerance, path_kind) for _ in range(repeat)]
    return min(runs, key=lambda r: r["seconds"])


# (path, curve_tolerance) of the runs, in table order
RUNS = [("native", "none"), ("reference", "none"), ("native", "0.01"), ("reference", "0.01")]


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sizes", nargs="+", type=_size, default=None)
    parser.add_argument("--large", action="store_true", help="also the 1M polygon layout")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--repeat", type=int, default=1, help="runs per measurement (best kept)")
    parser.add_argument("--worker", nargs=5, help=argparse.SUPPRESS)
    args = parser.parse_args(argv)
    if args.worker:
        print(json.dumps(_worker(*args.worker)))
        return 0
    sizes = args.sizes or ([100_000, 1_000_000] if args.large else [100_000])

    results = {"sizes": {}, "base64": base64_speed()}
    rows = []
    for size in sizes:
        path, source = layout_file(size, args.seed)
        print(f"== {_label(size)} polygons ({source} generator, {path.name})", file=sys.stderr)
        floor = best_of(args.repeat, "floor", path)
        entry: dict = {"generator": source, "file": path.name, "floor": floor, "runs": {}}
        for path_kind, tolerance in RUNS:
            print(f"   {path_kind}, curve_tolerance={tolerance}", file=sys.stderr)
            key = f"{path_kind}_{tolerance}"
            run = {
                "layer": best_of(args.repeat, "depthview", path, "layer", tolerance, path_kind),
                "stages": best_of(args.repeat, "stages", path, "layer", tolerance, path_kind),
            }
            if path_kind == "native":
                run["cell"] = best_of(args.repeat, "depthview", path, "cell", tolerance, path_kind)
            run["ratio_layer"] = run["layer"]["seconds"] / floor["seconds"]
            entry["runs"][key] = run
        results["sizes"][_label(size)] = entry
        rows.append((size, entry))

    print("\n### depthview end to end by layer (GDS file in, one viewer message out)\n")
    print(
        "| layout | path | curve_tolerance | floor s | depthview s | µs/polygon | ratio to floor "
        "| by cell s | message bytes/polygon | peak RSS MiB | peak / float32 pool |"
    )
    print("|---|---|---|---:|---:|---:|---:|---:|---:|---:|---:|")
    for size, e in rows:
        for path_kind, tolerance in RUNS:
            run = e["runs"][f"{path_kind}_{tolerance}"]
            layer = run["layer"]
            counts = run["stages"]["counts"]
            polygons = counts["polygons"]
            pool_mib = e["floor"]["points"] * 8 / 2**20  # float32 x and y per hull point
            cell = f"{run['cell']['seconds']:.2f}" if "cell" in run else "–"
            peak = layer["peak_rss_mib"] - layer["baseline_rss_mib"]
            print(
                f"| {_label(size)} | {path_kind} | {tolerance} | {e['floor']['seconds']:.2f} | "
                f"{layer['seconds']:.2f} | {1e6 * layer['seconds'] / polygons:.1f} | "
                f"{run['ratio_layer']:.2f} | {cell} | {layer['bytes'] / polygons:.0f} | "
                f"{layer['peak_rss_mib']:.0f} | {peak / pool_mib:.1f} |"
            )
    print("\n### stages of depthview by layer (seconds)\n")
    print(
        "| layout | path | curve_tolerance | written by | read | parse | convert | encode | total "
        "| placements | placed polygons |"
    )
    print("|---|---|---|---|---:|---:|---:|---:|---:|---:|---:|")
    for size, e in rows:
        for path_kind, tolerance in RUNS:
            stages = e["runs"][f"{path_kind}_{tolerance}"]["stages"]
            s, c = stages["stages"], stages["counts"]
            print(
                f"| {_label(size)} | {path_kind} | {tolerance} | {stages['written_by']} | "
                f"{s['read']:.2f} | {s['parse']:.2f} | {s['convert']:.2f} | {s['encode']:.2f} | "
                f"{sum(s.values()):.2f} | {c['placements']:,} | {c['placed_polygons']:,} |"
            )
    b = results["base64"]
    print(
        f"\nbase64 of a {b['bytes'] / 2**20:.0f} MiB float32 array (output freshly allocated): "
        f"{b['gb_per_s']:.2f} GB/s; a pool of {b['pool_arrays']:,} arrays of 16 floats: "
        f"{b['pool_us_per_array']:.2f} µs per array"
    )
    print(
        "\npeak / float32 pool: peak resident memory above the process's baseline after imports, "
        "over the bytes of every hull point as two float32 values."
    )
    RESULTS.mkdir(parents=True, exist_ok=True)
    (RESULTS / "depthview.json").write_text(json.dumps(results, indent=2))
    print(f"\nwritten: {RESULTS / 'depthview.json'}", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
