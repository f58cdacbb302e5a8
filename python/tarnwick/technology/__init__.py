"""Technologies: which layers of a layout the 3D scene draws, at which heights, in which colours.

A technology is a named layer stack with layer views (`Technology`, a list of `TechLayer`). It
comes from a YAML file of tarnwick's own (`files`), a KLayout layer properties file (.lyp) for
names and colours, or the bundled ones (`bundled`), and becomes the component library's
`LayerStack` and `LayerViews`, which the scene takes as it takes a PDK's::

    from tarnwick.technology import technology_layers
    from tarnwick.core.depthview import to_3D_viewer

    stack, views = technology_layers("sky130")
    scene = to_3D_viewer("inv.gds", layer_stack=stack, layer_views=views)
"""

from __future__ import annotations

import os
from pathlib import Path
from typing import Any

from tarnwick.technology.bundled import BUNDLED, bundled
from tarnwick.technology.files import apply_lyp, read_lyp, read_technology, technology_yaml
from tarnwick.technology.model import (
    DEFAULT_THICKNESS,
    TechLayer,
    Technology,
    TechnologyError,
)

__all__ = [
    "DEFAULT_THICKNESS",
    "TechLayer",
    "Technology",
    "TechnologyError",
    "apply_lyp",
    "bundled_names",
    "file_layers",
    "load_technology",
    "matching_technologies",
    "read_lyp",
    "read_technology",
    "scene_layers",
    "technology_layers",
    "technology_yaml",
]


def bundled_names() -> list[str]:
    """The names of the bundled technologies; "demo" (the active PDK's own stack) first."""
    return list(BUNDLED)


def load_technology(
    technology: str | os.PathLike | Technology | None = None, lyp: str | os.PathLike | None = None
) -> Technology:
    """A technology by bundled name, YAML file path or as it is (None: the active PDK's own
    stack), with the .lyp file `lyp` applied. `TechnologyError` for anything unusable."""
    if technology is None:
        result = bundled("demo")
    elif isinstance(technology, Technology):
        result = technology
    elif isinstance(technology, str | os.PathLike):
        text = os.fspath(technology)
        result = bundled(text)
        if result is None:
            path = Path(text)
            if path.suffix.lower() in (".yaml", ".yml") or path.exists():
                result = read_technology(path)
            else:
                raise TechnologyError(
                    f"unknown technology {text!r} (known: {', '.join(bundled_names())}; "
                    "or the path of a .yaml technology file)"
                )
    else:
        raise TypeError(
            f"a technology is a name, a path or a Technology, not {type(technology).__name__}"
        )
    if lyp is not None:
        result = apply_lyp(result, lyp)
    assert result is not None
    return result


def technology_layers(
    technology: str | os.PathLike | Technology | None = None,
    lyp: str | os.PathLike | None = None,
    *,
    layout_layers=None,
):
    """The component library's (LayerStack, LayerViews) of a technology (see `load_technology`).
    `layout_layers`, (layer, datatype) pairs of a layout, are drawn too when the technology
    draws every layer (`generic`, or `Technology.all_layers`)."""
    result = load_technology(technology, lyp)
    if result.all_layers:
        result = result.extended(layout_layers or ())
    return result.stack_and_views()


def file_layers(component: Any) -> list[tuple[int, int]]:
    """The (layer, datatype) pairs that hold shapes in a component, or in the GDS/OASIS file
    whose path is given (read for this)."""
    import klayout.db as kdb

    if isinstance(component, str | os.PathLike):
        layout = kdb.Layout()
        layout.read(os.fspath(component))
        cells = list(layout.each_cell())
    else:
        from brenvik.hierarchy import cells_below

        layout = component.layout
        top = component.kdb_cell
        cells = [top, *(layout.cell(index) for index in cells_below(top))]
    out = set()
    for index in layout.layer_indices():
        if any(not cell.shapes(index).is_empty() for cell in cells):
            info = layout.get_info(index)
            out.add((info.layer, info.datatype))
    return sorted(out)


def scene_layers(technology: Any, component: Any):
    """(LayerStack, LayerViews) for showing `component` (a component or a layout file path) with
    `technology`: a (LayerStack, LayerViews) pair as it is, or what `load_technology` takes.
    A technology that draws every layer gets the component's layers."""
    if isinstance(technology, tuple) and len(technology) == 2:
        return technology
    result = load_technology(technology)
    if result.all_layers:
        result = result.extended(file_layers(component))
    return result.stack_and_views()


def matching_technologies(specs) -> list[tuple[str, int]]:
    """The bundled technologies that know any of the (layer, datatype) pairs `specs`, as (name,
    how many they know), most first; `generic` and the active PDK's stack are not counted."""
    specs = set(specs)
    out = []
    for name in bundled_names():
        if name in ("generic", "demo"):
            continue
        technology = bundled(name)
        known = sum(1 for spec in specs if technology.knows(spec))
        if known:
            out.append((name, known))
    out.sort(key=lambda item: -item[1])
    return out
