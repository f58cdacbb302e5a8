"""The live viewer: a local server that shows every scene sent through the host channel in the
browser pages open on it.

- :mod:`tarnwick.live.server`: the server (``tarnwick serve``).
- :mod:`tarnwick.live.delivery`: delivery of one message to it from any process (used by
  :mod:`tarnwick.core.communication`).
- :mod:`tarnwick.live.server_file`: the owner-only file that tells senders where it listens.
- :mod:`tarnwick.live.security`: the checks every request passes.
- :mod:`tarnwick.live.watch`: change detection for ``tarnwick watch``.
"""

__all__ = ["DEFAULT_HOST", "DEFAULT_MAX_MESSAGE_BYTES", "DEFAULT_PORT"]

DEFAULT_HOST = "127.0.0.1"
DEFAULT_PORT = 8731
DEFAULT_MAX_MESSAGE_BYTES = 256 * 1024 * 1024  # one message; a large chip's scene is tens of MiB
