"""The message channel to the user interface.

Every message goes, in order, to the live viewer server when one is running (from any process:
see :mod:`tarnwick.live`) and to every subscriber of this process. The channel also keeps the
last few messages so that the command line and tests can read them back; it keeps no more than
`HISTORY_LIMIT` messages and, beyond the newest one, no more than `HISTORY_BYTES` of message
text, since one scene message of a large chip can be tens of megabytes.

Delivery to the server never raises in the caller (a failure is a logged warning); an error
raised by a subscriber reaches the caller.
"""

from __future__ import annotations

from collections import deque
from collections.abc import Callable
from typing import Any

__all__ = [
    "HISTORY_BYTES",
    "HISTORY_LIMIT",
    "clear_messages",
    "last_delivery",
    "messages",
    "send_message",
    "subscribe",
    "unsubscribe",
]

HISTORY_LIMIT = 16
HISTORY_BYTES = 64 * 1024 * 1024

_sent: deque[tuple[Any, int]] = deque()
_sent_bytes = 0
_subscribers: list[Callable[[Any], None]] = []
_last_delivery = None


def _text_size(message: Any) -> int:
    content = getattr(message, "content", None)
    return len(content) if isinstance(content, str) else 0


def _remember(message: Any) -> None:
    global _sent_bytes
    size = _text_size(message)
    _sent.append((message, size))
    _sent_bytes += size
    while len(_sent) > HISTORY_LIMIT or (len(_sent) > 1 and _sent_bytes > HISTORY_BYTES):
        _, dropped = _sent.popleft()
        _sent_bytes -= dropped


def _deliver(message: Any) -> None:
    global _last_delivery
    _last_delivery = None
    try:
        from tarnwick.live.delivery import deliver

        _last_delivery = deliver(message)
    except Exception as error:  # noqa: BLE001 (the caller's work is done: never fail it over the viewer)
        from tarnwick.logger import get_logger

        get_logger().warning(
            f"{type(message).__name__} not delivered to the live viewer: "
            f"{type(error).__name__}: {error}"
        )


def send_message(message: Any) -> None:
    """Deliver `message` to the user interface."""
    _remember(message)
    _deliver(message)
    for subscriber in _subscribers:
        subscriber(message)


def messages() -> list[Any]:
    """The last messages sent (at most `HISTORY_LIMIT`), oldest first (a copy)."""
    return [message for message, _ in _sent]


def clear_messages() -> None:
    """Forget the messages sent so far."""
    global _sent_bytes
    _sent.clear()
    _sent_bytes = 0


def last_delivery():
    """How the last message fared with the live viewer: a
    :class:`tarnwick.live.delivery.Delivery`, or None before the first message and after an
    unexpected error (logged)."""
    return _last_delivery


def subscribe(callback: Callable[[Any], None]) -> None:
    """Call `callback` with every message sent from now on."""
    _subscribers.append(callback)


def unsubscribe(callback: Callable[[Any], None]) -> None:
    """Stop calling `callback`."""
    _subscribers.remove(callback)
