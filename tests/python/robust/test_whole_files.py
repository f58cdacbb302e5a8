"""Files are written whole or not at all: a short write is an error and leaves nothing behind."""

from __future__ import annotations

import os
import subprocess
import sys
import textwrap

import pytest
from tarnwick.files import write_text
from tarnwick.models import DepthviewMessage


def leftovers(directory):
    return sorted(p.name for p in directory.iterdir())


def test_replaces_the_target_keeping_its_mode(tmp_path):
    target = tmp_path / "scene.json"
    DepthviewMessage(content="first").write(target)
    assert oct(target.stat().st_mode & 0o777) == oct(0o666 & ~current_umask())
    target.chmod(0o640)
    link = tmp_path / "link.json"
    link.symlink_to(target)
    write_text(link, "second")
    assert link.is_symlink() and target.read_text() == "second"
    assert target.stat().st_mode & 0o777 == 0o640
    assert leftovers(tmp_path) == ["link.json", "scene.json"]


def current_umask():
    mask = os.umask(0)
    os.umask(mask)
    return mask


@pytest.mark.parametrize("kind", ["directory", "missing parent", "device"])
def test_bad_targets_fail_and_leave_nothing(tmp_path, kind):
    (tmp_path / "out").mkdir()
    target = {
        "directory": tmp_path / "out",
        "missing parent": tmp_path / "nowhere" / "scene.json",
        "device": "/dev/null",
    }[kind]
    with pytest.raises(OSError):
        DepthviewMessage(content="{}").write(target)
    assert leftovers(tmp_path) == ["out"] and leftovers(tmp_path / "out") == []
    assert os.path.exists("/dev/null") and not os.path.isfile("/dev/null")


# Runs in a child whose file size limit is 4 KiB, as if the disk filled up after 4 KiB: every
# writer must raise, keep the old file as it was and leave no temporary file.
SHORT_WRITE = textwrap.dedent(
    """
    import os, resource, signal, sys
    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))
    import brenvik
    from tarnwick.models import DepthviewMessage
    from tarnwick.viewer_page import write_page
    folder = sys.argv[1]
    writers = {
        "message.json": lambda p: DepthviewMessage(content="x" * 100_000).write(p),
        "page.html": lambda p: write_page("{}", p),
        "chip.gds": lambda p: brenvik.get_component("demo_chip").write_gds(p),
    }
    for name, write in writers.items():
        path = os.path.join(folder, name)
        with open(path, "w") as old:
            old.write("old")
        try:
            write(path)
        except OSError as error:
            print(name, "failed", error.errno)
        else:
            print(name, "succeeded", os.path.getsize(path))
    """
)


def test_a_short_write_is_an_error_and_keeps_the_old_file(tmp_path):
    result = subprocess.run(
        [sys.executable, "-c", SHORT_WRITE, str(tmp_path)],
        check=False,
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert [line.split()[:2] for line in lines] == [
        ["message.json", "failed"],
        ["page.html", "failed"],
        ["chip.gds", "failed"],
    ], result.stdout
    assert leftovers(tmp_path) == ["chip.gds", "message.json", "page.html"]
    for name in leftovers(tmp_path):
        assert (tmp_path / name).read_text() == "old"
