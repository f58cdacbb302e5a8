"""Argument types and the scene options shared by the commands that make a 3D scene."""

from __future__ import annotations

import argparse
import math


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
