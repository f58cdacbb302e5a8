"""The one failure path of the commands: exit statuses, and one line for every failure.

Expected failures are those a user can cause and mend: files and directories (missing, in the
way, not writable, a full disk, a name too long), the factory database (locked, damaged, read
only), layouts that KLayout cannot read, values refused with a ``ValueError``, running out of
memory, and what a command raises as `Failed` (the work failed) or `UsageError` (the command line
asks for something that cannot be done). Anything else is taken for a bug in the program.

`report` prints the line of any failure (with the traceback under ``--debug``) and gives the exit
status; every text from the user or a file passes through `shown` before it reaches the terminal.
"""

from __future__ import annotations

import errno
import logging
import sqlite3
import sys
import traceback
import unicodedata

__all__ = [
    "EXIT_STATUSES",
    "FAILED",
    "INTERRUPTED",
    "OK",
    "USAGE",
    "Failed",
    "ShownLogLines",
    "UsageError",
    "describe",
    "failure_text",
    "report",
    "shown",
    "shown_lines",
    "text_of",
]

#: Exit statuses, the same in every command.
OK, FAILED, USAGE, INTERRUPTED = 0, 1, 2, 130

#: The table for ``tarnwick --help``.
EXIT_STATUSES = f"""exit status (the same in every command):
  {OK:<4} success
  {FAILED:<4} the work failed: an unknown cell, a missing or unreadable file, a build that
       produced errors or was stopped (one line on stderr says what and why)
  {USAGE:<4} usage: bad arguments or option values, unusable technology input
  {INTERRUPTED:<4} interrupted (Ctrl-C); serve and watch, which run until stopped, end with 0

--debug (before or after the command) adds the traceback of a failure."""


class Failed(Exception):
    """The work of a command failed for the reason its text gives (exit status 1)."""


class UsageError(Exception):
    """The command line asks for something that cannot be done (exit status 2)."""


_UNPRINTABLE = "<exception str() failed>"


def text_of(error: BaseException) -> str:
    """str(error), or a placeholder when the error's own ``__str__`` fails."""
    try:
        return str(error)
    except Exception:  # noqa: BLE001 - the failure is still worth reporting without its text
        return _UNPRINTABLE


def _escape(char: str) -> str:
    code = ord(char)
    if code <= 0xFF:
        return f"\\x{code:02x}"
    return f"\\u{code:04x}"


#: Marks that reorder the text around them on screen (a name could pose as another).
_BIDI_CONTROLS = frozenset(
    "\u200e\u200f\u061c\u202a\u202b\u202c\u202d\u202e\u2066\u2067\u2068\u2069"
)


def shown(text: object) -> str:
    """`text` as it may be printed to a terminal: control characters (escape sequences, carriage
    returns, line feeds, ...), bidirectional controls and lone surrogates (names without a UTF-8
    form) written as escapes such as \\x1b, never raw."""
    text = str(text)
    if text.isprintable():
        return text
    return "".join(
        _escape(char)
        if char in _BIDI_CONTROLS
        or (char != " " and unicodedata.category(char) in ("Cc", "Cs", "Zl", "Zp"))
        else char
        for char in text
    )


def shown_lines(text: object) -> str:
    """`shown` for each line of a text of several lines (the line feeds kept)."""
    return "\n".join(shown(line) for line in str(text).split("\n"))


class ShownLogLines(logging.Handler):
    """Log records on stderr as Python shows them when no handler is set (the message alone), with
    control characters escaped: the commands' stand-in for `logging.lastResort`."""

    def __init__(self) -> None:
        super().__init__(logging.WARNING)

    def emit(self, record: logging.LogRecord) -> None:
        try:
            print(shown_lines(self.format(record)), file=sys.stderr, flush=True)
        except Exception:  # noqa: BLE001 - as every logging handler: never fail the caller
            self.handleError(record)


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
    return " ".join((text_of(text) if isinstance(text, BaseException) else str(text)).split())


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
    if isinstance(error, Failed | UsageError):
        return _one_line(error) or type(error).__name__
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


def failure_text(error: BaseException) -> str:
    """One line for any error: its type and text, as for the work of others that failed inside a
    command (a cell's own code) or a bug."""
    text = _one_line(error)
    return f"{type(error).__name__}: {text}" if text else type(error).__name__


def report(prog: str, error: BaseException, debug: bool = False) -> int:
    """Print the one line of `error` on stderr (after its traceback under --debug) and return the
    exit status: USAGE for a `UsageError`, else FAILED. A failure that is not an expected one is a
    bug: its line says so and where to find the traceback."""
    if debug:
        traceback.print_exception(error)
    line = describe(error)
    if line is not None:
        status = USAGE if isinstance(error, UsageError) else FAILED
        print(f"{prog}: error: {shown(line)}", file=sys.stderr, flush=True)
        return status
    where = "the traceback is above" if debug else "run it again with --debug for the traceback"
    print(
        f"{prog}: internal error (a bug in tarnwick; {where}, and please report it): "
        f"{shown(failure_text(error))}",
        file=sys.stderr,
        flush=True,
    )
    return FAILED
