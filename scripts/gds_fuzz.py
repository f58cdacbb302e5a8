"""Seeded GDS mutation fuzzer for ``tarnwick view``.

Each case takes one of a few small, valid seed libraries (shapes on the demo PDK's layers,
references, arrays, paths, texts, a deeper chain), damages it in one seeded way (bit flips,
truncation, broken record lengths or types, dropped or repeated records, absurd array counts,
coordinates or units, very deep hierarchies) and runs ``tarnwick view`` on it in a child process
with a timeout, its own temporary directory and a memory limit. A case passes when the child
exits by itself with status 0 or 1 in time, shows no traceback and reports no bug (the one line
of an unexpected error), and leaves no temporary file behind (nor a message file after a
failure).

The same seed always gives the same file, so a failing case is reproduced by its seed alone:

    python scripts/gds_fuzz.py --seeds 0:600            # a longer run, about 1 s per case
    python scripts/gds_fuzz.py --seeds 17 --keep cases  # keep the file of case 17

Prints a markdown table of outcomes and the failing cases, and writes the results as JSON
(``bench/results/gds_fuzz.json`` by default). Exit status 1 when any case failed.
"""

from __future__ import annotations

import argparse
import json
import os
import random
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
from collections import Counter
from collections.abc import Callable
from dataclasses import asdict, dataclass
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
RESULTS = ROOT / "bench" / "results" / "gds_fuzz.json"

#: Address-space limit of a case: absurd allocations fail quickly instead of swapping.
MEMORY_LIMIT = 6 * 1024**3

# --------------------------------------------------------------------------- GDS records
HEADER, BGNLIB, LIBNAME, UNITS, ENDLIB = 0x00, 0x01, 0x02, 0x03, 0x04
BGNSTR, STRNAME, ENDSTR = 0x05, 0x06, 0x07
BOUNDARY, PATH, SREF, AREF, TEXT = 0x08, 0x09, 0x0A, 0x0B, 0x0C
LAYER, DATATYPE, WIDTH, XY, ENDEL = 0x0D, 0x0E, 0x0F, 0x10, 0x11
SNAME, COLROW, TEXTTYPE, STRING = 0x12, 0x13, 0x16, 0x19
STRANS, MAG, ANGLE, BOX, BOXTYPE = 0x1A, 0x1B, 0x1C, 0x2D, 0x2E
NO_DATA, BITS, INT2, INT4, REAL8, ASCII = 0, 1, 2, 3, 5, 6


def real8(value: float) -> bytes:
    """A GDS 8-byte real: sign bit, excess-64 base-16 exponent, 56-bit mantissa."""
    if value == 0:
        return bytes(8)
    sign = 0x80 if value < 0 else 0
    value, exponent = abs(value), 64
    while value >= 1:
        value /= 16
        exponent += 1
    while value < 1 / 16:
        value *= 16
        exponent -= 1
    mantissa = int(value * (1 << 56) + 0.5)
    if mantissa >= 1 << 56:
        mantissa >>= 4
        exponent += 1
    return bytes([sign | exponent]) + mantissa.to_bytes(7, "big")


def record(kind: int, dtype: int, data: bytes = b"") -> bytes:
    return struct.pack(">HBB", 4 + len(data), kind, dtype) + data


def int2(*values: int) -> bytes:
    return struct.pack(f">{len(values)}h", *values)


def int4(*values: int) -> bytes:
    return struct.pack(f">{len(values)}i", *values)


def ascii_(text: str) -> bytes:
    data = text.encode()
    return data + b"\0" * (len(data) % 2)


def library(cells: list[tuple[str, bytes]], units: bytes | None = None) -> bytes:
    out = record(HEADER, INT2, int2(600)) + record(BGNLIB, INT2, int2(*[0] * 12))
    out += record(LIBNAME, ASCII, ascii_("FUZZ"))
    out += record(UNITS, REAL8, units or real8(1e-3) + real8(1e-9))
    for name, body in cells:
        out += record(BGNSTR, INT2, int2(*[0] * 12)) + record(STRNAME, ASCII, ascii_(name))
        out += body + record(ENDSTR, NO_DATA)
    return out + record(ENDLIB, NO_DATA)


