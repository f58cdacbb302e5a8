"""Ctrl-C held back while a block runs, then delivered as usual.

Python runs its SIGINT handler at the next Python code it executes, wherever that is. When large
layouts are freed, that code is often a weak-reference callback or a finaliser (the component
library's registries), and a ``KeyboardInterrupt`` raised there is printed as "Exception ignored"
and dropped: the command would run on as if nothing had happened. `held` records the signal
instead while its block runs, and once the block is over delivers it to the handler that was in
place, so the interrupt is raised where the caller can see it.
"""

from __future__ import annotations

import contextlib
import signal
import threading
from collections.abc import Iterator

__all__ = ["held"]


@contextlib.contextmanager
def held() -> Iterator[None]:
    """SIGINT held back for the block and delivered after it (also when the block raised).

    Only the main thread receives signals; elsewhere the block runs as it is."""
    if threading.current_thread() is not threading.main_thread():
        yield
        return
    caught: list[int] = []
    previous = signal.signal(signal.SIGINT, lambda number, frame: caught.append(number))
    try:
        yield
    finally:
        # None: a handler set outside Python, which signal.signal cannot put back by itself.
        signal.signal(signal.SIGINT, signal.SIG_DFL if previous is None else previous)
        if caught:
            # Delivered anew, so the previous handler decides (KeyboardInterrupt by default).
            signal.raise_signal(signal.SIGINT)
