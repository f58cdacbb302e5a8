"""Argument types, and the options and targets shared by the commands that make a 3D scene."""

from __future__ import annotations

import argparse
import math
import os

#: Suffixes that make a target a layout file even before it exists.
LAYOUT_SUFFIXES = (".gds", ".gds2", ".gdsii", ".oas")


def finite(text: str) -> float:
    """A finite number: nan, inf and values too large for a float (1e309) are refused."""
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if not math.isfinite(value):
        raise argparse.ArgumentTypeError(f"must be a finite number, not {text!r}")
    return value


def tolerance(text: str) -> float | None:
    """A simplification tolerance in µm, or None for 'none' and 'off'."""
    if text.strip().lower() in ("none", "off"):
        return None
    try:
        value = finite(text)
    except argparse.ArgumentTypeError as error:
        raise argparse.ArgumentTypeError(f"{error} (or 'none')") from None
    if value < 0:
        raise argparse.ArgumentTypeError("must not be negative")
    return value


def add_scene_options(parser: argparse.ArgumentParser) -> None:
    """--by, --z-scale, --curve-tolerance and --exclude, as depthview takes them."""
    parser.add_argument(
        "--by", choices=("cell", "layer"), default="layer", help="group the scene (default: layer)"
    )
    parser.add_argument(
        "--z-scale", type=finite, default=1.0, metavar="Z", help="factor on all heights (1.0)"
    )
    parser.add_argument(
        "--curve-tolerance",
        type=tolerance,
        default=0.01,
        metavar="T",
        help="polygon simplification tolerance in µm, or 'none' to keep every point (0.01)",
    )
    parser.add_argument(
        "--exclude",
        nargs="+",
        action="extend",
        default=None,
        metavar="PATTERN",
        help="leave out layers whose name matches a shell pattern (case-insensitive)",
    )


def add_cell_option(parser: argparse.ArgumentParser) -> None:
    """--cell, for the commands whose target may be a layout file."""
    parser.add_argument(
        "--cell",
        default=None,
        metavar="NAME",
        help="of a layout file, draw only this cell and the hierarchy below it "
        "(default: every top cell)",
    )


def is_layout_path(target: str) -> bool:
    """Whether a command's target names a layout file (by its suffix, or as an existing file)
    rather than a cell of the active PDK."""
    # os.path.isfile, unlike Path.is_file, answers False for names the system cannot even look
    # up (too long, embedded NUL) instead of raising.
    return target.lower().endswith(LAYOUT_SUFFIXES) or os.path.isfile(target)


def scene_options_text(args: argparse.Namespace, technology=None) -> str:
    """The scene options of `args` as the first line of a view says them: "by layer, z-scale 1,
    curve tolerance 0.01", then the excluded layers and the technology when given."""
    from tarnwick.cli.failures import shown

    tolerance_text = "none" if args.curve_tolerance is None else f"{args.curve_tolerance:g}"
    return (
        f"by {args.by}, z-scale {args.z_scale:g}, curve tolerance {tolerance_text}"
        + (f", excluding {shown(' '.join(args.exclude))}" if args.exclude else "")
        + (f", technology {shown(technology.name)}" if technology is not None else "")
    )
