"""A full disk is a failed build, never a success: the GDS directory on a 4 KiB file system (a
private tmpfs mount in a child process), where the GDS writer cuts a file short or leaves it empty
without saying so."""

from __future__ import annotations

import json
import os
import shutil
import subprocess
import sys
import textwrap

import klayout.db as kdb
import pytest

BUILD = textwrap.dedent(
    """
    import errno, json, os, sys
    from tarnwick.cli import main

    codes = [main(["build", "ring"])]
    # Fill what is left, so that the next file gets no byte at all.
    filler = os.open(os.path.join(sys.argv[1], "filler"), os.O_WRONLY | os.O_CREAT)
    try:
        while True:
            os.write(filler, b"x" * 512)
    except OSError as error:
        assert error.errno == errno.ENOSPC, error
    codes.append(main(["build", "straight"]))
    print(json.dumps(codes))
    """
)


def _private_mount_possible() -> bool:
    unshare = shutil.which("unshare")
    if unshare is None or os.geteuid() != 0:
        return False
    return subprocess.run([unshare, "--mount", "true"], check=False).returncode == 0


@pytest.mark.skipif(
    not _private_mount_possible(), reason="mounting a tiny tmpfs needs root and unshare --mount"
)
def test_gds_files_on_a_full_disk_are_errors_and_leave_nothing_behind(tmp_path):
    gds_dir, build_dir = tmp_path / "gds", tmp_path / "build"
    gds_dir.mkdir()
    env = {k: v for k, v in os.environ.items() if not k.startswith("TARNWICK_")}
    env.update(TARNWICK_BUILD_DIR=str(build_dir), TARNWICK_GDS_DIR=str(gds_dir))
    run = subprocess.run(
        [
            "unshare",
            "--mount",
            "sh",
            "-c",
            'mount -t tmpfs -o size=4k tarnwick-full "$1" && shift && exec "$@"',
            "mount",
            str(gds_dir),
            sys.executable,
            "-c",
            BUILD,
            str(gds_dir),
        ],
        check=False,
        cwd=tmp_path,
        env=env,
        capture_output=True,
        text=True,
        timeout=300,
    )
    assert run.returncode == 0, run.stderr
    lines = run.stdout.splitlines()
    assert json.loads(lines[-1]) == [1, 1]
    # The library's writer or the build's own check of the file finds the cut: either says so.
    assert lines[0].startswith("ring: error: ") and "is the disk full?" in lines[0]
    assert lines[2].startswith("straight: error: ")
    assert any(
        reason in lines[2]
        for reason in ("it is empty", "No space left on device", "is the disk full?")
    )

    # The mount is gone with the child: the directory holds what was written before it, nothing.
    assert list(gds_dir.iterdir()) == []
    for name in ("ring", "straight"):
        log = (build_dir / "logs" / f"{name}.log").read_text()
        assert log.startswith(f"Build Error for {name}\n")
        assert "Error Message: Failed to save component " + name + ": " in log


def test_a_gds_file_refused_as_incomplete_leaves_the_older_file(tmp_path, use_cells, monkeypatch):
    """The check itself, without a full disk: a writer that stops short in silence."""
    import build_cells
    from brenvik import Component

    from tarnwick import settings
    from tarnwick.core import build

    use_cells({"a": build_cells.square_cell("a")})
    assert build._build_by_name("a") is None
    target = settings.get_gds_dir() / "a.gds"
    complete = target.read_bytes()

    def cut_short(self, path, with_metadata=True):
        written = original(self, path, with_metadata=with_metadata)
        with open(path, "r+b") as file:
            file.truncate(len(complete) // 2)
        return written

    original = Component.write_gds
    monkeypatch.setattr(Component, "write_gds", cut_short)
    record = build._build_by_name("a")
    assert record is None or record.status == "ERROR"
    assert target.read_bytes() == complete
    assert [p.name for p in target.parent.iterdir()] == ["a.gds"]
    layout = kdb.Layout()
    layout.read(str(target))
    assert layout.top_cell() is not None
