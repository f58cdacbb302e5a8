"""``tarnwick view``: show a PDK cell or a GDS file in 3D.

Runs ``depthview`` on the component, writes the viewer message content as a JSON file and, beside
it, a self-contained HTML page that shows the scene offline, and reports the time of each stage
and the scene's counts.
"""

from __future__ import annotations

import argparse
import os
import time
from pathlib import Path

from tarnwick.cli.arguments import (
    add_cell_option,
    add_scene_options,
    is_layout_path,
    scene_options_text,
)
from tarnwick.cli.failures import Failed, UsageError, shown
from tarnwick.cli.progress import STAGES, StageProgress
from tarnwick.cli.tech import add_technology_options
from tarnwick.sizes import format_size


def add_parser(subparsers) -> argparse.ArgumentParser:
    parser = subparsers.add_parser(
        "view",
        help="show a PDK cell or GDS file in 3D (writes a JSON scene and an HTML page)",
        description=__doc__.splitlines()[0],
    )
    parser.add_argument(
        "target",
        nargs="?",
        default="demo_chip",
        metavar="NAME_OR_GDS",
        help="a cell of the active PDK or a GDS file (default: demo_chip)",
    )
    add_scene_options(parser)
    add_technology_options(parser)
    add_cell_option(parser)
    parser.add_argument(
        "-o",
        "--output",
        type=Path,
        default=None,
        metavar="FILE",
        help="the JSON file to write (default: out/NAME.json); the page goes beside it as .html",
    )
    parser.add_argument(
        "--format",
        choices=("json", "glb", "gltf"),
        default=None,
        help="json: the viewer message and its HTML page (the default); glb or gltf: a glTF 2.0 "
        "3D model instead (taken from the suffix of -o when it is .glb or .gltf)",
    )
    parser.add_argument(
        "--no-instancing",
        action="store_true",
        help="glTF: one node per placement instead of EXT_mesh_gpu_instancing, for viewers "
        "without that extension",
    )
    parser.add_argument(
        "--serve",
        action="store_true",
        help="send the scene to the running live viewer (tarnwick serve) instead of writing files",
    )
    return parser


def run(args: argparse.Namespace) -> int:
    from tarnwick.cli.gltf_export import export_format
    from tarnwick.cli.tech import chosen_technology, notice, print_notice
    from tarnwick.core import communication, depthview
    from tarnwick.files import check_writable
    from tarnwick.viewer_page import ViewerNotBuiltError, write_message_and_page

    target: str = args.target
    file_format = export_format(args)
    technology = chosen_technology(args)
    if args.serve:
        from tarnwick.cli.live_view import server_problem

        if args.output:
            raise UsageError("--serve writes no files: drop -o")
        problem = server_problem()
        if problem:
            raise Failed(problem)
    output = depthview.Output.CELL if args.by == "cell" else depthview.Output.LAYER
    seconds: dict[str, float] = {}
    if is_layout_path(target):
        if not os.path.isfile(target):
            raise Failed(f"no such GDS file: {target}")
        component, name, source = target, Path(target).stem, f"GDS file {target}"
        if args.cell is not None:
            source += f", cell {args.cell}"
    elif args.cell is not None:
        raise UsageError("--cell picks a cell of a layout file, not of a PDK cell")
    else:
        from tarnwick.core.pdk import get_pdk

        pdk = get_pdk()
        if target not in pdk.cells:
            raise Failed(
                f"the PDK {pdk.name} has no cell {target!r} (cells: {', '.join(sorted(pdk.cells))})"
            )
        begin = time.perf_counter()
        component = pdk.get_component(target)
        seconds["component"] = time.perf_counter() - begin
        name, source = target, f"cell {target} of the PDK {pdk.name}"

    if file_format != "json":
        from tarnwick.cli.gltf_export import run_export

        return run_export(args, component, name, source, output, file_format, seconds, technology)
    json_path = args.output or Path("out") / f"{name}.json"
    html_path = json_path.with_suffix(".html")
    for path in () if args.serve else (json_path, html_path):
        check_writable(path)  # a bad or read-only place fails now, not after the conversion
    print(
        f"tarnwick view: {shown(source)}, {scene_options_text(args, technology)}"
        + (", all layers" if args.all_layers else ""),
        flush=True,
    )

    sent: list = []
    progress = StageProgress()
    communication.subscribe(sent.append)
    try:
        depthview.depthview(
            component,
            output,
            z_scale=args.z_scale,
            curve_tolerance=args.curve_tolerance,
            exclude_layers=args.exclude,
            report=progress,
            **({} if technology is None else {"technology": technology}),
            **({"cell": args.cell} if args.cell is not None else {}),
        )
    finally:
        communication.unsubscribe(sent.append)
    if len(sent) != 1:
        raise Failed(f"expected one viewer message, got {len(sent)}")
    content: str = sent[0].content
    seconds.update(progress.final["seconds"])
    counts = progress.final["counts"]
    notice_lines = notice(progress.final, technology)

    page_error = None
    if not args.serve:
        begin = time.perf_counter()
        json_path.parent.mkdir(parents=True, exist_ok=True)
        try:  # the message and its page, in one pass: both or neither
            write_message_and_page(
                content,
                json_path,
                html_path,
                title=f"{name} · tarnwick 3D view",
                **({"notice": "\n".join(notice_lines)} if notice_lines else {}),
            )
        except ViewerNotBuiltError as error:  # the message alone is still of use
            page_error = error
            sent[0].write(json_path)
        seconds["write"] = time.perf_counter() - begin

    print("  stage        seconds")
    for stage in ("component", *STAGES, "write"):
        if stage in seconds:
            print(f"  {stage:<10} {seconds[stage]:9.3f}")
    print(f"  {'total':<10} {sum(seconds.values()):9.3f}")
    print(
        f"  polygons: {counts['polygons']:,} distinct, {counts['placed_polygons']:,} placed; "
        f"placements: {counts['placements']:,} in {counts['parts']:,} parts"
    )
    print(f"  message: {format_size(counts['bytes'])}")
    print(f"  reader: {progress.final['reader']}")
    print_notice("tarnwick view", notice_lines)
    if args.serve:
        from tarnwick.cli.live_view import report_delivery

        report_delivery(communication.last_delivery())
        if notice_lines:  # the page's event list shows it too
            from tarnwick.models import NoticeMessage

            communication.send_message(NoticeMessage(text="\n".join(notice_lines)))
        return 0
    print(f"wrote {shown(json_path)} ({format_size(json_path.stat().st_size)})")
    if page_error is not None:
        raise Failed(f"no HTML page: {page_error}") from page_error
    print(
        f"wrote {shown(html_path)} ({format_size(html_path.stat().st_size)}): open it in a browser"
    )
    return 0
