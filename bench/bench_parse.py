"""Benchmark of the 3D scene parser and conversion on large generated layouts.

For each size (10k and 100k polygons; 1M with --large) it reports, per polygon:
  * floor: KLayout reading the GDS file plus a minimal Python loop over every shape's hull points;
  * parse: reading the file plus ParseGDS and export_cells(combine=False), simplification off and
    on, and its ratio to the floor (target: at most 1.5 with simplification off at 100k);
  * export and conversion in both groupings (export_cells / export_layers with combination, then
    to_viewer), per polygon and per placement (a placement is one matrix of the scene);
  * peak memory of parse, export and conversion, relative to the polygon pool's bytes as float32.

Every size runs in a fresh process, so that peak memory is the stage's own. The table goes to
stdout, the numbers to bench/results/bench_parse.json.

    python bench/bench_parse.py [--large] [--sizes 10k,100k] [--repeat 3]
"""

from __future__ import annotations

import argparse
import gc
import json
import resource
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
RESULTS = HERE / "results"
sys.path.insert(0, str(HERE))


def _size(text: str) -> int:
    text = text.strip().lower()
    factor = {"k": 1_000, "m": 1_000_000}.get(text[-1], 1)
    return int(float(text.rstrip("km")) * factor)


def _label(size: int) -> str:
    return f"{size // 1_000_000}M" if size >= 1_000_000 else f"{size // 1000}k"


def _rss_mib() -> float:
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


def _pdk_layers():
    from layout_generator import LAYERS

    from tarnwick.core.depthview import PdkLayer

    return {spec: PdkLayer(f"L{spec[0]}", 0.2, 0.3 * i, "#808080") for i, spec in enumerate(LAYERS)}


def _read(path: Path):
    from klayout import db

    layout = db.Layout()
    layout.read(str(path))
    return layout


def _best(repeat: int, run) -> float:
    best = float("inf")
    for _ in range(repeat):
        gc.collect()
        start = time.perf_counter()
        run()
        best = min(best, time.perf_counter() - start)
    return best


def _floor(path: Path) -> float:
    layout = _read(path)
    indices = list(layout.layer_indices())
    for cell in layout.each_cell():
        for index in indices:
            for shape in cell.shapes(index).each():
                polygon = shape.polygon
                if polygon is not None:
                    for _ in polygon.each_point_hull():
                        pass


