"""Every test runs against fresh host state: its own build, GDS and log directories, its own
factory database, an empty message channel, no static records and the demo PDK active."""

from __future__ import annotations

import signal

import pytest

from tarnwick import settings
from tarnwick.core import callgraph, communication, database


def pytest_configure(config):
    # Started in the background by a shell without job control (nohup, `&` in a script), the run
    # inherits SIGINT ignored, and so does every command a test starts: Python keeps an ignored
    # SIGINT, and a test that stops a command with SIGINT would wait for it in vain. The commands
    # get the usual disposition back, as from a terminal.
    if signal.getsignal(signal.SIGINT) is signal.SIG_IGN:
        signal.signal(signal.SIGINT, signal.default_int_handler)


@pytest.fixture(autouse=True)
def host_sandbox(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    settings.configure(
        build_dir=tmp_path / "build", gds_dir=tmp_path / "gds", log_dir=tmp_path / "logs"
    )
    database.use_database(tmp_path / "factories.db")
    communication.clear_messages()
    callgraph.clear_static_records()
    yield tmp_path
    settings.reset()
    database.reset_database()
    communication.clear_messages()
    callgraph.clear_static_records()
    try:
        from tarnwick.core.pdk import reset_pdk

        reset_pdk()
    except ModuleNotFoundError:
        pass
