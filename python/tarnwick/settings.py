"""Output directories of the host.

Each directory comes from an environment variable when it is set, else from a default below the
project build folder (``TARNWICK_BUILD_DIR``, by default ``tarnwick_build`` in the working
directory). Values are read at every call, so changing the environment takes effect at once.
"""

from __future__ import annotations

import os
from pathlib import Path

__all__ = [
    "configure",
    "get_build_dir",
    "get_gds_dir",
    "get_log_dir",
    "get_max_message_bytes",
    "get_max_placements",
    "get_max_record_placements",
    "reset",
]

BUILD_DIR_VARIABLE = "TARNWICK_BUILD_DIR"
GDS_DIR_VARIABLE = "TARNWICK_GDS_DIR"
LOG_DIR_VARIABLE = "TARNWICK_LOG_DIR"
DEFAULT_BUILD_FOLDER = "tarnwick_build"
MAX_PLACEMENTS_VARIABLE = "TARNWICK_MAX_PLACEMENTS"
DEFAULT_MAX_PLACEMENTS = 50_000_000
MAX_MESSAGE_BYTES_VARIABLE = "TARNWICK_MAX_MESSAGE_BYTES"
DEFAULT_MAX_MESSAGE_BYTES = 4 << 30
MAX_RECORD_PLACEMENTS_VARIABLE = "TARNWICK_MAX_RECORD_PLACEMENTS"
DEFAULT_MAX_RECORD_PLACEMENTS = 1_000_000


def get_build_dir() -> Path:
    """The build directory (schema files go below it)."""
    value = os.environ.get(BUILD_DIR_VARIABLE)
    return Path(value) if value else Path.cwd() / DEFAULT_BUILD_FOLDER


def get_gds_dir() -> Path:
    """The directory of built GDS files."""
    value = os.environ.get(GDS_DIR_VARIABLE)
    return Path(value) if value else get_build_dir() / "gds"


def get_log_dir() -> Path:
    """The directory of per-factory error logs."""
    value = os.environ.get(LOG_DIR_VARIABLE)
    return Path(value) if value else get_build_dir() / "logs"


def _limit(variable: str, default: int) -> int:
    """The component library's parser of size limits, so every limit variable of the package takes
    and refuses the same texts (the library cannot import the host; imported here only when a
    limit is read, since the library loads KLayout)."""
    from brenvik.limits import limit_from_environment as parse

    return parse(variable, default)


def get_max_placements() -> int:
    """The most cell placements a 3D scene may hold (``TARNWICK_MAX_PLACEMENTS``, default 50
    million): a small file can ask for billions, and a scene past this refuses to be built."""
    return _limit(MAX_PLACEMENTS_VARIABLE, DEFAULT_MAX_PLACEMENTS)


def get_max_record_placements() -> int:
    """The most placements a scene may hold on the records route (``ParseGDS``, ``to_3D_viewer``,
    a replaced parser; ``TARNWICK_MAX_RECORD_PLACEMENTS``, default 1 million): there every
    placement and every path of the hierarchy becomes a Python object, so the route runs out of
    memory long before the fast route's limit."""
    return _limit(MAX_RECORD_PLACEMENTS_VARIABLE, DEFAULT_MAX_RECORD_PLACEMENTS)


def get_max_message_bytes() -> int:
    """The most bytes the names and ids of a 3D scene may take (``TARNWICK_MAX_MESSAGE_BYTES``,
    default 4 GiB): ids grow with the square of a hierarchy's depth."""
    return _limit(MAX_MESSAGE_BYTES_VARIABLE, DEFAULT_MAX_MESSAGE_BYTES)


def configure(
    build_dir: str | os.PathLike | None = None,
    gds_dir: str | os.PathLike | None = None,
    log_dir: str | os.PathLike | None = None,
) -> None:
    """Set the directories that are given (through the environment of this process)."""
    for variable, value in (
        (BUILD_DIR_VARIABLE, build_dir),
        (GDS_DIR_VARIABLE, gds_dir),
        (LOG_DIR_VARIABLE, log_dir),
    ):
        if value is not None:
            os.environ[variable] = os.fspath(value)


def reset() -> None:
    """Back to the defaults: forget every directory set through the environment."""
    for variable in (BUILD_DIR_VARIABLE, GDS_DIR_VARIABLE, LOG_DIR_VARIABLE):
        os.environ.pop(variable, None)
