"""The three compiled modules load without importing the heavy libraries they bind."""

from __future__ import annotations

import subprocess
import sys


def test_modules_import_lazily_and_depthview_exports_one_name():
    probe = (
        "import sys\n"
        "import tarnwick.core.depthview as d, tarnwick.core.build, tarnwick.core.freeze\n"
        "assert d.__all__ == ['depthview'], d.__all__\n"
        "heavy = [m for m in ('klayout.db', 'brenvik', 'ostrand', 'numpy', 'orjson') "
        "if m in sys.modules]\n"
        "print(heavy)\n"
    )
    result = subprocess.run(
        [sys.executable, "-c", probe], capture_output=True, text=True, check=False
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "[]"
