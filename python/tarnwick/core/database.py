"""The factory database: one SQLite table of factory records.

The database file lives in the build directory (``factories.db``) unless another path is chosen
with `use_database`. Every operation opens its own connection and commits before returning, so the
table is always consistent on disk and readable by other processes.
"""

from __future__ import annotations

import os
import socket
import sqlite3
from collections.abc import Iterator
from contextlib import contextmanager
from pathlib import Path

from tarnwick import settings
from tarnwick.models import FactoryRecord

__all__ = [
    "DATABASE_FILE_NAME",
    "add_factories",
    "current_run",
    "get_all_factories",
    "get_busy_runs",
    "get_database_path",
    "get_factories_by_name",
    "reset_database",
    "set_factories_status_by_names",
    "sync_from_kcl",
    "use_database",
]

DATABASE_FILE_NAME = "factories.db"

_chosen_path: Path | None = None

_SCHEMA = """
CREATE TABLE IF NOT EXISTS factories (
    name TEXT PRIMARY KEY,
    status TEXT NOT NULL,
    message TEXT NOT NULL DEFAULT '',
    source TEXT
);
CREATE TABLE IF NOT EXISTS busy_runs (
    name TEXT PRIMARY KEY,
    run TEXT NOT NULL
);
"""


def get_database_path() -> Path:
    """The database file in use."""
    if _chosen_path is not None:
        return _chosen_path
    return settings.get_build_dir() / DATABASE_FILE_NAME


def use_database(path: str | os.PathLike) -> None:
    """Use the database file at `path` from now on (created on first use)."""
    global _chosen_path
    _chosen_path = Path(path)


def reset_database() -> None:
    """Use the default database file in the build directory again."""
    global _chosen_path
    _chosen_path = None


@contextmanager
def _connect() -> Iterator[sqlite3.Connection]:
    path = get_database_path()
    path.parent.mkdir(parents=True, exist_ok=True)
    connection = sqlite3.connect(path)
    try:
        connection.executescript(_SCHEMA)
        with connection:
            yield connection
    finally:
        connection.close()


def _stored(text: str | None) -> str | bytes | None:
    """`text` as the table holds it: unchanged, or, when it has no UTF-8 form (a lone surrogate,
    as in a file name decoded with "surrogateescape"), as its "surrogatepass" bytes. Every name
    can so be marked, looked up and given an error record."""
    if text is None:
        return None
    try:
        text.encode("utf-8")
    except UnicodeEncodeError:
        return text.encode("utf-8", "surrogatepass")
    return text


def _loaded(value: str | bytes | None) -> str | None:
    """The text that `_stored` turned into `value`."""
    return value.decode("utf-8", "surrogatepass") if isinstance(value, bytes) else value


def _record(row: tuple) -> FactoryRecord:
    name, status, message, source = (_loaded(value) for value in row)
    return FactoryRecord(name=name, status=status, message=message, source=source)


def current_run() -> str:
    """This process as the run that marks factories BUSY: "<host> <boot id> <pid> <start>", with
    the process's start time in clock ticks since boot (field 22 of /proc/<pid>/stat), so that a
    reused pid is not taken for the same run."""
    pid = os.getpid()
    try:
        boot = Path("/proc/sys/kernel/random/boot_id").read_text().strip()
        stat = Path(f"/proc/{pid}/stat").read_text()
        start = stat[stat.rindex(")") + 2 :].split()[19]
    except (OSError, ValueError, IndexError):
        boot, start = "-", "-"
    return f"{socket.gethostname()} {boot} {pid} {start}"


def _source_paths(names: tuple[str, ...]) -> dict[str, str | None]:
    """The source path of each named factory that the active PDK has, as `sync_from_kcl`
    records it. Best effort: a PDK that cannot be asked gives no paths."""
    import brenvik

    try:
        cells = brenvik.get_active_pdk().cells
        paths = {}
        for name in dict.fromkeys(names):
            if name in cells:
                source = brenvik.cell_source_path(cells[name])
                paths[name] = None if source is None else str(source)
        return paths
    except Exception:  # noqa: BLE001 - the status must be written even without a source path
        return {}