def boundary(layer: int, points: list[tuple[int, int]], datatype: int = 0) -> bytes:
    closed = [*points, points[0]]
    xy = int4(*[c for p in closed for c in p])
    return (
        record(BOUNDARY, NO_DATA)
        + record(LAYER, INT2, int2(layer))
        + record(DATATYPE, INT2, int2(datatype))
        + record(XY, INT4, xy)
        + record(ENDEL, NO_DATA)
    )


def rectangle(layer: int, x0: int, y0: int, x1: int, y1: int) -> bytes:
    return boundary(layer, [(x0, y0), (x1, y0), (x1, y1), (x0, y1)])


def path(layer: int, width: int, points: list[tuple[int, int]]) -> bytes:
    return (
        record(PATH, NO_DATA)
        + record(LAYER, INT2, int2(layer))
        + record(DATATYPE, INT2, int2(0))
        + record(WIDTH, INT4, int4(width))
        + record(XY, INT4, int4(*[c for p in points for c in p]))
        + record(ENDEL, NO_DATA)
    )


def text(layer: int, string: str, x: int, y: int) -> bytes:
    return (
        record(TEXT, NO_DATA)
        + record(LAYER, INT2, int2(layer))
        + record(TEXTTYPE, INT2, int2(0))
        + record(XY, INT4, int4(x, y))
        + record(STRING, ASCII, ascii_(string))
        + record(ENDEL, NO_DATA)
    )


def box_record(layer: int, x0: int, y0: int, x1: int, y1: int) -> bytes:
    corners = [(x0, y0), (x1, y0), (x1, y1), (x0, y1), (x0, y0)]
    return (
        record(BOX, NO_DATA)
        + record(LAYER, INT2, int2(layer))
        + record(BOXTYPE, INT2, int2(0))
        + record(XY, INT4, int4(*[c for p in corners for c in p]))
        + record(ENDEL, NO_DATA)
    )


def transform(mirror: bool = False, angle: float | None = None, mag: float | None = None):
    if not mirror and angle is None and mag is None:
        return b""
    out = record(STRANS, BITS, struct.pack(">H", 0x8000 if mirror else 0))
    if mag is not None:
        out += record(MAG, REAL8, real8(mag))
    if angle is not None:
        out += record(ANGLE, REAL8, real8(angle))
    return out


def sref(name: str, x: int, y: int, **trans) -> bytes:
    return (
        record(SREF, NO_DATA)
        + record(SNAME, ASCII, ascii_(name))
        + transform(**trans)
        + record(XY, INT4, int4(x, y))
        + record(ENDEL, NO_DATA)
    )


def aref(name: str, columns: int, rows: int, x: int, y: int, dx: int, dy: int, **trans) -> bytes:
    corners = (x, y, x + columns * dx, y, x, y + rows * dy)
    return (
        record(AREF, NO_DATA)
        + record(SNAME, ASCII, ascii_(name))
        + transform(**trans)
        + record(COLROW, INT2, int2(columns, rows))
        + record(XY, INT4, int4(*corners))
        + record(ENDEL, NO_DATA)
    )


def chain(depth: int, leaf: bytes) -> list[tuple[str, bytes]]:
    """Cells c0 (top) ... c{depth-1} (holding `leaf`), each placing the next one once."""
    cells = [(f"c{level}", sref(f"c{level + 1}", 100, 0)) for level in range(depth - 1)]
    return [*cells, (f"c{depth - 1}", leaf)]


# Demo PDK layers: 1 WG, 2 SLAB (WG & SLAB derive 3 SHALLOW), 41 M1, 44 VIA, 45 M2, 47 HEATER,
# 66 TEXT; 99 has no view.
def seeds() -> dict[str, bytes]:
    leaf = (
        rectangle(1, 0, 0, 2000, 500)
        + rectangle(2, -500, -500, 2500, 1000)
        + boundary(41, [(0, 0), (1000, 0), (1500, 800), (200, 1200)])
        + path(45, 200, [(0, 0), (3000, 0), (3000, 2000)])
        + text(66, "label", 10, 10)
        + box_record(47, 0, 0, 400, 400)
        + rectangle(99, 0, 0, 10, 10)
    )
    ring = boundary(1, [(round(5000 * c), round(5000 * s)) for c, s in _circle(64)])
    top = (
        sref("leaf", 0, 0)
        + sref("leaf", 10000, 0, mirror=True, angle=90.0)
        + sref("ring", -20000, 0, angle=30.0, mag=1.5)
        + aref("leaf", 4, 3, 0, 20000, 4000, 2000)
        + rectangle(44, 0, 0, 100, 100)
    )
    return {
        "cells": library([("top", top), ("leaf", leaf), ("ring", ring)]),
        "chain": library(chain(40, leaf)),
        "arrays": library(
            [
                ("top", aref("mid", 3, 2, 0, 0, 50000, 50000) + sref("leaf", -9000, 0)),
                ("mid", aref("leaf", 5, 5, 0, 0, 4000, 3000, angle=180.0)),
                ("leaf", leaf),
            ]
        ),
    }


