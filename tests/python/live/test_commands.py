"""``tarnwick view --serve`` and ``tarnwick watch``: scenes go to the running server instead of
files, and again whenever the watched file changes; without a server both say so at once."""

from __future__ import annotations

import os
import signal
import subprocess
import sys

import pytest
from brenvik import Component
from tarnwick.cli import main
from tarnwick.core.pdk import get_pdk
from tarnwick.live.watch import FileWatch, cell_source_files, wait_for_change

from .conftest import environment, page_frames, server_status, wait_until


def write_gds(path, width: float) -> None:
    from brenvik.demo_pdk.layers import DemoLayer

    component = Component(name=f"watched_{int(width)}")
    component.add_polygon([(0, 0), (width, 0), (width, 2), (0, 2)], DemoLayer.WG)
    partial = path.with_name("partial.gds")
    component.write_gds(str(partial))
    os.replace(partial, path)


@pytest.mark.parametrize("argv", [["view", "ring", "--serve"], ["watch", "ring"]])
def test_without_a_server_the_commands_say_so_and_do_nothing(argv, tmp_path, capsys):
    assert main(argv) == 1
    assert "start `tarnwick serve` first" in capsys.readouterr().err
    assert list(tmp_path.iterdir()) == []  # no files written


def test_view_serve_sends_instead_of_writing_files(live_server, tmp_path, capsys):
    codes = []
    (frame,) = page_frames(
        live_server.info, lambda: codes.append(main(["view", "ring", "--serve"])), 1
    )
    assert codes == [0]
    out = capsys.readouterr().out
    assert f"sent to the live viewer at {live_server.info.url}: 1 page" in out
    assert frame["type"] == "DepthviewMessage" and '"Layers"' in frame["message"]["content"]
    assert not (tmp_path / "out").exists()


def test_watch_sends_again_when_the_gds_file_changes(live_server, tmp_path):
    gds = tmp_path / "watched.gds"
    write_gds(gds, 10)
    watcher = []

    def watch_and_edit():
        process = subprocess.Popen(
            [sys.executable, "-m", "tarnwick.cli", "watch", str(gds), "--interval", "0.1"],
            env=environment(live_server.build_dir),
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            text=True,
        )
        watcher.append(process)
        wait_until(lambda: server_status(live_server.info)["messages"] == 1, 120, "the first send")
        write_gds(gds, 30)
        wait_until(lambda: server_status(live_server.info)["messages"] == 2, 120, "the re-send")

    try:
        first, second = page_frames(live_server.info, watch_and_edit, 2)
    finally:
        for process in watcher:
            process.send_signal(signal.SIGINT)
            try:
                out, err = process.communicate(timeout=30)
            except subprocess.TimeoutExpired:
                process.kill()  # a failed test leaves no watch running
                process.communicate()
                raise
    assert process.returncode == 0, err
    assert "watching" in out and "stopped" in out
    assert "watched_10" in first["message"]["content"]
    assert "watched_30" in second["message"]["content"]


def test_watched_files_and_change_detection(tmp_path):
    pdk = get_pdk()
    (python_source,) = cell_source_files(pdk.cells["ring"])
    assert python_source.name == "cells.py"
    (schematic,) = cell_source_files(pdk.cells["mzi"])
    assert schematic.name == "mzi.pic.yml"

    # A file still being written counts as changed only once it has stayed the same.
    path = tmp_path / "growing.gds"
    path.write_bytes(b"x")
    watch = FileWatch([path])
    writes = iter([b"xy", b"xyz", b"xyzw"])
    looks = []

    def sleep(_):
        looks.append(path.read_bytes())
        chunk = next(writes, None)
        if chunk is not None:
            path.write_bytes(chunk)

    wait_for_change(watch, 0.1, sleep)
    assert looks == [b"x", b"xy", b"xyz", b"xyzw"]  # back after the first quiet interval


def test_view_serve_sends_the_notice_of_undrawn_layers_after_the_scene(live_server, tmp_path):
    from klayout import db

    layout = db.Layout()
    layout.create_cell("top").shapes(layout.layer(300, 7)).insert(db.Box(0, 0, 10, 10))
    layout.write(str(tmp_path / "foreign.gds"))
    codes = []
    frames = page_frames(
        live_server.info,
        lambda: codes.append(main(["view", str(tmp_path / "foreign.gds"), "--serve"])),
        2,
    )
    assert codes == [0]
    assert [frame["type"] for frame in frames] == ["DepthviewMessage", "NoticeMessage"]
    text = frames[1]["message"]["text"]
    assert text.startswith("the scene is empty") and "300/7" in text
