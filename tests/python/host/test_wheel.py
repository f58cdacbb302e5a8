"""The repaired wheel, installed into a fresh virtual environment, runs on its own: the 3D view of
the demo chip (with its HTML page, from the viewer bundle inside the wheel) and a freeze, with the
GEOS copy inside the wheel and, where a private mount namespace can be had, with the system's GEOS
hidden from the process.

One slow test: it builds the wheel (incrementally after the first time), installs it with its
dependencies and removes everything it made."""

from __future__ import annotations

import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[3]
SYSTEM_GEOS = "/usr/lib/x86_64-linux-gnu"

# Replaces every system GEOS library by an empty file, in this process's own mount namespace only.
HIDE_SYSTEM_GEOS = (
    f'for f in {SYSTEM_GEOS}/libgeos*.so*; do [ -L "$f" ] || mount --bind /dev/null "$f"; done; '
    'exec "$@"'
)


def _hiding_prefix() -> list[str]:
    """A command prefix that runs its command with the system's GEOS hidden, when possible."""
    unshare = shutil.which("unshare")
    if unshare is None:
        return []
    probe = subprocess.run([unshare, "--mount", "true"], check=False, capture_output=True)
    return (
        [unshare, "--mount", "sh", "-c", HIDE_SYSTEM_GEOS, "hide"] if probe.returncode == 0 else []
    )


def test_the_repaired_wheel_runs_in_a_fresh_environment():
    env = {k: v for k, v in os.environ.items() if not k.startswith(("TARNWICK_", "PYTHON"))}
    with tempfile.TemporaryDirectory(prefix="tarnwick-wheel-") as scratch:
        scratch = Path(scratch)
        built = subprocess.run(
            ["bash", str(ROOT / "scripts" / "build-wheel.sh"), str(scratch / "dist")],
            check=False,
            capture_output=True,
            text=True,
            env={**env, "PYTHON": sys.executable},
        )
        assert built.returncode == 0, built.stderr[-3000:]
        wheel = Path(built.stdout.strip().splitlines()[-1])
        assert "manylinux" in wheel.name

        venv = scratch / "venv"
        subprocess.run([sys.executable, "-m", "venv", str(venv)], check=True)
        python = venv / "bin" / "python"
        installed = subprocess.run(
            [str(python), "-m", "pip", "install", "-q", str(wheel)],
            check=False,
            capture_output=True,
            text=True,
        )
        assert installed.returncode == 0, installed.stderr[-3000:]

        work = scratch / "work"
        work.mkdir()
        hidden = _hiding_prefix()

        def run(*command: str) -> subprocess.CompletedProcess:
            return subprocess.run(
                [*hidden, *command],
                check=False,
                cwd=work,
                env=env,
                capture_output=True,
                text=True,
                timeout=600,
            )

        maps = run(
            str(python),
            "-c",
            "import tarnwick.core.depthview\n"
            "print('\\n'.join(l.split()[-1] for l in open('/proc/self/maps') if 'geos' in l))",
        )
        assert maps.returncode == 0, maps.stderr
        assert maps.stdout.split() and all("/tarnwick.libs/" in p for p in maps.stdout.split())

        dist = run(
            str(python), "-c", "from tarnwick.viewer_page import viewer_dist\nprint(viewer_dist())"
        )
        assert dist.returncode == 0, dist.stderr
        bundle = Path(dist.stdout.strip())
        assert bundle.is_relative_to(venv) and bundle.name == "viewer_bundle"

        view = run(str(venv / "bin" / "tarnwick"), "view")
        assert view.returncode == 0, view.stderr
        assert (work / "out" / "demo_chip.json").stat().st_size > 0
        page = (work / "out" / "demo_chip.html").read_text(encoding="utf-8")
        assert (bundle / "viewer.js").read_text(encoding="utf-8") in page

        frozen = run(str(python), "-m", "tarnwick", "freeze", "demo_chip")
        assert frozen.returncode == 0, frozen.stderr
        assert frozen.stdout.startswith("instances:")
