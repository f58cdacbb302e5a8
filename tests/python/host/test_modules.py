"""The three compiled modules load without importing the heavy libraries they bind, and each
one's ``__all__`` names exactly the public names of its type stub."""

from __future__ import annotations

import ast
import importlib
import subprocess
import sys
from pathlib import Path

import pytest


def test_modules_import_lazily():
    probe = (
        "import sys\n"
        "import tarnwick.core.depthview, tarnwick.core.build, tarnwick.core.freeze\n"
        "heavy = [m for m in ('klayout.db', 'brenvik', 'ostrand', 'numpy', 'orjson') "
        "if m in sys.modules]\n"
        "print(heavy)\n"
    )
    result = subprocess.run(
        [sys.executable, "-c", probe], capture_output=True, text=True, check=False
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "[]"


def _stub_names(stub: Path) -> tuple[set[str], list[str]]:
    """The public top-level names the stub declares, and its ``__all__``."""
    names, stub_all = set(), []
    for node in ast.parse(stub.read_text(encoding="utf-8")).body:
        if isinstance(node, ast.ClassDef | ast.FunctionDef):
            names.add(node.name)
        elif isinstance(node, ast.AnnAssign | ast.Assign):
            targets = [node.target] if isinstance(node, ast.AnnAssign) else node.targets
            for target in targets:
                if target.id == "__all__":
                    stub_all = ast.literal_eval(node.value)
                else:
                    names.add(target.id)
    return {name for name in names if not name.startswith("_")}, stub_all


@pytest.mark.parametrize("name", ["depthview", "build", "freeze"])
def test_all_lists_the_public_names_of_the_stub(name):
    module = importlib.import_module(f"tarnwick.core.{name}")
    stub = Path(module.__file__).with_name(f"{name}.pyi")
    if not stub.is_file():
        pytest.skip("built without type stubs")
    names, stub_all = _stub_names(stub)
    assert sorted(names) == sorted(module.__all__) == sorted(stub_all)
    assert all(hasattr(module, public) for public in module.__all__)
