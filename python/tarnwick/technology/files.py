"""Technology files: tarnwick's own YAML form, and KLayout layer properties files (.lyp).

The YAML form (units: micrometres)::

    format: 1                 # required: the version of this form
    name: mytech              # optional: the file's stem by default
    description: ...          # optional
    lyp: mytech.lyp           # optional: layer properties beside it, relative to this file
    all_layers: false         # optional: true draws every layer of a layout, as --all-layers
    layers:                   # required: one entry per layer, bottom to top as you like
      - name: met1            # required, unique
        layer: 68/20          # required, unique: "layer/datatype" or [layer, datatype]
        zmin: 1.3761          # required: bottom height, finite
        thickness: 0.36       # required: finite, not negative
        color: "#1f77b4"      # optional: #rrggbb (one is picked when absent)
        visible: true         # optional: false keeps the layer out of the default view

Every error is a `TechnologyError` of one line: "FILE:LINE: key 'KEY': what is wrong".
"""

from __future__ import annotations

import math
import re
from dataclasses import replace
from pathlib import Path
from xml.parsers import expat

import yaml

from tarnwick.technology.model import TechLayer, Technology, TechnologyError, check_layers

__all__ = ["FORMAT", "apply_lyp", "read_lyp", "read_technology", "technology_yaml"]

#: The version of the YAML form this code reads and writes.
FORMAT = 1

_TOP_KEYS = ("format", "name", "description", "lyp", "all_layers", "layers")
_LAYER_KEYS = ("name", "layer", "zmin", "thickness", "color", "visible")
_COLOR = re.compile(r"^#[0-9a-fA-F]{6}$")
_SPEC = re.compile(r"^\s*(\d+)\s*/\s*(\d+)\s*$")


def _read_text(path: Path, what: str) -> str:
    try:
        return path.read_text(encoding="utf-8")
    except FileNotFoundError:
        raise TechnologyError(f"{path}: no such {what}") from None
    except UnicodeDecodeError as error:
        raise TechnologyError(f"{path}: not a UTF-8 text file ({error.reason})") from None
    except OSError as error:
        raise TechnologyError(f"{path}: cannot read the {what}: {error.strerror}") from None


class _Node:
    """A YAML node with its line (1-based) and the constructed value of a scalar."""

    def __init__(self, path: Path, node: yaml.Node, loader: yaml.SafeLoader) -> None:
        self.path, self.node, self.loader = path, node, loader
        self.line = node.start_mark.line + 1

    def error(self, key: str | None, text: str) -> TechnologyError:
        where = f"{self.path}:{self.line}"
        return TechnologyError(f"{where}: key {key!r}: {text}" if key else f"{where}: {text}")

    def value(self):
        return self.loader.construct_object(self.node, deep=True)

    def mapping(self, keys: tuple[str, ...], what: str) -> dict[str, _Node]:
        if not isinstance(self.node, yaml.MappingNode):
            raise self.error(None, f"{what} must be a mapping of keys to values")
        out: dict[str, _Node] = {}
        for key_node, value_node in self.node.value:
            key = _Node(self.path, key_node, self.loader)
            name = key.value()
            if name not in keys:
                known = ", ".join(keys)
                raise key.error(str(name), f"unknown key in {what} (known keys: {known})")
            if name in out:
                raise key.error(name, f"given twice in {what}")
            out[name] = _Node(self.path, value_node, self.loader)
        return out


def _text(node: _Node, key: str) -> str:
    value = node.value()
    if not isinstance(value, str) or not value.strip():
        raise node.error(key, f"must be a non-empty text, got {value!r}")
    return value.strip()


def _number(node: _Node, key: str, minimum: float | None = None) -> float:
    value = node.value()
    if isinstance(value, bool) or not isinstance(value, int | float):
        raise node.error(key, f"must be a number in µm, got {value!r}")
    value = float(value)
    if not math.isfinite(value):
        raise node.error(key, f"must be finite, got {value}")
    if minimum is not None and value < minimum:
        raise node.error(key, f"must not be negative, got {value:g}")
    return value


def _spec(node: _Node, key: str) -> tuple[int, int]:
    value = node.value()
    if isinstance(value, str) and (match := _SPEC.match(value)):
        pair = (int(match.group(1)), int(match.group(2)))
    elif (
        isinstance(value, list)
        and len(value) == 2
        and all(isinstance(v, int) and not isinstance(v, bool) for v in value)
    ):
        pair = (value[0], value[1])
    else:
        raise node.error(key, f"must be 'layer/datatype' or [layer, datatype], got {value!r}")
    if not all(0 <= v < 65536 for v in pair):
        raise node.error(key, f"layer and datatype must be in 0..65535, got {pair[0]}/{pair[1]}")
    return pair


