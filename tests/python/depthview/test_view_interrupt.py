"""Ctrl-C stops ``tarnwick view`` wherever it lands: status 130, one line, nothing written.

A real run in a subprocess gets SIGINT a millisecond into each stage, and once exactly while the
component library's layouts are freed (where the interrupt used to land in a weak-reference
callback, be printed as "Exception ignored" and dropped, and the run went on to write its files).
The run sends the signal to itself, timed from the stage's own start: a signal sent from outside
when the stage's line appears could arrive after a fast run had already ended.
"""

from __future__ import annotations

import os
import signal
import subprocess
import sys

import pytest
from klayout import db

# The run, made to be interrupted at a given moment: "freeing", through the component route, by
# SIGINT from a finaliser of the component the file becomes, that is while the library's layouts
# are freed (where the interrupt used to be dropped); "removing", through the component route, by
# an interrupt that comes while the C++ encodes the message and is seen by the first Python code
# after it, the removal of the temporary GDS file; a stage name ("read", "parse", "encode"), by a
# real SIGINT a millisecond after that stage starts, wherever the run then is.
_INTERRUPTED_AT = """
import os, signal, sys, weakref
import brenvik
import tarnwick.core.depthview as depthview
from tarnwick.cli import main
from tarnwick.cli.progress import StageProgress

where = sys.argv.pop(1)
if where == "freeing":
    depthview._read_file_through_component = True
    import_gds = brenvik.import_gds

    def interrupting_import(path):
        component = import_gds(path)
        weakref.finalize(component, os.kill, os.getpid(), signal.SIGINT)
        return component

    brenvik.import_gds = interrupting_import
else:
    if where == "removing":
        depthview._read_file_through_component = True
        stage, handler = "encode", signal.default_int_handler
    else:
        stage, handler = where, lambda number, frame: os.kill(os.getpid(), signal.SIGINT)
    progress = StageProgress.__call__

    def interrupting_progress(self, event):
        if event["stage"] == stage:
            signal.signal(signal.SIGALRM, handler)
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


def _interrupted_run(tmp_path, gds, where):
    """Runs `tarnwick view` on `gds` in a fresh folder, interrupted at `where`, and returns the
    exit status, the failure lines of stderr (the progress lines left out) and every file left
    behind."""
    work = tmp_path / f"run-{len(list(tmp_path.iterdir()))}"
    (work / "tmp").mkdir(parents=True)
    env = dict(os.environ, TMPDIR=str(work / "tmp"), TARNWICK_BUILD_DIR=str(work / "build"))
    completed = subprocess.run(
        [sys.executable, "-c", _INTERRUPTED_AT, where, "view", str(gds)]
        + ["-o", str(work / "out" / "big.json")],
        cwd=work,
        env=env,
        stdout=subprocess.DEVNULL,
        stderr=subprocess.PIPE,
        text=True,
        timeout=120,
        check=False,
    )
    left = sorted(str(path.relative_to(work)) for path in work.rglob("*") if not path.is_dir())
    failures = [line for line in completed.stderr.splitlines() if not line.startswith("  [")]
    return completed.returncode, failures, left


@pytest.mark.parametrize(
    "where",
    ["freeing", "removing", "read", "parse", "encode"],
    ids=["while-freeing", "removing-the-temporary", "reading", "parsing", "encoding-and-writing"],
)
def test_ctrl_c_stops_the_view_with_status_130_and_nothing_written(tmp_path, large_gds, where):
    status, failures, left = _interrupted_run(tmp_path, large_gds, where)
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
