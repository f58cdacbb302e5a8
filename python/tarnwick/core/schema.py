"""JSON Schema of a schematic netlist."""

from __future__ import annotations

from typing import Any

__all__ = ["NETLIST_SCHEMA_DIALECT", "get_netlist_schema"]

NETLIST_SCHEMA_DIALECT = "https://json-schema.org/draft/2020-12/schema"

_PORT_REFERENCE = {"type": "string", "pattern": "^[^,]+,[^,]+$"}


def _instance_schema() -> dict[str, Any]:
    return {
        "oneOf": [
            {"type": "string", "description": "name of the instantiated cell"},
            {
                "type": "object",
                "properties": {
                    "component": {"type": "string"},
                    "settings": {"type": "object"},
                },
                "required": ["component"],
            },
        ]
    }


def get_netlist_schema(netlist: Any) -> dict[str, Any]:
    """A JSON Schema (draft 2020-12) that validates `netlist` and netlists like it.

    The general netlist sections are described for every netlist; when `netlist` is a mapping, its
    instance names become required properties of "instances" and its settings are kept as the
    schema's default, so the schema documents this very schematic.
    """
    instances: dict[str, Any] = {
        "type": "object",
        "additionalProperties": _instance_schema(),
    }
    schema: dict[str, Any] = {
        "$schema": NETLIST_SCHEMA_DIALECT,
        "title": "netlist",
        "type": "object",
        "properties": {
            "name": {"type": "string"},
            "instances": instances,
            "placements": {
                "type": "object",
                "additionalProperties": {
                    "type": "object",
                    "properties": {
                        "x": {"type": ["number", "string"]},
                        "y": {"type": ["number", "string"]},
                        "rotation": {"type": "number"},
                        "mirror": {"type": ["boolean", "string"]},
                    },
                },
            },
            "connections": {"type": "object", "additionalProperties": _PORT_REFERENCE},
            "ports": {"type": "object", "additionalProperties": _PORT_REFERENCE},
            "routes": {"type": "object"},
            "nets": {"type": ["array", "object"]},
            "settings": {"type": "object"},
        },
    }
    if isinstance(netlist, dict):
        if isinstance(netlist.get("name"), str):
            schema["title"] = netlist["name"]
        declared = netlist.get("instances")
        if isinstance(declared, dict) and declared:
            instances["required"] = [str(name) for name in declared]
        if "settings" in netlist:
            schema["properties"]["settings"]["default"] = netlist["settings"]
    return schema
