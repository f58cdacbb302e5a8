"""The server file: where a running live server listens and the token it wants.

The server writes ``server.json`` below ``<build dir>/live`` (or at the path in
``TARNWICK_SERVER_FILE``) while it runs and removes it when it stops; any process that sends
messages reads it to find the server. The file is created readable and writable by its owner
only, and a reader ignores a file that anyone else could have written or read, so a token never
comes from, or goes to, another user.

Every start makes a new random token, which exists only in this file and in the addresses of the
pages the server hands out.
"""

from __future__ import annotations

import json
import os
import secrets
import stat
from dataclasses import asdict, dataclass
from pathlib import Path

__all__ = [
    "SERVER_FILE_VARIABLE",
    "ServerFileError",
    "ServerInfo",
    "read_server_file",
    "remove_server_file",
    "server_file_path",
    "write_server_file",
]

SERVER_FILE_VARIABLE = "TARNWICK_SERVER_FILE"
_PRIVATE = 0o600


class ServerFileError(OSError):
    """A server or token file exists but cannot be trusted or read."""


@dataclass(frozen=True)
class ServerInfo:
    """What a sender needs to reach a running server."""

    url: str  # base URL to connect to, on a loopback address when the server listens on all
    token: str
    pid: int
    max_message_bytes: int

    @property
    def page_url(self) -> str:
        """The viewer page's address, token included."""
        return f"{self.url}/?token={self.token}"


def server_file_path() -> Path:
    """The server file: ``TARNWICK_SERVER_FILE`` when set, else below the build directory."""
    explicit = os.environ.get(SERVER_FILE_VARIABLE)
    if explicit:
        return Path(explicit)
    from tarnwick.settings import get_build_dir

    return get_build_dir() / "live" / "server.json"


def _check_private(path: Path, status: os.stat_result) -> None:
    if status.st_uid != os.getuid():
        raise ServerFileError(f"{path} belongs to another user (uid {status.st_uid})")
    if stat.S_IMODE(status.st_mode) & 0o077:
        raise ServerFileError(
            f"{path} is open to other users (mode {stat.S_IMODE(status.st_mode):o}, expected 600)"
        )


def _read_private(path: Path) -> str | None:
    """The text of an owner-only file, None when there is none; refuses any other file.

    The file is opened first and checked through its descriptor, so a file swapped in between
    check and read is never trusted.
    """
    try:
        descriptor = os.open(path, os.O_RDONLY | os.O_NOFOLLOW)
    except FileNotFoundError:
        return None
    except OSError as error:
        raise ServerFileError(f"cannot open {path}: {error.strerror}") from error
    with os.fdopen(descriptor, "rb") as file:
        _check_private(path, os.fstat(file.fileno()))
        data = file.read(1 << 16)
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError as error:
        raise ServerFileError(f"{path} is not UTF-8 text") from error


def read_server_file(path: Path | None = None) -> ServerInfo | None:
    """The server named by the server file, or None when there is no file."""
    path = path or server_file_path()
    text = _read_private(path)
    if text is None:
        return None
    try:
        data = json.loads(text)
        return ServerInfo(
            url=str(data["url"]),
            token=str(data["token"]),
            pid=int(data["pid"]),
            max_message_bytes=int(data["max_message_bytes"]),
        )
    except (ValueError, KeyError, TypeError) as error:
        raise ServerFileError(f"{path} is not a server file: {error}") from error


def _make_private_dir(directory: Path) -> None:
    directory.mkdir(parents=True, exist_ok=True, mode=0o700)


def _write_exclusive(path: Path, text: str) -> None:
    """Create `path` (owner-only) holding `text`; FileExistsError when it exists already.

    The text goes to a temporary file first and is linked into place, so a reader sees either no
    file or the complete one, and two writers cannot both succeed.
    """
    _make_private_dir(path.parent)
    temporary = path.with_name(f".{path.name}.{os.getpid()}.{secrets.token_hex(4)}")
    descriptor = os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_EXCL, _PRIVATE)
    try:
        with os.fdopen(descriptor, "w", encoding="utf-8") as file:
            file.write(text)
        os.link(temporary, path)
    finally:
        temporary.unlink(missing_ok=True)


def write_server_file(info: ServerInfo, path: Path | None = None) -> Path:
    """Write the server file; FileExistsError when one exists (the caller decides if stale)."""
    path = path or server_file_path()
    _write_exclusive(path, json.dumps(asdict(info), indent=2) + "\n")
    return path


def remove_server_file(info: ServerInfo, path: Path | None = None) -> bool:
    """Remove the server file if it still names the server `info`; whether it was removed."""
    path = path or server_file_path()
    try:
        current = read_server_file(path)
    except ServerFileError:
        return False
    if current is None or current.pid != info.pid or current.token != info.token:
        return False
    path.unlink(missing_ok=True)
    return True