SEED_NAMES = ("arrays", "cells", "chain")


def _circle(count: int) -> list[tuple[float, float]]:
    import math

    return [
        (math.cos(2 * math.pi * k / count), math.sin(2 * math.pi * k / count)) for k in range(count)
    ]


def records(data: bytes) -> list[tuple[int, int, int]]:
    """(offset, length, type) of each record up to the first one that cannot be framed."""
    out, offset = [], 0
    while offset + 4 <= len(data):
        length, kind = struct.unpack_from(">HB", data, offset)
        if length < 4:
            break
        out.append((offset, length, kind))
        offset += length
    return out


# --------------------------------------------------------------------------- mutations
def bit_flips(rng: random.Random, data: bytes) -> bytes:
    out = bytearray(data)
    for _ in range(rng.randint(1, 8)):
        out[rng.randrange(len(out))] ^= 1 << rng.randrange(8)
    return bytes(out)


def truncation(rng: random.Random, data: bytes) -> bytes:
    return data[: rng.randrange(len(data))]


def record_length(rng: random.Random, data: bytes) -> bytes:
    offset, length, _ = rng.choice(records(data))
    new = rng.choice(
        [0, 1, 2, 3, 5, length - 2, length + 2, length + 1, 0xFFFF, rng.randrange(65536)]
    )
    return data[:offset] + struct.pack(">H", max(0, min(new, 0xFFFF))) + data[offset + 2 :]


def record_type(rng: random.Random, data: bytes) -> bytes:
    offset, _, _ = rng.choice(records(data))
    position = offset + 2 + rng.randrange(2)
    value = rng.choice([rng.randrange(0x3C), rng.randrange(256)])
    return data[:position] + bytes([value]) + data[position + 1 :]


def record_shuffle(rng: random.Random, data: bytes) -> bytes:
    framed = records(data)
    pieces = [data[o : o + n] for o, n, _ in framed]
    index = rng.randrange(len(pieces))
    action = rng.choice(["drop", "repeat", "swap"])
    if action == "drop":
        del pieces[index]
    elif action == "repeat":
        pieces.insert(index, pieces[index])
    else:
        other = rng.randrange(len(pieces))
        pieces[index], pieces[other] = pieces[other], pieces[index]
    return b"".join(pieces)


def _replace_records(data: bytes, kind: int, make: Callable[[bytes], bytes], rng) -> bytes:
    framed = [r for r in records(data) if r[2] == kind]
    if not framed:
        return data
    offset, length, _ = rng.choice(framed)
    old = data[offset + 4 : offset + length]
    new = make(old)
    return data[:offset] + record(kind, data[offset + 3], new) + data[offset + length :]


def absurd_counts(rng: random.Random, data: bytes) -> bytes:
    counts = rng.choice([(32767, 32767), (32767, 1), (-1, 5), (0, 0), (-32768, -32768), (1, 30000)])
    return _replace_records(data, COLROW, lambda old: int2(*counts), rng)


def absurd_numbers(rng: random.Random, data: bytes) -> bytes:
    choice = rng.choice(["xy", "angle", "mag", "units", "width"])
    huge = [2**31 - 1, -(2**31), 2**30, -(2**30) + 7]
    if choice == "xy":

        def make(old: bytes) -> bytes:
            values = list(struct.unpack(f">{len(old) // 4}i", old))
            values[rng.randrange(len(values))] = rng.choice(huge)
            return int4(*values)

        return _replace_records(data, XY, make, rng)
    if choice == "width":
        return _replace_records(data, WIDTH, lambda old: int4(rng.choice(huge)), rng)
    raw = rng.choice([bytes([0x7F]) + b"\xff" * 7, bytes([0xFF]) * 8, real8(1e60), real8(-1e-60)])
    if choice == "units":
        return _replace_records(data, UNITS, lambda old: rng.choice([raw + raw, bytes(16)]), rng)
    return _replace_records(data, ANGLE if choice == "angle" else MAG, lambda old: raw, rng)


