"""``tarnwick pdk``: list the active PDK's cells, layers and layer stack."""

from __future__ import annotations

import argparse

from tarnwick.cli.failures import shown


def add_parser(subparsers) -> argparse.ArgumentParser:
    return subparsers.add_parser("pdk", help="list the active PDK's cells and layer stack")


def run(args: argparse.Namespace) -> int:
    from tarnwick.core.pdk import get_pdk

    pdk = get_pdk()
    print(f"PDK {shown(pdk.name)}")
    print(f"cells ({len(pdk.cells)}):")
    for name in pdk.cells:
        print(f"  {shown(name)}")
    print("layer stack (level: thickness, zmin in µm):")
    for name, level in pdk.layer_stack.layers.items():
        print(f"  {shown(name)}: {level.thickness}, {level.zmin}")
    return 0
