"""Change detection for ``tarnwick watch``: which files make up a target, and when they changed.

Changes are found by polling each file's modification time and size, which works on every file
system; a change counts once the files have stayed the same for one more poll, so that a file
still being written is not read half-way.
"""

from __future__ import annotations

import inspect
import os
import sys
import time
from collections.abc import Callable, Sequence
from pathlib import Path

__all__ = ["FileWatch", "cell_source_files", "wait_for_change"]

_Signature = tuple[tuple[int, int] | None, ...]


class FileWatch:
    """Remembers the state of some files and tells when it changed."""

    def __init__(self, paths: Sequence[Path]) -> None:
        self.paths = [Path(path) for path in paths]
        self._seen = self.signature()

    def signature(self) -> _Signature:
        states = []
        for path in self.paths:
            try:
                status = path.stat()
            except OSError:
                states.append(None)  # missing for now (for example while being replaced)
            else:
                states.append((status.st_mtime_ns, status.st_size))
        return tuple(states)

    @property
    def complete(self) -> bool:
        """Whether every file was present at the last look."""
        return None not in self._seen

    def changed(self) -> bool:
        """Whether the files differ from the last time this returned True (or from the start)."""
        current = self.signature()
        if current == self._seen:
            return False
        self._seen = current
        return True


def wait_for_change(
    watch: FileWatch,
    interval: float,
    sleep: Callable[[float], None] = time.sleep,
) -> None:
    """Return once the watched files have changed and then stayed the same for `interval`, with
    every file present."""
    while not watch.changed():
        sleep(interval)
    while True:
        sleep(interval)
        if not watch.changed() and watch.complete:
            return


def cell_source_files(cell_function: Callable) -> list[Path]:
    """The files a cell is made from: its schematic (``.pic.yml``) for a schematic cell, else the
    source file of the function it wraps. ValueError when none can be found."""
    module = sys.modules.get(getattr(cell_function, "__module__", "") or "")
    schematic = getattr(module, "pic_yml_path", None)
    if schematic:
        return [Path(schematic).resolve()]
    try:
        source = inspect.getsourcefile(inspect.unwrap(cell_function))
    except TypeError:
        source = None
    if not source or not os.path.isfile(source):
        raise ValueError(f"cannot tell the source file of {cell_function!r}")
    return [Path(source).resolve()]