def _color(node: _Node, key: str) -> str:
    value = node.value()
    if not isinstance(value, str) or not _COLOR.match(value.strip()):
        raise node.error(key, f"unreadable colour {value!r} (use #rrggbb)")
    return value.strip().lower()


def read_technology(path: str | Path) -> Technology:
    """The technology in the YAML file at `path`, with its `lyp:` file applied."""
    path = Path(path)
    text = _read_text(path, "technology file")
    loader = yaml.SafeLoader(text)
    try:
        root = loader.get_single_node()
    except yaml.YAMLError as error:
        mark = getattr(error, "problem_mark", None)
        line = f":{mark.line + 1}" if mark is not None else ""
        problem = getattr(error, "problem", None) or str(error)
        raise TechnologyError(f"{path}{line}: broken YAML: {' '.join(problem.split())}") from None
    finally:
        loader.dispose()
    if root is None:
        raise TechnologyError(f"{path}: empty technology file (needs 'format' and 'layers')")
    top = _Node(path, root, loader).mapping(_TOP_KEYS, "the technology")
    for key in ("format", "layers"):
        if key not in top:
            raise _Node(path, root, loader).error(key, "missing")
    version = top["format"].value()
    if version != FORMAT:
        raise top["format"].error("format", f"unknown version {version!r} (this reads {FORMAT})")
    name = _text(top["name"], "name") if "name" in top else path.stem
    description = _text(top["description"], "description") if "description" in top else ""
    entries = top["layers"]
    if not isinstance(entries.node, yaml.SequenceNode):
        raise entries.error("layers", "must be a list of layers")
    layers: list[TechLayer] = []
    seen: dict[tuple[int, int], tuple[str, int]] = {}
    names: dict[str, int] = {}
    for item in entries.node.value:
        entry = _Node(path, item, loader)
        fields = entry.mapping(_LAYER_KEYS, "a layer")
        for key in ("name", "layer", "zmin", "thickness"):
            if key not in fields:
                raise entry.error(key, "missing in this layer")
        layer_name = _text(fields["name"], "name")
        if layer_name in names:
            raise fields["name"].error(
                "name", f"layer name {layer_name!r} given twice (first on line {names[layer_name]})"
            )
        names[layer_name] = fields["name"].line
        spec = _spec(fields["layer"], "layer")
        if spec in seen:
            first, line = seen[spec]
            raise fields["layer"].error(
                "layer", f"layer {spec[0]}/{spec[1]} given twice (first as {first} on line {line})"
            )
        seen[spec] = (layer_name, fields["layer"].line)
        visible = fields["visible"].value() if "visible" in fields else True
        if not isinstance(visible, bool):
            raise fields["visible"].error("visible", f"must be true or false, got {visible!r}")
        layers.append(
            TechLayer(
                layer_name,
                spec[0],
                spec[1],
                _number(fields["zmin"], "zmin"),
                _number(fields["thickness"], "thickness", minimum=0.0),
                _color(fields["color"], "color") if "color" in fields else None,
                visible,
            )
        )
    all_layers = top["all_layers"].value() if "all_layers" in top else False
    if not isinstance(all_layers, bool):
        raise top["all_layers"].error("all_layers", f"must be true or false, got {all_layers!r}")
    technology = Technology(
        name, layers, description=description, source=str(path), all_layers=all_layers
    )
    if "lyp" in top:
        lyp = Path(_text(top["lyp"], "lyp"))
        technology = apply_lyp(technology, path.parent / lyp if not lyp.is_absolute() else lyp)
    return technology


def technology_yaml(technology: Technology) -> str:
    """`technology` in the YAML form, every layer with its colour: a template to edit."""
    from tarnwick.technology.model import picked_colors

    colors = picked_colors(technology.layers)
    lines = [f"format: {FORMAT}", f"name: {_scalar(technology.name)}"]
    if technology.description:
        lines.append(f"description: {_scalar(technology.description)}")
    if technology.all_layers:
        lines.append("all_layers: true")
    lines.append("layers:" if technology.layers else "layers: []")
    for layer in technology.layers:
        lines.append(f"  - name: {_scalar(layer.name)}")
        lines.append(f"    layer: {layer.layer}/{layer.datatype}")
        lines.append(f"    zmin: {layer.zmin!r}")
        lines.append(f"    thickness: {layer.thickness!r}")
        lines.append(f'    color: "{colors[layer.spec]}"')
        if not layer.visible:
            lines.append("    visible: false")
    return "\n".join(lines) + "\n"


