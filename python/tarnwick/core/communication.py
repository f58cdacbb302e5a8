"""The message channel to the user interface.

Messages are delivered in order to every subscriber and kept in the channel so that the command
line and tests can read them back.
"""

from __future__ import annotations

from collections.abc import Callable
from typing import Any

__all__ = ["send_message", "messages", "clear_messages", "subscribe", "unsubscribe"]

_sent: list[Any] = []
_subscribers: list[Callable[[Any], None]] = []


def send_message(message: Any) -> None:
    """Deliver `message` to the user interface."""
    _sent.append(message)
    for subscriber in list(_subscribers):
        subscriber(message)


def messages() -> list[Any]:
    """The messages sent so far, oldest first (a copy)."""
    return list(_sent)


def clear_messages() -> None:
    """Forget the messages sent so far."""
    _sent.clear()


def subscribe(callback: Callable[[Any], None]) -> None:
    """Call `callback` with every message sent from now on."""
    _subscribers.append(callback)


def unsubscribe(callback: Callable[[Any], None]) -> None:
    """Stop calling `callback`."""
    _subscribers.remove(callback)
