"""Files written whole or not at all.

A file is written under a temporary name in its own directory, flushed to disk, and only then
renamed over the target, so a reader never sees a half-written file and a failed write (a full
disk, a target that is a directory, a missing parent) raises ``OSError`` and leaves neither a
partial file nor the temporary one behind. An existing target keeps its content on failure.
"""

from __future__ import annotations

import contextlib
import errno
import os
import stat
import tempfile
from collections.abc import Iterator
from pathlib import Path
from typing import BinaryIO

from tarnwick import interrupts

__all__ = ["check_writable", "write_bytes", "write_text", "written_together"]


def _creation_mode() -> int:
    """The permission bits a plain ``open(path, "w")`` would give a new file (0o666 less the
    umask); the temporary file starts out private, and gets these before it is renamed."""
    try:
        with open("/proc/self/status", encoding="ascii") as status:
            for line in status:
                if line.startswith("Umask:"):
                    return 0o666 & ~int(line.split()[1], 8)
    except (OSError, ValueError):
        pass
    mask = os.umask(0o022)
    os.umask(mask)
    return 0o666 & ~mask


def _target(path: str | os.PathLike) -> Path:
    """The file to replace: a symbolic link is followed, so the link stays and its file changes.

    Anything but a regular file or a missing one is refused: renaming over a directory, a device
    such as /dev/full or a pipe would replace it, not write into it."""
    target = Path(os.path.realpath(path))
    try:
        mode = target.stat().st_mode
    except FileNotFoundError:
        return target
    if stat.S_ISDIR(mode):
        raise IsADirectoryError(errno.EISDIR, "Is a directory", str(path))
    if not stat.S_ISREG(mode):
        raise OSError(f"{path} is not a regular file, so it cannot be replaced: name a file")
    return target


def check_writable(path: str | os.PathLike) -> None:
    """Raise ``OSError`` now if `path` is a place `write_bytes` must refuse or cannot reach:
    a directory or another non-regular file, a name the system cannot take, a parent whose
    nearest existing ancestor is a file, or a folder where no file can be made (read-only, or
    not ours). Missing directories pass when the nearest existing one takes new entries: callers
    create them."""
    target = _target(path)
    ancestor = target.parent
    while not os.path.lexists(ancestor) and ancestor != ancestor.parent:
        ancestor = ancestor.parent
    if not ancestor.is_dir():
        raise NotADirectoryError(errno.ENOTDIR, "Not a directory", str(ancestor))
    # Trying is the only sure test (permission bits say nothing on a read-only mount, and the
    # superuser passes them anyway); the probe is removed at once.
    try:
        descriptor, probe = tempfile.mkstemp(prefix=".tarnwick-probe.", dir=ancestor)
    except OSError as error:
        raise type(error)(error.errno, error.strerror, str(ancestor)) from None
    os.close(descriptor)
    os.unlink(probe)


def _naming(error: OSError, path: str | os.PathLike) -> OSError:
    """`error` naming `path`, the file asked for, rather than a temporary file nobody asked for
    (or nothing, as a failed write does)."""
    if error.errno is None:
        return error
    return type(error)(error.errno, error.strerror, os.fspath(path))


def _settle(file: BinaryIO, target: Path) -> None:
    """Flushes the temporary `file` to disk and gives it the mode its `target` has (or a new
    file's mode), before it is renamed over `target`."""
    file.flush()
    os.fsync(file.fileno())
    existing = target.stat().st_mode if target.exists() else None
    os.fchmod(file.fileno(), stat.S_IMODE(existing) if existing is not None else _creation_mode())


def write_bytes(path: str | os.PathLike, data: bytes) -> Path:
    """Write `data` to `path` atomically and return `path` as a ``Path``.

    The parent directory must exist. A failure raises ``OSError`` naming `path` and changes
    nothing on disk. This is the one writer of whole files: the compiled modules write theirs
    through it too."""
    target = _target(path)
    try:
        descriptor, temporary = tempfile.mkstemp(
            prefix=f".{target.name[:100]}.", suffix=".tmp", dir=target.parent
        )
    except OSError as error:
        raise _naming(error, path) from None
    try:
        with os.fdopen(descriptor, "wb") as file:
            file.write(data)
            _settle(file, target)
        os.replace(temporary, target)
    except BaseException as error:
        with contextlib.suppress(OSError):
            os.unlink(temporary)
        if isinstance(error, OSError):
            raise _naming(error, path) from None
        raise
    return Path(path)


def write_text(path: str | os.PathLike, text: str, encoding: str = "utf-8") -> Path:
    """Write `text` to `path` atomically in `encoding` (see `write_bytes`)."""
    return write_bytes(path, text.encode(encoding))


@contextlib.contextmanager
def written_together(*paths: str | os.PathLike) -> Iterator[list[BinaryIO]]:
    """Several files that appear together or not at all.

    Yields one binary file per path, each a temporary file in its target's directory. When the
    block ends normally, every file is flushed to disk and renamed over its target, with Ctrl-C
    (SIGINT) held back during the renames and raised after them; when the block raises (an
    error, a full disk, an interrupt), the temporary files are removed and no target changes. A
    rename that fails halfway takes back the ones already made (their targets are removed, as a
    file without its companion is worse than none)."""
    targets = [_target(path) for path in paths]
    opened: list[tuple[BinaryIO, str, Path]] = []
    try:
        for path, target in zip(paths, targets, strict=True):
            try:
                descriptor, temporary = tempfile.mkstemp(
                    prefix=f".{target.name[:100]}.", suffix=".tmp", dir=target.parent
                )
            except OSError as error:
                raise _naming(error, path) from None
            opened.append((os.fdopen(descriptor, "wb"), temporary, target))
        yield [file for file, _, _ in opened]
        for file, _, target in opened:
            _settle(file, target)
            file.close()
        with interrupts.held():
            placed: list[Path] = []
            try:
                for _, temporary, target in opened:
                    os.replace(temporary, target)
                    placed.append(target)
            except BaseException:
                for target in placed:
                    with contextlib.suppress(OSError):
                        os.unlink(target)
                raise
    except BaseException:
        for file, temporary, _ in opened:
            file.close()
            with contextlib.suppress(OSError):
                os.unlink(temporary)
        raise
