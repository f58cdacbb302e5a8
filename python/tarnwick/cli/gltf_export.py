"""``tarnwick view --format glb|gltf``: the scene written as a glTF 2.0 model instead of the
viewer message and its page."""

from __future__ import annotations

import argparse
import time
from pathlib import Path

from tarnwick.cli.arguments import scene_options_text
from tarnwick.cli.failures import UsageError, shown
from tarnwick.cli.progress import STAGES, StageProgress

_SUFFIXES = {".glb": "glb", ".gltf": "gltf"}


def export_format(args: argparse.Namespace) -> str:
    """The format asked for ("json", "glb" or "gltf"); `UsageError` when the options do not fit
    together."""
    suffix = args.output.suffix.lower() if args.output else ""
    chosen = args.format or _SUFFIXES.get(suffix, "json")
    problem = None
    if chosen != "json" and args.output and suffix != f".{chosen}":
        problem = f"--format {chosen} writes a .{chosen} file, not {args.output}"
    elif chosen != "json" and args.serve:
        problem = "--serve sends the viewer message: it writes no glTF file"
    elif chosen == "json" and args.no_instancing:
        problem = "--no-instancing is for glTF files (--format glb or gltf)"
    if problem:
        raise UsageError(problem)
    return chosen


def run_export(
    args, component, name: str, source: str, output, file_format: str, seconds, technology
) -> int:
    from tarnwick.core import depthview
    from tarnwick.files import check_writable
    from tarnwick.sizes import format_size
    from tarnwick.technology import scene_layers

    path: Path = args.output or Path("out") / f"{name}.{file_format}"
    check_writable(path)  # a bad place fails now, not after the conversion
    print(
        f"tarnwick view: {shown(source)} as glTF ({file_format}), "
        f"{scene_options_text(args, technology)}"
        + (", one node per placement" if args.no_instancing else ""),
        flush=True,
    )

    class Progress(StageProgress):
        def __call__(self, event: dict) -> None:
            if event["stage"] == "encode":
                event = {**event, "stage": "making and writing the glTF file"}
            super().__call__(event)

    progress = Progress()
    begin = time.perf_counter()
    layer_stack, layer_views = (None, None)
    if technology is not None:
        layer_stack, layer_views = scene_layers(technology, component)
    written = depthview.export_gltf(
        component,
        path,
        output,
        layer_views,
        layer_stack,
        z_scale=args.z_scale,
        curve_tolerance=args.curve_tolerance,
        exclude_layers=args.exclude,
        instancing=not args.no_instancing,
        report=progress,
        **({"cell": args.cell} if args.cell is not None else {}),
    )
    seconds.update(progress.final.get("seconds", {}))
    total = time.perf_counter() - begin
    print("  stage        seconds")
    for stage in ("component", *STAGES):
        if stage in seconds:
            print(f"  {stage:<10} {seconds[stage]:9.3f}")
    print(f"  {'total':<10} {seconds.get('component', 0.0) + total:9.3f}")
    counts = progress.final.get("counts", {})
    print(
        f"  polygons: {counts.get('polygons', 0):,} distinct; meshes: {written['meshes']:,}; "
        f"placements: {written['placements']:,}; triangles drawn: {written['triangles']:,}"
    )
    print(f"wrote {shown(path)} ({format_size(written['bytes'])})")
    return 0
