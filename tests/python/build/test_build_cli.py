"""The `tarnwick build` command line."""

from __future__ import annotations

import os
import subprocess
import sys

import build_cells
import pytest
from build_cells import square_cell
from tarnwick.cli import main
from tarnwick.models import FactoryRecord

from tarnwick import settings
from tarnwick.core import database


def test_each_outcome_is_printed_and_failures_set_the_exit_status(use_cells, capsys):
    use_cells({"c10": square_cell("c10"), "c2": square_cell("c2"), "bad": build_cells.unsaveable})
    assert main(["build", "c10", "bad", "c2", "c10"]) == 1
    out, err = capsys.readouterr()
    message = database.get_factories_by_name("bad")["bad"].message
    log_file = settings.get_log_dir() / "bad.log"
    assert out.splitlines() == [
        "bad: error: " + message,
        f"  log: {log_file}",
        "c2: success",
        "c10: success",
    ]
    assert log_file.read_text().startswith("Build Error for bad\n")
    assert (
        err.splitlines()[0] == "building 3 cell(s) of PDK buildtest (with metadata): bad, c2, c10"
    )
    assert "  error: Failed to save component bad: cannot write GDS [with_metadata=True]" in err
    assert f"  Successfully built component c2 to {settings.get_gds_dir() / 'c2.gds'}" in err
    assert build_cells.BUILT == ["unsaveable", "c2", "c10", "c10"]


def test_no_metadata_and_all_built(use_cells, capsys):
    use_cells({"a": square_cell("a")})
    assert main(["build", "a", "--no-metadata"]) == 0
    out, err = capsys.readouterr()
    assert out == "a: success\n"
    assert "(without metadata)" in err
    assert (settings.get_gds_dir() / "no-meta" / "a.gds").is_file()


def test_a_stopped_batch_reports_what_was_not_built(use_cells, capsys):
    use_cells({"a": square_cell("a"), "b": build_cells.unreadable_default, "c": square_cell("c")})
    assert main(["build", "a", "b", "c"]) == 1
    out, err = capsys.readouterr()
    assert out.splitlines() == [
        "a: success",
        "b: not built",
        "c: not built",
    ]
    assert err.splitlines()[-1] == (
        "tarnwick build: error: the batch stopped: RuntimeError: base cannot be read"
    )


def test_a_name_too_long_for_a_file_fails_alone_and_names_are_printed_escaped(use_cells, capsys):
    long_name, odd_name = "x" * 300, "odd\x1b[2Jname"
    use_cells({"a": square_cell("a"), long_name: square_cell("long"), odd_name: square_cell("o")})
    assert main(["build", "a", long_name, odd_name]) == 1
    out, err = capsys.readouterr()
    lines = out.splitlines()
    assert lines[0] == "a: success" and "\x1b" not in out + err
    assert lines[1] == "odd\\x1b[2Jname: success"
    assert lines[2].startswith(f"{long_name}: error: ") and "File name too long" in lines[2]
    assert lines[3].endswith(".log (not written)")
    assert err.splitlines()[-1] == f"tarnwick build: error: 1 of 3 cell(s) not built: {long_name}"


def test_names_are_required():
    with pytest.raises(SystemExit):
        main(["build"])


def test_each_name_is_reported_from_this_batch_not_from_the_database(use_cells, capsys):
    def meddling():
        # Another batch on the same build directory marks "a" again while this one runs.
        database.set_factories_status_by_names("a", status="BUSY")
        return square_cell("m")()

    use_cells({"a": square_cell("a"), "m": meddling})
    assert main(["build", "a", "m"]) == 0
    assert capsys.readouterr().out.splitlines() == ["a: success", "m: success"]
    assert database.get_factories_by_name("a")["a"].status == "BUSY"


def test_status_flags_busy_rows_whose_run_is_gone(capsys):
    # A run that marked "ghost" BUSY and was gone before it could finish it.
    mark = (
        "import sys\nfrom tarnwick.core import database\n"
        "database.use_database(sys.argv[1])\n"
        "database.set_factories_status_by_names('ghost', 'done', status='BUSY')\n"
        "database.set_factories_status_by_names('done', status='SUCCESS')\n"
    )
    subprocess.run([sys.executable, "-c", mark, str(database.get_database_path())], check=True)
    database.set_factories_status_by_names("live", status="BUSY")
    database.add_factories(FactoryRecord(name="bad", status="ERROR", message="boom\nmore"))
    runs = database.get_busy_runs()
    assert sorted(runs) == ["ghost", "live"] and runs["live"] == database.current_run()
    gone_pid = runs["ghost"].split()[2]

    assert main(["status"]) == 0
    lines = capsys.readouterr().out.splitlines()
    assert lines[1:5] == [
        "  bad    ERROR    boom",
        "  done   SUCCESS",
        f"  ghost  BUSY     run gone (pid {gone_pid}): build it again",
        f"  live   BUSY     building (pid {os.getpid()})",
    ]
    assert lines[5].startswith("1 BUSY factory left by a run that is gone")
