"""Statically known factories: the active PDK's cells with their source files."""

from __future__ import annotations

from tarnwick.models import FactoryRecord

__all__ = ["clear_static_records", "get_static_records", "register_static_record"]

_registered: dict[str, FactoryRecord] = {}


def get_static_records() -> dict[str, FactoryRecord]:
    """A new map from factory name to record for every cell of the active PDK, plus the records
    registered with `register_static_record` (which win over the PDK's)."""
    import brenvik

    records: dict[str, FactoryRecord] = {}
    for name, cell_function in brenvik.get_active_pdk().cells.items():
        source = brenvik.cell_source_path(cell_function)
        records[name] = FactoryRecord(
            name=name, status="UNKNOWN", source=None if source is None else str(source)
        )
    records.update({name: record.model_copy() for name, record in _registered.items()})
    return records


def register_static_record(record: FactoryRecord) -> None:
    """Make `record` statically known (for factories that live outside the PDK's cell map)."""
    _registered[record.name] = record.model_copy()


def clear_static_records() -> None:
    """Forget every registered record."""
    _registered.clear()
