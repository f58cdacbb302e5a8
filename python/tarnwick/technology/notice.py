"""The notice of a layout's layers that a scene does not draw: never dropped without a word."""

from __future__ import annotations

from tarnwick.technology.model import Technology

__all__ = ["MAX_LISTED", "notice_lines"]

#: Layers listed one by one; the rest are counted.
MAX_LISTED = 10


def _plural(count: int, word: str) -> str:
    return f"{count:,} {word}" + ("" if count == 1 else "s")


def notice_lines(undrawn, technology: Technology, empty: bool) -> list[str]:
    """The notice for the undrawn layers `undrawn` ((layer, datatype, shapes) triples, as the
    scene's report gives them) of a scene made with `technology`; `empty` when the scene shows
    nothing. Layers that the technology knows and hides on purpose are not listed, but an empty
    scene names them. No lines when there is nothing to say."""
    unknown, hidden = [], []
    for layer, datatype, shapes in undrawn:
        known = technology.layer((layer, datatype))
        (hidden if known is not None and not known.visible else unknown).append(
            (layer, datatype, shapes)
        )
    lines: list[str] = []
    name = technology.name
    shapes = sum(count for _, _, count in unknown)
    if empty and not undrawn:
        return [
            (
                "the scene is empty: the layout holds no polygons on the layers the technology "
                f"{name} draws, and no shapes on any other layer"
            )
        ]
    if empty:
        lines.append(f"the scene is empty: the technology {name} draws none of the layout's layers")
        if unknown:
            lines.append(
                f"  {_plural(len(unknown), 'layer')} with {_plural(shapes, 'shape')} "
                "that it has no heights for:"
            )
    elif unknown:
        lines.append(
            f"{_plural(len(unknown), 'layer')} with {_plural(shapes, 'shape')} not drawn "
            f"(the technology {name} has no heights for them):"
        )
    for layer, datatype, count in unknown[:MAX_LISTED]:
        label = technology.name_of((layer, datatype))
        spec = f"{layer}/{datatype}"
        lines.append(f"    {spec:<9} {label or '-':<16} {_plural(count, 'shape')}")
    if len(unknown) > MAX_LISTED:
        lines.append(f"    and {len(unknown) - MAX_LISTED:,} more")
    if empty and hidden:
        names = ", ".join(
            technology.name_of((layer, datatype)) or f"{layer}/{datatype}"
            for layer, datatype, _ in hidden[:MAX_LISTED]
        )
        more = f" and {len(hidden) - MAX_LISTED:,} more" if len(hidden) > MAX_LISTED else ""
        lines.append(f"  hidden by the technology {name}: {names}{more}")
    if empty:
        from tarnwick.technology import matching_technologies

        specs = [(layer, datatype) for layer, datatype, _ in undrawn]
        matches = matching_technologies(specs)
        if matches:
            best = ", ".join(f"{tech} ({known} of {len(specs)})" for tech, known in matches[:3])
            lines.append(f"  the bundled technologies that know most of its layers: {best}")
    if unknown or (empty and undrawn):
        lines.append(
            "  draw them with --tech NAME or --tech FILE.yaml (see `tarnwick tech list`), "
            "or every layer with --all-layers"
        )
    return lines
