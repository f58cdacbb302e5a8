"""``tarnwick view``: show a PDK cell or a GDS file in 3D.

Runs ``depthview`` on the component, writes the viewer message content as a JSON file and, beside
it, a self-contained HTML page that shows the scene offline, and reports the time of each stage
and the scene's counts.
"""

from __future__ import annotations

import argparse
import os
import sys
import time
from pathlib import Path

from tarnwick.cli.arguments import add_scene_options

_GDS_SUFFIXES = (".gds", ".gds2", ".gdsii", ".oas")
_STAGES = ("read", "parse", "convert", "encode")
_STAGE_TEXT = {
    "read": "reading the layout",
    "parse": "parsing",
    "convert": "converting",
    "encode": "encoding and sending",
}


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
    parser.add_argument(
        "-o",
        "--output",
        type=Path,
        default=None,
        metavar="FILE",
        help="the JSON file to write (default: out/NAME.json); the page goes beside it as .html",
    )
    parser.add_argument(
        "--serve",
        action="store_true",
        help="send the scene to the running live viewer (tarnwick serve) instead of writing files",
    )
    return parser


def _is_gds_path(target: str) -> bool:
    # os.path.isfile, unlike Path.is_file, answers False for names the system cannot even look
    # up (too long, embedded NUL) instead of raising.
    return target.lower().endswith(_GDS_SUFFIXES) or os.path.isfile(target)


def _size(count: int) -> str:
    for unit in ("bytes", "KiB", "MiB", "GiB"):
        if count < 1024 or unit == "GiB":
            return f"{count:,} bytes" if unit == "bytes" else f"{count:,.1f} {unit}"
        count /= 1024
    return str(count)


class _Progress:
    """The report hook of depthview: names each stage on stderr as it starts, with the time
    elapsed so far, and keeps the final report (stage seconds, counts, layout reader)."""

    def __init__(self) -> None:
        self.start = time.perf_counter()
        self.final: dict = {}

    def __call__(self, event: dict) -> None:
        stage = event["stage"]
        if stage == "done":
            self.final = event
            return
        elapsed = time.perf_counter() - self.start
        print(
            f"  [{elapsed:7.2f} s] {_STAGE_TEXT.get(stage, stage)} …", file=sys.stderr, flush=True
        )


def run(args: argparse.Namespace) -> int:
    from tarnwick.core import communication, depthview
    from tarnwick.files import check_writable
    from tarnwick.viewer_page import ViewerNotBuiltError, write_message_and_page

    target: str = args.target
    if args.serve:
        from tarnwick.cli.live_view import server_problem

        problem = "--serve writes no files: drop -o" if args.output else server_problem()
        if problem:
            print(f"tarnwick view: {problem}", file=sys.stderr)
            return 2 if args.output else 1
    output = depthview.Output.CELL if args.by == "cell" else depthview.Output.LAYER
    seconds: dict[str, float] = {}
    if _is_gds_path(target):
        if not os.path.isfile(target):
            print(f"tarnwick view: no such GDS file: {target}", file=sys.stderr)
            return 2
        component, name, source = target, Path(target).stem, f"GDS file {target}"
    else:
        from tarnwick.core.pdk import get_pdk

        pdk = get_pdk()
        if target not in pdk.cells:
            print(
                f"tarnwick view: the PDK {pdk.name} has no cell {target!r} "
                f"(cells: {', '.join(sorted(pdk.cells))})",
                file=sys.stderr,
            )
            return 2
        begin = time.perf_counter()
        component = pdk.get_component(target)
        seconds["component"] = time.perf_counter() - begin
        name, source = target, f"cell {target} of the PDK {pdk.name}"

    json_path = args.output or Path("out") / f"{name}.json"
    html_path = json_path.with_suffix(".html")
    for path in () if args.serve else (json_path, html_path):
        check_writable(path)  # a bad or read-only place fails now, not after the conversion
    print(
        f"tarnwick view: {source}, by {args.by}, z-scale {args.z_scale:g}, curve tolerance "
        f"{'none' if args.curve_tolerance is None else f'{args.curve_tolerance:g}'}"
        + (f", excluding {' '.join(args.exclude)}" if args.exclude else ""),
        flush=True,
    )

    sent: list = []
    progress = _Progress()
    communication.subscribe(sent.append)
    try:
        depthview.depthview(
            component,
            output,
            z_scale=args.z_scale,
            curve_tolerance=args.curve_tolerance,
            exclude_layers=args.exclude,
            report=progress,
        )
    finally:
        communication.unsubscribe(sent.append)
    if len(sent) != 1:
        print(f"tarnwick view: expected one viewer message, got {len(sent)}", file=sys.stderr)
        return 1
    content: str = sent[0].content
    seconds.update(progress.final["seconds"])
    counts = progress.final["counts"]

    page_error = None
    if not args.serve:
        begin = time.perf_counter()
        json_path.parent.mkdir(parents=True, exist_ok=True)
        try:  # the message and its page, in one pass: both or neither
            write_message_and_page(
                content, json_path, html_path, title=f"{name} · tarnwick 3D view"
            )
        except ViewerNotBuiltError as error:  # the message alone is still of use
            page_error = error
            sent[0].write(json_path)
        seconds["write"] = time.perf_counter() - begin

    print("  stage        seconds")
    for stage in ("component", *_STAGES, "write"):
        if stage in seconds:
            print(f"  {stage:<10} {seconds[stage]:9.3f}")
    print(f"  {'total':<10} {sum(seconds.values()):9.3f}")
    print(
        f"  polygons: {counts['polygons']:,} distinct, {counts['placed_polygons']:,} placed; "
        f"placements: {counts['placements']:,} in {counts['parts']:,} parts"
    )
    print(f"  message: {_size(counts['bytes'])}")
    print(f"  reader: {progress.final['reader']}")
    if args.serve:
        from tarnwick.cli.live_view import report_delivery

        return report_delivery(communication.last_delivery())
    print(f"wrote {json_path} ({_size(json_path.stat().st_size)})")
    if page_error is not None:
        print(f"tarnwick view: no HTML page: {page_error}", file=sys.stderr)
        return 1
    print(f"wrote {html_path} ({_size(html_path.stat().st_size)}): open it in a browser")
    return 0
