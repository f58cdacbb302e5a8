"""Ctrl-C stops ``tarnwick view`` wherever it lands: status 130, one line, nothing written.

A real run in a subprocess gets SIGINT as each stage starts, and once exactly while the
component library's layouts are freed (where the interrupt used to land in a weak-reference
callback, be printed as "Exception ignored" and dropped, and the run went on to write its files).
"""

from __future__ import annotations

import os
import signal
import subprocess
import sys

import pytest
from klayout import db

# The run through the component route (as for the records), made to be interrupted at a moment
# an outside signal could hardly aim at: "freeing", by SIGINT from a finaliser of the component
# the file becomes, that is while the library's layouts are freed (where the interrupt used to be
# dropped); "removing", by an interrupt that comes while the C++ encodes the message and is seen
# by the first Python code after it, the removal of the temporary GDS file.
_INTERRUPTED_AT = """
import os, signal, sys, weakref
import brenvik
import tarnwick.core.depthview as depthview
from tarnwick.cli import main
from tarnwick.cli.progress import StageProgress

depthview._read_file_through_component = True
if sys.argv.pop(1) == "freeing":
    import_gds = brenvik.import_gds

    def interrupting_import(path):
        component = import_gds(path)
        weakref.finalize(component, os.kill, os.getpid(), signal.SIGINT)
        return component

    brenvik.import_gds = interrupting_import
else:
    progress = StageProgress.__call__

    def interrupting_progress(self, event):
        if event["stage"] == "encode":
            signal.signal(signal.SIGALRM, signal.default_int_handler)
            signal.setitimer(signal.ITIMER_REAL, 0.001)
        progress(self, event)

    StageProgress.__call__ = interrupting_progress
sys.exit(main(sys.argv[1:]))
"""


@pytest.fixture(scope="module")
def large_gds(tmp_path_factory):
    """About 40,000 distinct polygons of 20 to 70 points on M2: a run of about a second."""
    layout = db.Layout()
    layout.dbu = 0.001
    m1, m2 = layout.layer(41, 0), layout.layer(45, 0)
    top, box = layout.create_cell("big"), layout.create_cell("box")
    box.shapes(m1).insert(db.Box(0, 0, 1000, 700))
    step = (db.Vector(1500, 37), db.Vector(-41, 1200))
    top.insert(db.CellInstArray(box.cell_index(), db.Trans(), *step, 200, 200))
    rounded = db.Region(top.begin_shapes_rec(m1)).rounded_corners(100, 300, 64)
    top.clear()
    box.delete()
    top.shapes(m2).insert(rounded)
    path = tmp_path_factory.mktemp("interrupt") / "big.gds"
    layout.write(str(path))
    return path


def _interrupted_run(tmp_path, gds, prefix, when):
    """Runs `tarnwick view` on `gds` (through `prefix`) in a fresh folder, sends SIGINT once the
    line `when` appears on stderr (None: the run interrupts itself), and returns the exit status,
    the failure lines of stderr (the progress lines left out) and every file left behind."""
    work = tmp_path / f"run-{len(list(tmp_path.iterdir()))}"
    (work / "tmp").mkdir(parents=True)
    env = dict(os.environ, TMPDIR=str(work / "tmp"), TARNWICK_BUILD_DIR=str(work / "build"))
    process = subprocess.Popen(
        [*prefix, "view", str(gds), "-o", str(work / "out" / "big.json")],
        cwd=work,
        env=env,
        stdout=subprocess.DEVNULL,
        stderr=subprocess.PIPE,
        text=True,
    )
    lines = []
    for line in process.stderr:
        lines.append(line.rstrip("\n"))
        if when is not None and when in line:
            process.send_signal(signal.SIGINT)
            break
    lines += process.stderr.read().splitlines()
    status = process.wait(timeout=120)
    left = sorted(str(path.relative_to(work)) for path in work.rglob("*") if not path.is_dir())
    failures = [line for line in lines if not line.startswith("  [")]
    return status, failures, left


@pytest.mark.parametrize(
    "when",
    ["freeing", "removing", "reading the layout", "parsing", "encoding and sending"],
    ids=["while-freeing", "removing-the-temporary", "reading", "parsing", "encoding-and-writing"],
)
def test_ctrl_c_stops_the_view_with_status_130_and_nothing_written(tmp_path, large_gds, when):
    if when in ("freeing", "removing"):
        prefix, when = [sys.executable, "-c", _INTERRUPTED_AT, when], None
    else:
        prefix = [sys.executable, "-m", "tarnwick.cli"]
    status, failures, left = _interrupted_run(tmp_path, large_gds, prefix, when)
    assert (status, failures) == (130, ["tarnwick view: interrupted"])
    assert left == [], "no message, page or temporary file is left"


def test_held_interrupts_are_delivered_after_the_block_also_over_an_error():
    from tarnwick import interrupts

    handler = signal.getsignal(signal.SIGINT)
    done = []
    with pytest.raises(KeyboardInterrupt), interrupts.held():
        os.kill(os.getpid(), signal.SIGINT)
        done.append("the block ran on")
    assert done == ["the block ran on"]
    with pytest.raises(KeyboardInterrupt) as raised, interrupts.held():
        os.kill(os.getpid(), signal.SIGINT)
        raise OSError("the block failed")
    assert isinstance(raised.value.__context__, OSError)
    assert signal.getsignal(signal.SIGINT) is handler