def _scalar(text: str) -> str:
    return yaml.safe_dump(text, default_flow_style=True, width=1 << 20).removesuffix("\n...\n")


# --- KLayout layer properties -------------------------------------------------------------------


class _Element:
    def __init__(self, tag: str, line: int) -> None:
        self.tag, self.line, self.text, self.children = tag, line, "", []

    def child(self, tag: str) -> _Element | None:
        return next((c for c in self.children if c.tag == tag), None)


def _parse_xml(path: Path, text: str) -> _Element:
    """The element tree of an XML text, each element with its line, by the expat parser."""
    parser = expat.ParserCreate()
    root = _Element("", 0)
    stack = [root]

    def start(tag, _attributes):
        element = _Element(tag, parser.CurrentLineNumber)
        stack[-1].children.append(element)
        stack.append(element)

    def end(_tag):
        stack.pop()

    def data(chunk):
        stack[-1].text += chunk

    parser.StartElementHandler, parser.EndElementHandler = start, end
    parser.CharacterDataHandler = data
    try:
        parser.Parse(text, True)
    except expat.ExpatError as error:
        raise TechnologyError(
            f"{path}:{error.lineno}: broken XML: {expat.ErrorString(error.code)}"
        ) from None
    return root


def _source_spec(path: Path, element: _Element) -> tuple[int, int] | None:
    """The (layer, datatype) a layer source element names, by KLayout's own reading of source
    texts; None for sources that name no single layer (wildcards, names only)."""
    from klayout import lay

    properties = lay.LayerProperties()
    text = element.text.strip()
    try:
        properties.source = text
    except RuntimeError:
        raise TechnologyError(
            f"{path}:{element.line}: key 'source': unreadable layer source {text!r}"
        ) from None
    layer, datatype = properties.source_layer, properties.source_datatype
    if layer < 0 or datatype < 0:
        return None
    return (layer, datatype)


def read_lyp(path: str | Path) -> dict[tuple[int, int], dict]:
    """{(layer, datatype): {"name", "color", "visible", "line"}} of a .lyp file: each entry holds
    what the file gives (a name, a fill colour as #rrggbb, the visibility). Group members count
    like top-level entries; entries whose source names no single layer are skipped."""
    path = Path(path)
    root = _parse_xml(path, _read_text(path, "layer properties file"))
    top = root.children[0] if root.children else None
    if top is None or top.tag not in ("layer-properties", "layer-properties-tabs"):
        raise TechnologyError(f"{path}:1: not a KLayout layer properties file")
    out: dict[tuple[int, int], dict] = {}
    pending = [top]
    while pending:
        element = pending.pop(0)
        for child in element.children:
            if child.tag in ("layer-properties", "group-members"):
                pending.append(child)
            elif child.tag == "properties":
                pending.append(child)
                _lyp_entry(path, child, out)
    return out


def _lyp_entry(path: Path, element: _Element, out: dict) -> None:
    source = element.child("source")
    if source is None:
        return
    spec = _source_spec(path, source)
    if spec is None:
        return
    entry: dict = {"line": element.line}
    name = element.child("name")
    if name is not None and name.text.strip():
        entry["name"] = name.text.strip()
    fill = element.child("fill-color")
    if fill is not None and fill.text.strip():
        text = fill.text.strip()
        if not _COLOR.match(text):
            raise TechnologyError(
                f"{path}:{fill.line}: key 'fill-color': unreadable colour {text!r} (use #rrggbb)"
            )
        entry["color"] = text.lower()
    visible = element.child("visible")
    if visible is not None:
        text = visible.text.strip().lower()
        if text not in ("true", "false"):
            raise TechnologyError(
                f"{path}:{visible.line}: key 'visible': must be true or false, got {text!r}"
            )
        entry["visible"] = text == "true"
    out.setdefault(spec, {}).update(entry)


def apply_lyp(technology: Technology, path: str | Path) -> Technology:
    """`technology` with the names, fill colours and visibility of the .lyp file at `path`; the
    file's layers the technology does not know are kept by name (they have no heights, so they
    are not drawn, but notices name them)."""
    entries = read_lyp(path)
    layers = []
    for layer in technology.layers:
        entry = entries.get(layer.spec, {})
        layers.append(
            replace(
                layer,
                name=entry.get("name", layer.name),
                color=entry.get("color", layer.color),
                visible=entry.get("visible", layer.visible),
            )
        )
    check_layers(layers, str(path))
    names = {spec: entry["name"] for spec, entry in entries.items() if "name" in entry}
    return replace(technology, layers=layers, lyp_names={**technology.lyp_names, **names})
