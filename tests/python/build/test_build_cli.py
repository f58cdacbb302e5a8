"""The `tarnwick build` command line."""

from __future__ import annotations

import build_cells
import pytest
from build_cells import square_cell
from tarnwick.cli import main

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
    assert main(["build", "a", "b", "c"]) == 2
    out, err = capsys.readouterr()
    assert out.splitlines() == [
        "a: success",
        "b: not built (status BUSY)",
        "c: not built (status BUSY)",
    ]
    assert err.splitlines()[-1] == "build stopped: RuntimeError: base cannot be read"


def test_names_are_required():
    with pytest.raises(SystemExit):
        main(["build"])
