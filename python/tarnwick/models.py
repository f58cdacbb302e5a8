"""Messages to the user interface and the factory database record."""

from __future__ import annotations

from pathlib import Path
from typing import Literal

from pydantic import BaseModel

from tarnwick.files import write_text

__all__ = [
    "DepthviewMessage",
    "FactoryRecord",
    "FactoryStatus",
    "NoticeMessage",
    "ReloadFactoriesMessage",
    "ReloadLayoutMessage",
]

FactoryStatus = Literal["BUSY", "SUCCESS", "ERROR", "UNKNOWN"]
"""BUSY while a build is pending, SUCCESS once built, ERROR after a failed build; UNKNOWN for a
factory that is known but has not been built in this project yet."""


class FactoryRecord(BaseModel):
    """One factory's row of the factory database."""

    name: str
    status: str = "UNKNOWN"
    message: str = ""
    source: str | None = None

    def absolute_source(self) -> Path | None:
        """The absolute path of the factory's source file, or None when it has none."""
        if not self.source:
            return None
        return Path(self.source).expanduser().resolve()


class ReloadFactoriesMessage(BaseModel):
    """Tells the user interface to reload its list of factories."""


class ReloadLayoutMessage(BaseModel):
    """Tells the user interface to reload the layout of one cell."""

    cell: str


class NoticeMessage(BaseModel):
    """A note for the user about the last scene (for example, layers it does not draw)."""

    text: str


class DepthviewMessage(BaseModel):
    """A 3D viewer scene as JSON text."""

    content: str

    def write(self, path: str | Path) -> Path:
        """Write the message content to `path` (UTF-8) and return the path.

        The file appears complete or not at all: a failed write raises ``OSError`` and leaves
        no partial file."""
        return write_text(path, self.content)
