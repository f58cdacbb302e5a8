"""The module's lazy bindings: made when it loads, loading nothing before first use."""

from __future__ import annotations

import subprocess
import sys

import pytest
from tarnwick.core.lazy import LazyObject

from tarnwick.core import freeze


def _run(probe: str) -> str:
    result = subprocess.run(
        [sys.executable, "-c", probe], check=False, capture_output=True, text=True
    )
    assert result.returncode == 0, result.stderr
    return result.stdout.strip()


def test_importing_loads_none_of_the_bound_modules():
    probe = (
        "import sys\n"
        "import tarnwick.core.freeze as f\n"
        "from tarnwick.core.lazy import LazyObject\n"
        "print([type(getattr(f, n)) is LazyObject for n in ('ostrand', 'get_pdk', 'log')])\n"
        "print([getattr(f, n).is_loaded for n in ('ostrand', 'get_pdk', 'log')])\n"
        "print(sorted(m for m in ('ostrand', 'brenvik', 'tesselink', 'klayout', 'klayout.db',\n"
        "    'tarnwick.core.pdk', 'tarnwick.logger') if m in sys.modules))\n"
    )
    assert _run(probe).splitlines() == ["[True, True, True]", "[False, False, False]", "[]"]


def test_first_use_loads_the_bindings():
    probe = (
        "import sys\n"
        "import tarnwick.core.freeze as f\n"
        "pdk = f.get_pdk()\n"
        "print(f.get_pdk.is_loaded, f.log.is_loaded, f.ostrand.is_loaded)\n"
        "print(type(f.log()).__name__, f.ostrand.flatten_dict({'a': {'b': 1}}, ' '))\n"
        "print(f.log.is_loaded, f.ostrand.is_loaded, 'brenvik' in sys.modules)\n"
    )
    assert _run(probe).splitlines() == [
        "True False False",
        "HostLogger {'a b': 1}",
        "True True True",
    ]


def test_bindings_resolve_to_the_host_services():
    import ostrand

    from tarnwick import logger
    from tarnwick.core import lazy, pdk

    assert lazy.resolve(freeze.get_pdk) is pdk.get_pdk
    assert lazy.resolve(freeze.log) is logger.get_logger
    assert lazy.resolve(freeze.ostrand) is ostrand
    assert all(type(getattr(freeze, n)) is LazyObject for n in ("ostrand", "get_pdk", "log"))


def test_a_deleted_binding_is_a_name_error():
    with pytest.MonkeyPatch.context() as patch:
        patch.delattr(freeze, "get_pdk")
        with pytest.raises(NameError, match="get_pdk"):
            freeze.freeze("anything")


def test_signatures():
    assert freeze.freeze.__doc__.startswith("freeze(cell_name: str, **kwargs")
    assert freeze.freeze_recursive.__doc__.startswith("freeze_recursive(cell_name: str, **kwargs")
    assert freeze._get_brenvik_version.__doc__.startswith("_get_brenvik_version() -> tuple")
