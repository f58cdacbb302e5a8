"""`tarnwick view` writes the message and its page together: both appear or neither, whatever
stops the writing, and a folder that takes no files is refused before any conversion."""

from __future__ import annotations

import errno
import os

import pytest
import tarnwick.viewer_page
from tarnwick.cli import main

from tarnwick.core import depthview


@pytest.mark.parametrize(
    ("stop", "status"),
    [
        (KeyboardInterrupt(), 130),
        (MemoryError(), 1),
        (OSError(errno.ENOSPC, "No space left on device"), 1),
    ],
)
def test_message_and_page_appear_together_or_not_at_all(
    tmp_path, monkeypatch, capsys, stop, status
):
    pieces = tarnwick.viewer_page._pieces

    def stopping(content):  # the first piece is written, then the writing stops
        yield next(pieces(content))
        raise stop

    monkeypatch.setattr(tarnwick.viewer_page, "_CHUNK", 1000)
    monkeypatch.setattr(tarnwick.viewer_page, "_pieces", stopping)
    old = {tmp_path / "ring.json": "old message", tmp_path / "ring.html": "old page"}
    for path, text in old.items():
        path.write_text(text)
    assert main(["view", "ring", "-o", str(tmp_path / "ring.json")]) == status
    assert sorted(os.listdir(tmp_path)) == ["ring.html", "ring.json"], "no temporary file left"
    assert {path: path.read_text() for path in old} == old

    monkeypatch.setattr(tarnwick.viewer_page, "_pieces", pieces)
    assert main(["view", "ring", "-o", str(tmp_path / "ring.json")]) == 0
    message = (tmp_path / "ring.json").read_text()
    assert message.startswith("{") and message in (tmp_path / "ring.html").read_text()
    capsys.readouterr()


def test_a_folder_that_takes_no_files_is_refused_before_the_conversion(
    tmp_path, monkeypatch, capsys
):
    def converted(*args, **kwargs):
        raise AssertionError("the conversion ran")

    monkeypatch.setattr(depthview, "depthview", converted)
    if os.geteuid() == 0:  # permission bits do not stop the superuser; sysfs takes no new files
        folder = "/sys"
    else:
        folder = tmp_path / "read-only"
        folder.mkdir()
        folder.chmod(0o555)
    assert main(["view", "ring", "-o", f"{folder}/out/ring.json"]) == 1
    err = capsys.readouterr().err.strip().splitlines()
    assert len(err) == 1 and err[0].startswith("tarnwick view: error: ") and str(folder) in err[0]