def set_factories_status_by_names(*names: str, status: str) -> None:
    """Give the named factories `status`; a factory without a row gets a new one.

    A row without a source path gets the one of the PDK's cell, so that the first build of a
    fresh database can find a schematic's file just as later ones do. A BUSY mark records this
    process as the factory's run (`get_busy_runs`); any other status clears it."""
    sources = _source_paths(names)
    keys = [(_stored(name),) for name in names]
    with _connect() as connection:
        connection.executemany(
            "INSERT INTO factories (name, status, source) VALUES (?, ?, ?) "
            "ON CONFLICT(name) DO UPDATE SET status = excluded.status, "
            "source = COALESCE(factories.source, excluded.source)",
            [(key, status, _stored(sources.get(name))) for (key,), name in zip(keys, names)],
        )
        if status == "BUSY":
            run = current_run()
            connection.executemany(
                "INSERT OR REPLACE INTO busy_runs (name, run) VALUES (?, ?)",
                [(key, run) for (key,) in keys],
            )
        else:
            connection.executemany("DELETE FROM busy_runs WHERE name = ?", keys)


def get_busy_runs() -> dict[str, str]:
    """The run (`current_run` of the process that marked it) of every BUSY factory that has one."""
    with _connect() as connection:
        rows = connection.execute(
            "SELECT busy_runs.name, busy_runs.run FROM busy_runs JOIN factories "
            "ON factories.name = busy_runs.name WHERE factories.status = 'BUSY'"
        ).fetchall()
    return {_loaded(name): run for name, run in rows}


def get_factories_by_name(*names: str) -> dict[str, FactoryRecord]:
    """The records of the named factories that exist, by name."""
    if not names:
        return {}
    placeholders = ", ".join("?" for _ in names)
    with _connect() as connection:
        rows = connection.execute(
            f"SELECT name, status, message, source FROM factories WHERE name IN ({placeholders})",
            [_stored(name) for name in names],
        ).fetchall()
    return {record.name: record for record in map(_record, rows)}


def get_all_factories() -> dict[str, FactoryRecord]:
    """Every record of the table, by name, in name order."""
    with _connect() as connection:
        rows = connection.execute(
            "SELECT name, status, message, source FROM factories ORDER BY name"
        ).fetchall()
    return {record.name: record for record in map(_record, rows)}


def add_factories(*records: FactoryRecord) -> None:
    """Store `records`, replacing the rows of the same factories; a record without a source
    path keeps the one the row has (the path belongs to the factory, not to one build)."""
    with _connect() as connection:
        connection.executemany(
            "INSERT INTO factories (name, status, message, source) VALUES (?, ?, ?, ?) "
            "ON CONFLICT(name) DO UPDATE SET status = excluded.status, "
            "message = excluded.message, source = COALESCE(excluded.source, factories.source)",
            [tuple(map(_stored, (r.name, r.status, r.message, r.source))) for r in records],
        )
        connection.executemany(
            "DELETE FROM busy_runs WHERE name = ?", [(_stored(r.name),) for r in records]
        )


def sync_from_kcl() -> None:
    """Bring the table in line with the active PDK's cells.

    Every cell of the active PDK gets a row (status UNKNOWN when it is new) and its current source
    path; rows of factories the PDK no longer has are left alone, so their history stays readable.
    """
    import brenvik

    pdk = brenvik.get_active_pdk()
    rows = []
    for name, cell_function in pdk.cells.items():
        source = brenvik.cell_source_path(cell_function)
        rows.append((_stored(name), "UNKNOWN", None if source is None else _stored(str(source))))
    with _connect() as connection:
        connection.executemany(
            "INSERT INTO factories (name, status, source) VALUES (?, ?, ?) "
            "ON CONFLICT(name) DO UPDATE SET source = excluded.source",
            rows,
        )