def absurd_depth(rng: random.Random, data: bytes) -> bytes:
    depth = rng.choice([1200, 3000, 6000])
    return library(chain(depth, rectangle(1, 0, 0, 500, 500) + rectangle(2, 0, 0, 300, 300)))


def many_placements(rng: random.Random, data: bytes) -> bytes:
    """Cells that each place the next one twice: 2^levels placements from a few hundred bytes."""
    levels = rng.choice([24, 30, 40])
    cells = [
        (f"c{level}", sref(f"c{level + 1}", 0, 0) + sref(f"c{level + 1}", 7, 0))
        for level in range(levels)
    ]
    return library([*cells, (f"c{levels}", rectangle(1, 0, 0, 5, 5))])


MUTATIONS: dict[str, Callable[[random.Random, bytes], bytes]] = {
    "bit flips": bit_flips,
    "truncation": truncation,
    "record length": record_length,
    "record type": record_type,
    "record shuffle": record_shuffle,
    "absurd counts": absurd_counts,
    "absurd numbers": absurd_numbers,
    "absurd depth": absurd_depth,
    "many placements": many_placements,
}
#: How often each mutation is drawn (the expensive whole-file ones more rarely).
WEIGHTS = {"absurd depth": 1, "many placements": 1}


def _draw(seed: int) -> tuple[random.Random, str, str]:
    rng = random.Random(seed)
    source = rng.choice(sorted(SEED_NAMES))
    names = sorted(MUTATIONS)
    mutation = rng.choices(names, weights=[WEIGHTS.get(n, 4) for n in names])[0]
    return rng, source, mutation


def mutation_of(seed: int) -> str:
    """The mutation that case `seed` applies (without building its file)."""
    return _draw(seed)[2]


def case(seed: int) -> tuple[str, str, bytes]:
    """(seed library, mutation, file bytes) of case `seed`."""
    rng, source, mutation = _draw(seed)
    return source, mutation, MUTATIONS[mutation](rng, seeds()[source])


# --------------------------------------------------------------------------- running
@dataclass
class Outcome:
    seed: int
    source: str
    mutation: str
    size: int
    verdict: str  # "ok", or what went wrong
    status: int | None
    seconds: float
    detail: str


#: Runs the command line in the child under the memory limit (given as the first argument) and
#: without core files; the rest of the arguments are the command line's.
_LAUNCH = """
import resource, runpy, sys
limit = int(sys.argv.pop(1))
resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
sys.argv[0] = "tarnwick"
runpy.run_module("tarnwick.cli", run_name="__main__")
"""


def run_case(seed: int, timeout: float, keep: Path | None = None) -> Outcome:
    source, mutation, data = case(seed)
    with tempfile.TemporaryDirectory(prefix="gds-fuzz-") as folder:
        folder = Path(folder)
        gds, out, scratch = folder / f"case{seed}.gds", folder / "out", folder / "tmp"
        out.mkdir()
        scratch.mkdir()
        gds.write_bytes(data)
        if keep is not None:
            keep.mkdir(parents=True, exist_ok=True)
            shutil.copy(gds, keep / gds.name)
        environment = {**os.environ, "TMPDIR": str(scratch), "PYTHONFAULTHANDLER": "1"}
        command = [sys.executable, "-c", _LAUNCH, str(MEMORY_LIMIT), "view", str(gds)]
        command += ["-o", str(out / "s.json")]
        begin = time.perf_counter()
        child = subprocess.Popen(
            command,
            cwd=folder,
            env=environment,
            stdin=subprocess.DEVNULL,
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            text=True,
            errors="replace",
            start_new_session=True,
        )
        try:
            _, err = child.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(child.pid, signal.SIGKILL)
            child.communicate()
            return Outcome(seed, source, mutation, len(data), "hang", None, timeout, "")
        seconds = time.perf_counter() - begin
        status = child.returncode
        last = err.strip().splitlines()[-1] if err.strip() else ""
        left = sorted(p.name for p in scratch.iterdir())
        written = sorted(p.name for p in out.iterdir())
        if status < 0:
            verdict = f"signal {signal.Signals(-status).name}"
        elif "Traceback" in err or "Fatal Python error" in err:
            verdict = "traceback"
        elif _BUG_LINE in err:
            verdict = "bug"
        elif status not in (0, 1):
            verdict = f"status {status}"
        elif left:
            verdict = "temporary file left"
            last = ", ".join(left)
        elif any(name not in ("s.json", "s.html") for name in written):
            verdict = "partial file left"
            last = ", ".join(written)
        elif status == 1 and "s.json" in written:
            verdict = "message file after a failure"
        else:
            verdict = "ok"
        if verdict.startswith("signal") or verdict == "traceback":
            last = _traceback_summary(err) or last
        return Outcome(seed, source, mutation, len(data), verdict, status, seconds, last[:300])