def _count_scene(scene) -> tuple[int, int]:
    """(parts, placements) of a scene tree: placements are matrices, own shapes count once."""
    parts = placements = 0
    stack = [scene]
    while stack:
        node = stack.pop()
        shape = getattr(node, "shape", None)
        if shape is not None:
            parts += 1
            placements += max(1, shape.matrices.size // 6)
        else:
            stack.extend(node.parts)
    return parts, placements


def worker(path: Path, repeat: int) -> dict:
    """All measurements of one layout, in this (fresh) process."""
    from tarnwick.core.depthview import Output, ParseGDS

    layers = _pdk_layers()
    result: dict = {}
    # Timings: best of `repeat`.
    result["floor_s"] = _best(repeat, lambda: _floor(path))
    result["read_s"] = _best(repeat, lambda: _read(path))
    # Both include reading the file, as the floor does.
    for label, tolerance in (("parse_s", None), ("parse_simplified_s", 0.01)):
        result[label] = _best(
            repeat,
            lambda: ParseGDS(_read(path), layers, curve_tolerance=tolerance).export_cells(
                combine=False
            ),
        )
    layout = _read(path)
    parser = ParseGDS(layout, layers, curve_tolerance=None)
    parser.export_cells(combine=False)
    result["polygons"] = len(parser.instances)
    result["points"] = sum(len(p) for p in parser.instances)
    for output, name in ((Output.CELL, "cell"), (Output.LAYER, "layer")):

        def export(output=output):
            parser.cell_combined = parser.layer_combined = False
            parser.parsed_cells = None
            if output is Output.CELL:
                parser.export_cells(combine=True)
            else:
                parser.export_layers(combine=True)

        result[f"export_{name}_s"] = _best(repeat, export)
        export()
        scene = parser.to_viewer(output)
        result[f"convert_{name}_s"] = _best(repeat, lambda output=output: parser.to_viewer(output))
        result[f"parts_{name}"], result[f"placements_{name}"] = _count_scene(scene)
        del scene

    # Peak memory, stage by stage, in a process that has done nothing else yet is not possible
    # after the timings above; the caller runs a separate process for it (see memory_worker).
    return result


def memory_worker(path: Path) -> dict:
    from tarnwick.core.depthview import Output, ParseGDS

    layers = _pdk_layers()
    layout = _read(path)
    gc.collect()
    base = _rss_mib()
    parser = ParseGDS(layout, layers, curve_tolerance=None)
    parser.export_cells(combine=False)
    after_parse = _rss_mib()
    points = sum(len(p) for p in parser.instances)
    parser.export_cells(combine=True)
    after_export = _rss_mib()
    scene = parser.to_viewer(Output.CELL)
    after_convert = _rss_mib()
    del scene
    pool_mib = points * 2 * 4 / 2**20
    return {
        "pool_float32_mib": pool_mib,
        "parse_peak_mib": after_parse - base,
        "export_peak_mib": after_export - base,
        "convert_peak_mib": after_convert - base,
    }


def run_size(size: int, seed: int, repeat: int) -> dict:
    from layout_generator import generate_gds

    path = RESULTS / f"parse_{_label(size)}_{seed}.gds"
    if not path.is_file():
        generate_gds(size, path, seed)
    result = {"size": size, "file": path.name}
    for mode in ("time", "memory"):
        out = subprocess.run(
            [sys.executable, __file__, "--worker", mode, str(path), "--repeat", str(repeat)],
            check=True,
            capture_output=True,
            text=True,
        )
        result.update(json.loads(out.stdout))
    return result


def table(results: list[dict]) -> str:
    rows = [
        "| polygons | floor µs/poly | parse µs/poly | ratio | simplified µs/poly | ratio | "
        "export cell/layer µs/poly | convert cell/layer µs/poly | convert µs/placement "
        "cell/layer | peak parse/export/convert ÷ pool |",
        "|---|---|---|---|---|---|---|---|---|---|",
    ]
    for r in results:
        n = r["polygons"]
        us = lambda key: r[key] / n * 1e6
        floor = r["floor_s"]
        rows.append(
            f"| {_label(r['size'])} | {us('floor_s'):.2f} | {us('parse_s'):.2f} | "
            f"{r['parse_s'] / floor:.2f} | {us('parse_simplified_s'):.2f} | "
            f"{r['parse_simplified_s'] / floor:.2f} | "
            f"{us('export_cell_s'):.2f} / {us('export_layer_s'):.2f} | "
            f"{us('convert_cell_s'):.2f} / {us('convert_layer_s'):.2f} | "
            f"{r['convert_cell_s'] / r['placements_cell'] * 1e6:.2f} / "
            f"{r['convert_layer_s'] / r['placements_layer'] * 1e6:.2f} | "
            f"{r['parse_peak_mib'] / r['pool_float32_mib']:.1f} / "
            f"{r['export_peak_mib'] / r['pool_float32_mib']:.1f} / "
            f"{r['convert_peak_mib'] / r['pool_float32_mib']:.1f} |"
        )
    return "\n".join(rows)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sizes", default="10k,100k")
    parser.add_argument("--large", action="store_true", help="also run the 1M-polygon layout")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--worker", nargs=2, metavar=("MODE", "GDS"), help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.worker:
        mode, path = args.worker
        data = worker(Path(path), args.repeat) if mode == "time" else memory_worker(Path(path))
        print(json.dumps(data))
        return
    sizes = [_size(s) for s in args.sizes.split(",")]
    if args.large and 1_000_000 not in sizes:
        sizes.append(1_000_000)
    # The 1M layout is timed once: three repeats would take minutes.
    results = [run_size(size, args.seed, 1 if size >= 1_000_000 else args.repeat) for size in sizes]
    RESULTS.mkdir(parents=True, exist_ok=True)
    (RESULTS / "bench_parse.json").write_text(json.dumps(results, indent=2))
    print(table(results))
    print(
        f"\nratio: (read + parse) / (read + minimal hull loop); numbers in "
        f"{RESULTS / 'bench_parse.json'}"
    )


if __name__ == "__main__":
    main()
