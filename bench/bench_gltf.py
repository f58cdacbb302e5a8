"""glTF export beside the viewer message, on the generated benchmark layouts.

For each layout (100k distinct polygons; with --large also 1M), in fresh processes: the viewer
message (``scene_content``: GDS path in, message text out) and the glTF export (``export_gltf``:
GDS path in, a .glb file out, placements through EXT_mesh_gpu_instancing), both by layer with the
default simplification, each written to a file. Reported: seconds end to end and of the last
stage (the message's encoding and writing, the glTF file's making and writing), bytes, peak memory, and the export's ratios to the message. Each
case runs --repeat times and the fastest run is kept. The numbers also go to
bench/results/gltf.json.

    .venv/bin/python bench/bench_gltf.py            # 100k polygons
    .venv/bin/python bench/bench_gltf.py --large    # 100k and 1M
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
sys.path.insert(0, str(HERE))

from bench_depthview import _label, layout_file


def _worker(kind: str, path: str) -> dict:
    import brenvik  # noqa: F401  (a host has the library loaded)

    from tarnwick.core import depthview

    base = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    events: list = []
    begin = time.perf_counter()
    with tempfile.TemporaryDirectory() as folder:
        if kind == "message":
            from tarnwick.models import DepthviewMessage

            text = depthview.scene_content(path, depthview.Output.LAYER, report=events.append)
            written = time.perf_counter()
            DepthviewMessage(content=text).write(Path(folder) / "scene.json")
            write = time.perf_counter() - written
            size = len(text.encode())
        else:
            written = depthview.export_gltf(
                path, Path(folder) / "scene.glb", depthview.Output.LAYER, report=events.append
            )
            write, size = 0.0, written["bytes"]
        seconds = time.perf_counter() - begin
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - base
    final = events[-1]
    return {
        "seconds": seconds,
        "last_stage": final["seconds"].get("encode", 0.0) + write,
        "bytes": size,
        "peak_mib": peak / 1024,
        "counts": final["counts"],
    }


def measure(kind: str, path: Path, repeat: int) -> dict:
    runs = []
    for _ in range(repeat):
        done = subprocess.run(
            [sys.executable, __file__, "--worker", kind, str(path)],
            capture_output=True,
            text=True,
            check=True,
        )
        runs.append(json.loads(done.stdout.strip().splitlines()[-1]))
    return min(runs, key=lambda run: run["seconds"])


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--large", action="store_true", help="also the 1M polygon layout")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--worker", nargs=2, help=argparse.SUPPRESS)
    args = parser.parse_args(argv)
    if args.worker:
        print(json.dumps(_worker(*args.worker)))
        return 0
    sizes = [100_000, 1_000_000] if args.large else [100_000]
    rows, results = [], {}
    for size in sizes:
        path = layout_file(size, args.seed)
        repeat = args.repeat if size < 1_000_000 else 1
        message, gltf = measure("message", path, repeat), measure("glb", path, repeat)
        results[_label(size)] = {"message": message, "glb": gltf}
        counts = gltf["counts"]
        rows.append(
            f"| {_label(size)} / {counts['placed_polygons'] / 1e6:.2f}M | "
            f"{message['seconds']:.2f} | {gltf['seconds']:.2f} | "
            f"{gltf['seconds'] / message['seconds']:.2f} | "
            f"{gltf['last_stage'] / max(message['last_stage'], 1e-9):.1f} | "
            f"{message['bytes'] / 2**20:.1f} | {gltf['bytes'] / 2**20:.1f} | "
            f"{gltf['bytes'] / message['bytes']:.2f} | "
            f"{gltf['peak_mib'] / max(message['peak_mib'], 1e-9):.2f} |"
        )
    print(
        "| layout (distinct / placed polygons) | message s | glb s | glb / message time "
        "| glb write / message encode and write | message MiB | glb MiB | glb / message size "
        "| glb / message peak memory |"
    )
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|")
    print("\n".join(rows))
    RESULTS.mkdir(parents=True, exist_ok=True)
    (RESULTS / "gltf.json").write_text(json.dumps(results, indent=2))
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
