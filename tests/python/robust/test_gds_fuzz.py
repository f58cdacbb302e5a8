"""A short slice of the seeded GDS mutation fuzzer (scripts/gds_fuzz.py runs the long one):
``tarnwick view`` on damaged files exits by itself with 0 or 1, in time, without a traceback
and without leaving a temporary or partial file."""

from __future__ import annotations

import importlib.util
import sys
from pathlib import Path

import pytest

SCRIPT = Path(__file__).resolve().parents[3] / "scripts" / "gds_fuzz.py"
_spec = importlib.util.spec_from_file_location("gds_fuzz", SCRIPT)
gds_fuzz = sys.modules.setdefault("gds_fuzz", importlib.util.module_from_spec(_spec))
_spec.loader.exec_module(gds_fuzz)

#: Whole-file generators that take long (2^40 placements, thousands of levels): long runs only.
SLOW = {"many placements", "absurd depth"}
SLICE = [seed for seed in range(200) if gds_fuzz.mutation_of(seed) not in SLOW][:18]
TIMEOUT = 30.0


@pytest.mark.parametrize("seed", SLICE)
def test_damaged_files(seed):
    outcome = gds_fuzz.run_case(seed, TIMEOUT)
    assert outcome.verdict == "ok", outcome


def test_a_deep_hierarchy():
    seed = next(s for s in range(200) if gds_fuzz.mutation_of(s) == "absurd depth")
    outcome = gds_fuzz.run_case(seed, TIMEOUT)
    assert outcome.verdict == "ok", outcome
