"""``tarnwick tech``: the technologies a 3D view can use: list them, show one, export one as YAML.

``list`` names the bundled technologies; ``show NAME`` prints a technology's layer stack as a
table (a bundled name or a technology file, optionally with ``--lyp``); ``export NAME`` prints it
in the YAML form that ``--tech FILE.yaml`` reads, as a template to edit.
"""

from __future__ import annotations

import argparse
import sys
from typing import TYPE_CHECKING

from tarnwick.cli.failures import UsageError, shown

if TYPE_CHECKING:  # the technology package is imported when a command needs it
    from tarnwick.technology import Technology


def add_parser(subparsers) -> argparse.ArgumentParser:
    parser = subparsers.add_parser(
        "tech",
        help="list, show or export the technologies (layer stacks) of 3D views",
        description=__doc__.splitlines()[0],
    )
    actions = parser.add_subparsers(dest="action", required=True, metavar="ACTION")
    actions.add_parser("list", help="the bundled technologies")
    for action, text in (
        ("show", "a technology's layer stack as a table"),
        ("export", "a technology in the YAML form of technology files"),
    ):
        sub = actions.add_parser(action, help=text)
        sub.add_argument("name", metavar="NAME", help="a bundled technology or a .yaml file")
        sub.add_argument("--lyp", metavar="PATH", help="KLayout layer properties to apply")
    return parser


def add_technology_options(parser: argparse.ArgumentParser) -> None:
    """--tech, --lyp and --all-layers of the commands that make a 3D scene."""
    parser.add_argument(
        "--tech",
        metavar="NAME|FILE",
        help="the technology: a bundled one (tarnwick tech list) or a .yaml file "
        "(default: the active PDK's own stack)",
    )
    parser.add_argument(
        "--lyp", metavar="PATH", help="KLayout layer properties (.lyp): names, colours, visibility"
    )
    parser.add_argument(
        "--all-layers",
        action="store_true",
        help="draw every layer of the layout: unknown ones stacked above the known",
    )


def technology_arguments(args: argparse.Namespace) -> list[str]:
    """The technology options of `args` again, as command-line arguments."""
    out = []
    if args.tech is not None:
        out += ["--tech", args.tech]
    if args.lyp is not None:
        out += ["--lyp", args.lyp]
    if args.all_layers:
        out.append("--all-layers")
    return out


def _load(name: str | None, lyp: str | None) -> Technology:
    """`load_technology`; unusable input, given on the command line, is a `UsageError`."""
    from tarnwick.technology import TechnologyError, load_technology

    try:
        return load_technology(name, lyp)
    except TechnologyError as error:
        raise UsageError(str(error)) from error


def chosen_technology(args: argparse.Namespace) -> Technology | None:
    """The technology the options choose, or None when none is given (the active PDK's stack,
    exactly as without these options). `UsageError` for unusable input."""
    if args.tech is None and args.lyp is None and not args.all_layers:
        return None
    technology = _load(args.tech, args.lyp)
    if args.all_layers:
        technology.all_layers = True
    return technology


def notice(final: dict, technology: Technology | None) -> list[str]:
    """The notice lines for a scene's final report (see `notice_lines`)."""
    from tarnwick.technology import load_technology
    from tarnwick.technology.notice import notice_lines

    undrawn = final.get("undrawn_layers")
    if not undrawn and final.get("counts", {}).get("polygons", 1):
        return []
    return notice_lines(
        undrawn or [],
        technology if technology is not None else load_technology(None),
        empty=final.get("counts", {}).get("polygons", 1) == 0,
    )


def print_notice(prog: str, lines: list[str]) -> None:
    if lines:
        print(f"{prog}: {shown(lines[0])}", file=sys.stderr)
        for line in lines[1:]:
            print(shown(line), file=sys.stderr)
        sys.stderr.flush()


def _table(technology: Technology) -> list[str]:
    from tarnwick.technology.model import picked_colors

    colors = picked_colors(technology.layers)
    width = max([len(layer.name) for layer in technology.layers] + [4])
    lines = [f"technology {technology.name}: {technology.description or technology.source}"]
    if technology.all_layers:
        lines.append("  draws every layer of the layout, stacked in (layer, datatype) order")
    if not technology.layers:
        return lines
    lines.append(
        f"  {'name':<{width}}  {'layer':>9}  {'zmin':>8}  {'thickness':>9}  {'colour':<7}  shown"
    )
    for layer in technology.layers:
        spec = f"{layer.layer}/{layer.datatype}"
        lines.append(
            f"  {layer.name:<{width}}  {spec:>9}  {layer.zmin:>8.4f}  {layer.thickness:>9.4f}  "
            f"{colors[layer.spec]:<7}  {'yes' if layer.visible else 'no'}"
        )
    return lines


def run(args: argparse.Namespace) -> int:
    from tarnwick.technology import bundled_names, load_technology, technology_yaml

    if args.action == "list":
        for name in bundled_names():
            technology = load_technology(name)
            visible = sum(1 for layer in technology.layers if layer.visible)
            size = f"{visible:>3} of {len(technology.layers):>3} layers shown" if visible else ""
            print(f"{name:<12}  {size:<22}  {technology.description}")
        return 0
    technology = _load(args.name, args.lyp)
    if args.action == "show":
        print("\n".join(shown(line) for line in _table(technology)))
    else:
        sys.stdout.write(technology_yaml(technology))
    return 0
