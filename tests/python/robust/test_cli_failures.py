"""Every command ends a failure with one line on stderr and a status: 1 for a failure, 2 for a
command line that cannot be used; --debug adds the traceback, and a bug says so first."""

from __future__ import annotations

import sqlite3
import struct

import pytest
from tarnwick.cli import main
from tarnwick.cli.failures import describe

from tarnwick.core import communication, database


def gds_records(*records: tuple[int, int, bytes]) -> bytes:
    return b"".join(
        struct.pack(">HBB", 4 + len(data), kind, dtype) + data for kind, dtype, data in records
    )


EMPTY_LIBRARY = gds_records(
    (0, 2, struct.pack(">h", 600)),
    (1, 2, bytes(24)),
    (2, 6, b"LIB\0"),
    (3, 5, bytes.fromhex("3e4189374bc6a7ef3944b82fa09b5a54")),
    (4, 0, b""),
)


def failure(capsys, *argv):
    code = main(list(argv))
    err = capsys.readouterr().err
    assert "Traceback" not in err, err
    return code, err.splitlines()[-1]


@pytest.mark.parametrize(
    ("case", "expected"),
    [
        ("garbage", "cannot read the layout: Stream has unknown format"),
        ("truncated", "cannot read the layout: Unexpected end-of-file"),
        ("empty", "holds no cells"),
        ("-o directory", "Is a directory"),
        ("-o below a file", "Not a directory"),
        ("-o device", "/dev/full is not a regular file"),
    ],
)
def test_view_failures_are_one_line(tmp_path, capsys, case, expected):
    gds = tmp_path / "in.gds"
    gds.write_bytes(
        {"garbage": b"not a layout at all", "truncated": EMPTY_LIBRARY[:-6]}.get(
            case, EMPTY_LIBRARY
        )
    )
    (tmp_path / "out").mkdir()
    (tmp_path / "file").write_text("")
    output = {
        "-o directory": tmp_path / "out",
        "-o below a file": tmp_path / "file" / "scene.json",
        "-o device": "/dev/full",
    }.get(case, tmp_path / "out" / "scene.json")
    target = "ring" if case.startswith("-o") else str(gds)
    code, line = failure(capsys, "view", target, "-o", str(output))
    assert code == 1
    assert line.startswith("tarnwick view: error: ") and expected in line, line
    assert list((tmp_path / "out").iterdir()) == [] and communication.messages() == []


@pytest.mark.parametrize("case", ["damaged database", "file in place of the build directory"])
def test_build_failures_are_one_line(tmp_path, capsys, case):
    if case == "damaged database":
        database.get_database_path().write_text("not a database, only some text " * 10)
        expected = "the factory database"
    else:
        blocker = tmp_path / "blocker"
        blocker.write_text("")
        database.use_database(blocker / "factories.db")
        expected = "File exists: "
    code, line = failure(capsys, "build", "ring")
    assert code == 1
    assert line.startswith("tarnwick build: error: ") and expected in line, line


def test_a_locked_database_is_described(tmp_path):
    path = tmp_path / "locked.db"
    holder = sqlite3.connect(path)
    holder.execute("CREATE TABLE t (x)")
    holder.execute("BEGIN EXCLUSIVE")
    other = sqlite3.connect(path, timeout=0)
    with pytest.raises(sqlite3.OperationalError) as caught:
        other.execute("INSERT INTO t VALUES (1)")
    other.close()
    holder.close()
    assert "another run is using it" in describe(caught.value)


@pytest.mark.parametrize(
    "argv",
    [
        ["--z-scale", "nan"],
        ["--z-scale", "inf"],
        ["--z-scale", "1e309"],
        ["--curve-tolerance", "nan"],
        ["--curve-tolerance", "-inf"],
        ["--curve-tolerance", "-0.5"],
    ],
)
def test_non_finite_numbers_are_usage_errors(capsys, argv):
    with pytest.raises(SystemExit) as stopped:
        main(["view", "ring", *argv])
    assert stopped.value.code == 2
    assert f"argument {argv[0]}:" in capsys.readouterr().err
    assert communication.messages() == []