#: What the command line says of an error it did not expect (see tarnwick.cli.failures.report).
_BUG_LINE = ": internal error (a bug in tarnwick"


def _traceback_summary(err: str) -> str:
    """The error and its innermost frame, from a Python traceback (innermost frame last) or a
    fatal-error dump (innermost first)."""
    lines = [line.strip() for line in err.splitlines() if line.strip()]
    frames = [line for line in lines if line.startswith("File ")]
    fatal = next((line for line in lines if line.startswith("Fatal Python error")), None)
    if fatal is not None:
        return f"{fatal} [at {frames[0]}]" if frames else fatal
    tail = lines[-1] if lines else ""
    return f"{tail} [at {frames[-1]}]" if frames else tail


def parse_seeds(text: str) -> list[int]:
    seeds_: list[int] = []
    for part in text.split(","):
        first, colon, last = part.partition(":")
        seeds_ += list(range(int(first), int(last))) if colon else [int(first)]
    return seeds_


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seeds", default="0:200", help="seeds: N, A:B (B excluded), or a list")
    parser.add_argument("--timeout", type=float, default=60.0, help="seconds per case (60)")
    parser.add_argument("--keep", type=Path, help="copy every case's file into this folder")
    parser.add_argument("--json", type=Path, default=RESULTS, help=f"results file ({RESULTS})")
    args = parser.parse_args(argv)

    outcomes = []
    chosen = parse_seeds(args.seeds)
    begin = time.perf_counter()
    for number, seed in enumerate(chosen, 1):
        outcome = run_case(seed, args.timeout, args.keep)
        outcomes.append(outcome)
        if outcome.verdict != "ok":
            print(f"  seed {seed}: {outcome.verdict}: {outcome.detail}", file=sys.stderr)
        if number % 25 == 0 or number == len(chosen):
            print(
                f"  [{time.perf_counter() - begin:7.1f} s] {number}/{len(chosen)} cases",
                file=sys.stderr,
                flush=True,
            )

    print("| mutation | cases | ok | failed | exit 0 | exit 1 | slowest (s) |")
    print("|---|---:|---:|---:|---:|---:|---:|")
    for mutation in sorted({o.mutation for o in outcomes}):
        group = [o for o in outcomes if o.mutation == mutation]
        ok = sum(o.verdict == "ok" for o in group)
        print(
            f"| {mutation} | {len(group)} | {ok} | {len(group) - ok} "
            f"| {sum(o.status == 0 for o in group)} | {sum(o.status == 1 for o in group)} "
            f"| {max(o.seconds for o in group):.1f} |"
        )
    failed = [o for o in outcomes if o.verdict != "ok"]
    if failed:
        print("\n| seed | seed library | mutation | verdict | detail |")
        print("|---:|---|---|---|---|")
        for o in failed:
            print(f"| {o.seed} | {o.source} | {o.mutation} | {o.verdict} | {o.detail} |")
    print(
        f"\n{len(outcomes)} cases, {len(failed)} failed: {dict(Counter(o.verdict for o in outcomes))}"
    )
    args.json.parent.mkdir(parents=True, exist_ok=True)
    args.json.write_text(json.dumps([asdict(o) for o in outcomes], indent=1) + "\n")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
