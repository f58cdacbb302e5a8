"""The host message channel: a bounded history, delivery to a running server in order, a single
notice when none runs, and a warning (never an exception) when delivery fails."""

from __future__ import annotations

import logging
import os
import socket
import threading

import pytest
from tarnwick.live import delivery
from tarnwick.live.server_file import ServerInfo, write_server_file
from tarnwick.models import DepthviewMessage, ReloadFactoriesMessage, ReloadLayoutMessage

from tarnwick.core import communication

from .conftest import page_frames


@pytest.fixture
def fresh_notice(monkeypatch):
    monkeypatch.setattr(delivery, "_notice_given", False)


def test_history_keeps_only_the_last_messages(monkeypatch):
    for number in range(communication.HISTORY_LIMIT + 5):
        communication.send_message(ReloadLayoutMessage(cell=f"c{number}"))
    kept = communication.messages()
    assert len(kept) == communication.HISTORY_LIMIT
    assert kept[0].cell == "c5" and kept[-1].cell == f"c{communication.HISTORY_LIMIT + 4}"

    communication.clear_messages()
    monkeypatch.setattr(communication, "HISTORY_BYTES", 1000)
    scenes = [DepthviewMessage(content="{}" + " " * 600) for _ in range(3)]
    small = ReloadFactoriesMessage()
    for message in (scenes[0], scenes[1], small, scenes[2]):
        communication.send_message(message)
    assert communication.messages() == [small, scenes[2]]
    communication.clear_messages()
    huge = DepthviewMessage(content="{}" + " " * 5000)
    communication.send_message(huge)  # the newest message is kept whatever its size
    assert communication.messages() == [huge]


def test_without_a_server_sending_works_with_one_notice(fresh_notice, caplog):
    caplog.set_level(logging.DEBUG, logger="tarnwick")
    for cell in ("a", "b"):
        communication.send_message(ReloadLayoutMessage(cell=cell))
    assert [m.cell for m in communication.messages()] == ["a", "b"]
    notices = [r for r in caplog.records if "no live viewer running" in r.getMessage()]
    assert len(notices) == 1 and notices[0].levelname == "INFO"
    assert "tarnwick serve" in notices[0].getMessage()
    assert not communication.last_delivery().delivered


def test_messages_reach_the_open_pages_in_order(live_server):
    scene = DepthviewMessage(content='{"type": "data", "data": {"name": "Cells"}}')
    sent = [ReloadLayoutMessage(cell="ring"), scene, ReloadFactoriesMessage()]

    def send():
        for message in sent:
            communication.send_message(message)

    frames = page_frames(live_server.info, send, 3)
    assert [f["type"] for f in frames] == [type(m).__name__ for m in sent]
    assert [f["seq"] for f in frames] == [1, 2, 3]
    assert frames[0]["message"] == {"cell": "ring"}
    assert frames[1]["message"]["content"] == scene.content
    assert communication.last_delivery().delivered and communication.last_delivery().pages == 1
    assert communication.messages() == sent


def _closing_listener():
    """A port where something accepts connections and closes them at once."""
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen()

    def serve():
        while True:
            try:
                connection, _ = listener.accept()
            except OSError:
                return
            connection.recv(65536)
            connection.close()

    threading.Thread(target=serve, daemon=True).start()
    return listener


def _free_port() -> int:
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


@pytest.mark.parametrize("fault", ["gone", "broken", "untrusted", "too large", "garbled"])
def test_a_failed_delivery_is_logged_never_raised(fault, fresh_notice, caplog):
    caplog.set_level(logging.INFO, logger="tarnwick")
    listener = _closing_listener()
    port = listener.getsockname()[1] if fault == "broken" else _free_port()
    info = ServerInfo(f"http://127.0.0.1:{port}", "t" * 43, os.getpid(), 100)
    path = write_server_file(info)
    if fault == "untrusted":
        path.chmod(0o644)
    elif fault == "garbled":
        path.unlink()
        path.write_text("{not json")
        path.chmod(0o600)
    message = DepthviewMessage(content="{}" + " " * (200 if fault == "too large" else 0))
    try:
        communication.send_message(message)
    finally:
        listener.close()
    assert communication.messages() == [message]
    outcome = communication.last_delivery()
    assert not outcome.delivered
    (record,) = [r for r in caplog.records if "live viewer" in r.getMessage()]
    expected = {
        "gone": ("INFO", "is gone"),
        "broken": ("WARNING", "not delivered"),
        "untrusted": ("WARNING", "open to other users"),
        "too large": ("WARNING", "message too large"),
        "garbled": ("WARNING", "not a server file"),
    }[fault]
    assert (record.levelname, expected[1] in record.getMessage()) == (expected[0], True), (
        record.getMessage()
    )