def test_debug_shows_the_traceback_and_a_bug_says_so(tmp_path, capsys, monkeypatch):
    gds = tmp_path / "bad.gds"
    gds.write_bytes(b"garbage")
    assert main(["--debug", "view", str(gds)]) == 1
    err = capsys.readouterr().err
    assert "Traceback" in err and err.splitlines()[-1].startswith("tarnwick view: error: ")

    assert main(["freeze", "no_such_cell", "--debug"]) == 1
    err = capsys.readouterr().err
    assert "Traceback" in err and err.splitlines()[-1].startswith("tarnwick freeze: error: ")

    from tarnwick.cli import pdk

    def broken(args):
        raise KeyError("oops")

    monkeypatch.setattr(pdk, "run", broken)
    assert main(["pdk"]) == 1
    [line] = capsys.readouterr().err.splitlines()
    assert line.startswith("tarnwick pdk: internal error (a bug in tarnwick; run it again with")
    assert "--debug" in line and line.endswith("KeyError: 'oops'")
    assert main(["pdk", "--debug"]) == 1
    err = capsys.readouterr().err
    assert "Traceback" in err and err.splitlines()[-1].startswith("tarnwick pdk: internal error")

    class Unprintable(Exception):
        def __str__(self):
            return str(1 / 0)

    def unprintable(args):
        raise Unprintable

    monkeypatch.setattr(pdk, "run", unprintable)
    assert main(["pdk"]) == 1
    [line] = capsys.readouterr().err.splitlines()
    assert line.endswith("Unprintable: <exception str() failed>")


def _interrupted(*args, **kwargs):
    raise KeyboardInterrupt


@pytest.mark.parametrize(
    ("argv", "status"),
    [
        (["view", "ring", "-o", "out/ring.json"], 0),
        (["view", "no_such_cell"], 1),
        (["view", "missing.gds"], 1),
        (["view", "ring", "--z-scale", "nan"], 2),
        (["view", "ring", "--cell", "x"], 2),
        (["view", "ring", "--tech", "missing.yaml"], 2),
        (["view", "ring", "--format", "glb", "-o", "ring.gltf"], 2),
        (["view", "ring"], 130),
        (["watch", "no_such_cell"], 1),
        (["watch", "ring", "--lyp", "missing.lyp"], 2),
        (["serve", "--port", "70000"], 2),
        (["build", "ring"], 0),
        (["build", "ring", "no_such_cell"], 1),
        (["build", "ring", "--no-such-option"], 2),
        (["freeze", "ring", "radius=20"], 0),
        (["freeze", "no_such_cell"], 1),
        (["freeze", "ring", "radius"], 2),
        (["tech", "show", "sky130"], 0),
        (["tech", "show", "missing.yaml"], 2),
        (["pdk"], 0),
        (["status"], 0),
    ],
    ids=lambda value: " ".join(value) if isinstance(value, list) else str(value),
)
def test_exit_statuses_are_the_same_in_every_command(capsys, monkeypatch, argv, status):
    if status == 130:
        from tarnwick.core import depthview

        monkeypatch.setattr(depthview, "depthview", _interrupted)
    try:
        code = main(argv)
    except SystemExit as stopped:  # argparse's own usage errors
        code = stopped.code
    err = capsys.readouterr().err
    assert code == status, err
    assert "Traceback" not in err
    last = err.splitlines()[-1] if status else ""
    if status == 1:
        assert last.startswith(f"tarnwick {argv[0]}: error: "), err
    elif status == 2:
        assert last.startswith("tarnwick") and ": error: " in last, err
    elif status == 130:
        assert last == f"tarnwick {argv[0]}: interrupted", err
