"""The host logger: debug, info, warning and error, each with one text."""

from __future__ import annotations

import logging

__all__ = ["LOGGER_NAME", "HostLogger", "get_logger"]

LOGGER_NAME = "tarnwick"


class HostLogger:
    """Logs single texts through Python's logging, under the logger named ``tarnwick``."""

    __slots__ = ("_logger",)

    def __init__(self, logger: logging.Logger) -> None:
        self._logger = logger

    def debug(self, text: str) -> None:
        self._logger.debug("%s", text)

    def info(self, text: str) -> None:
        self._logger.info("%s", text)

    def warning(self, text: str) -> None:
        self._logger.warning("%s", text)

    def error(self, text: str) -> None:
        self._logger.error("%s", text)


def get_logger() -> HostLogger:
    """The host logger (cheap; callers obtain it afresh at every use)."""
    return HostLogger(logging.getLogger(LOGGER_NAME))
