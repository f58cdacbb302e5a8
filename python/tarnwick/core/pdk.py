"""The active process design kit (PDK), as held by the component library."""

from __future__ import annotations

from typing import Any

__all__ = ["get_pdk", "reset_pdk", "set_pdk"]


def get_pdk() -> Any:
    """The active PDK object of the component library (asked afresh at every call)."""
    import brenvik

    return brenvik.get_active_pdk()


def set_pdk(pdk: Any) -> None:
    """Make `pdk` the active PDK."""
    import brenvik

    brenvik.set_active_pdk(pdk)


def reset_pdk() -> None:
    """Make the bundled demo PDK the active PDK again."""
    import brenvik

    brenvik.reset_active_pdk()
