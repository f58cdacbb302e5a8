"""One line for an expected failure of a command: what failed and what to do about it.

Expected failures are those a user can cause and mend: files and directories (missing, in the
way, not writable, a full disk, a name too long), the factory database (locked, damaged, read
only), layouts that KLayout cannot read, values refused with a ``ValueError``, and running out of
memory. Anything else is taken for a bug in the program.
"""

from __future__ import annotations

import errno
import sqlite3

__all__ = ["describe"]

_OS_HINTS = {
    errno.ENOSPC: "free some disk space and try again",
    errno.EDQUOT: "free some disk space and try again",
    errno.EFBIG: "the file is larger than this system allows; free space or raise the limit",
    errno.EACCES: "check the permissions there, or choose a place you may write to",
    errno.EPERM: "check the permissions there, or choose a place you may write to",
    errno.EROFS: "that file system is read-only: choose another place",
    errno.ENAMETOOLONG: "use a shorter name",
    errno.EISDIR: "a directory is in the way: name a file instead",
    errno.ENOTDIR: "a file is in the way where a directory is needed: move it aside",
    errno.EEXIST: "a file is in the way where a directory is needed: move it aside",
    errno.ENOENT: "check the path",
}


def _one_line(text: object) -> str:
    return " ".join(str(text).split())


def _os_error(error: OSError) -> str:
    if error.errno is None or error.strerror is None:
        return _one_line(error)
    where = error.filename if error.filename is not None else ""
    if error.filename2 is not None:
        where = f"{where} -> {error.filename2}"
    text = f"{error.strerror}: {where}" if where else error.strerror
    hint = _OS_HINTS.get(error.errno)
    return _one_line(f"{text} ({hint})" if hint else text)


def _database_error(error: sqlite3.Error) -> str:
    try:
        from tarnwick.core.database import get_database_path

        database = f"the factory database {get_database_path()}"
    except Exception:  # noqa: BLE001 - the line is still worth printing without the path
        database = "the factory database"
    text = _one_line(error)
    lowered = text.lower()
    if "locked" in lowered or "busy" in lowered:
        hint = "another run is using it: let that finish and try again"
    elif "not a database" in lowered or "malformed" in lowered or "corrupt" in lowered:
        hint = "it is damaged: move it aside, and the next run starts a new one"
    elif "readonly" in lowered or "read-only" in lowered or "unable to open" in lowered:
        hint = "check that its directory exists and may be written to"
    elif "disk" in lowered and "full" in lowered:
        hint = "free some disk space and try again"
    else:
        hint = "check the file, or move it aside to start a new one"
    return f"{database}: {text} ({hint})"


def _read_error(text: str) -> str:
    """KLayout's reader errors end in " in Layout.read" and name the file and position."""
    text = text.removesuffix(" in Layout.read").rstrip(" ,")
    return f"cannot read the layout: {text} (check that the file is a complete GDS or OASIS file)"


def describe(error: BaseException) -> str | None:
    """The one-line description of `error` if it is an expected failure, else None."""
    if isinstance(error, sqlite3.Error):
        return _database_error(error)
    if isinstance(error, OSError):
        return _os_error(error)
    if isinstance(error, MemoryError):
        text = _one_line(error)
        detail = f" ({text})" if text else ""
        return f"out of memory{detail}: the layout is too large for this machine"
    if isinstance(error, RecursionError | NotImplementedError):
        return None
    if isinstance(error, RuntimeError):
        text = _one_line(error)
        return _read_error(text) if text.endswith("in Layout.read") else text
    if isinstance(error, ValueError):
        return _one_line(error) or type(error).__name__
    return None
