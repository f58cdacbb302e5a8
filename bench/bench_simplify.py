"""Full differential run and speed of the native ring simplification against GEOS.

Builds the C++ driver ``ring_simplify_differential`` (with the C++ test targets, in
build/cpp-tests, as scripts/run-tests.sh configures it) and runs it over the seeded ring
generator: every ring goes through the native topology-preserving simplification and through
GEOS, and wherever the native path answers, its kept points must be GEOS's, bit for bit. Both are
timed on the same rings, back to back, each call the fastest of --repeat runs (2 by default) so
that preemption on a busy machine does not count.

It prints markdown tables (totals, then per kind of ring: refusals, mismatches, microseconds per
ring native and GEOS, speedup) and writes the numbers to bench/results/bench_simplify.json. It
exits with status 1 when any ring differs from GEOS.

    .venv/bin/python bench/bench_simplify.py                    # a million rings
    .venv/bin/python bench/bench_simplify.py --rings 100k --seed 2
"""

from __future__ import annotations

import argparse
import json
import subprocess
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent
RESULTS = HERE / "results"
TARGET = "ring_simplify_differential"


def _count(text: str) -> int:
    text = text.strip().lower()
    factor = {"k": 1_000, "m": 1_000_000}.get(text[-1], 1)
    return int(float(text.rstrip("km")) * factor)


def build(build_dir: Path) -> Path:
    """Configures and builds the driver; returns its path."""
    subprocess.run(
        [
            "cmake",
            "-S",
            str(ROOT),
            "-B",
            str(build_dir),
            "-G",
            "Ninja",
            "-DTARNWICK_BUILD_TESTS=ON",
            f"-DPython_EXECUTABLE={sys.executable}",
            "-DCMAKE_BUILD_TYPE=Release",
        ],
        check=True,
        stdout=subprocess.DEVNULL,
    )
    subprocess.run(["cmake", "--build", str(build_dir), "--target", TARGET], check=True)
    return build_dir / "tests" / "cpp" / TARGET


def derive(tally: dict) -> dict:
    """Rates and speeds of one tally of the driver."""
    rings, native, geos = tally["rings"], tally["native_seconds"], tally["geos_seconds"]
    refused = rings - tally["decided"]
    # What the module would spend: the native path on every ring, GEOS again on the refused ones.
    combined = native + tally["geos_seconds_refused"]
    return {
        "refused": refused,
        "refusal_rate": refused / rings if rings else 0.0,
        "points_per_ring": tally["points"] / rings if rings else 0.0,
        "native_us_per_ring": 1e6 * native / rings if rings else 0.0,
        "geos_us_per_ring": 1e6 * geos / rings if rings else 0.0,
        "native_ns_per_point": 1e9 * native / tally["points"] if tally["points"] else 0.0,
        "speedup": geos / native if native else 0.0,
        "speedup_with_fallback": geos / combined if combined else 0.0,
        "kept_fraction": tally["kept_points"] / tally["points"] if tally["points"] else 0.0,
    }


def print_tables(report: dict) -> None:
    total = report["total"]
    d = total["derived"]
    refusals = ", ".join(f"{k} {v}" for k, v in sorted(total["refusals"].items())) or "none"
    print(f"\n### native ring simplification against GEOS {report['geos_version']}\n")
    print(
        "| rings | points | refused | refusals by kind | mismatches | GEOS failures "
        "| native µs/ring | GEOS µs/ring | native ns/point | speedup | with GEOS fallback |"
    )
    print("|---:|---:|---:|---|---:|---:|---:|---:|---:|---:|---:|")
    print(
        f"| {total['rings']:,} | {total['points']:,} | {d['refused']:,} ({d['refusal_rate']:.3%}) "
        f"| {refusals} | {total['mismatches']} | {total['geos_failures']} "
        f"| {d['native_us_per_ring']:.2f} | {d['geos_us_per_ring']:.2f} "
        f"| {d['native_ns_per_point']:.1f} | {d['speedup']:.1f}x "
        f"| {d['speedup_with_fallback']:.1f}x |"
    )
    print("\n### per kind of ring\n")
    print(
        "| kind | rings | points/ring | kept | refused | mismatches | native µs/ring "
        "| GEOS µs/ring | speedup |"
    )
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|")
    for kind, tally in sorted(report["kinds"].items()):
        k = tally["derived"]
        print(
            f"| {kind} | {tally['rings']:,} | {k['points_per_ring']:.1f} "
            f"| {k['kept_fraction']:.0%} | {k['refused']} | {tally['mismatches']} "
            f"| {k['native_us_per_ring']:.2f} | {k['geos_us_per_ring']:.2f} | {k['speedup']:.1f}x |"
        )


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rings", type=_count, default=1_000_000, help="ring count (1M, 100k)")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--first", type=int, default=0, help="index of the first ring")
    parser.add_argument(
        "--repeat", type=int, default=2, help="timed runs per ring and side (the fastest counts)"
    )
    parser.add_argument("--build-dir", type=Path, default=ROOT / "build" / "cpp-tests")
    args = parser.parse_args(argv)

    driver = build(args.build_dir)
    print(f"== {args.rings:,} rings of seed {args.seed}", file=sys.stderr)
    run = subprocess.run(
        [
            str(driver),
            "--rings",
            str(args.rings),
            "--seed",
            str(args.seed),
            "--first",
            str(args.first),
            "--repeat",
            str(args.repeat),
        ],
        check=True,
        stdout=subprocess.PIPE,
        text=True,
    )
    report = json.loads(run.stdout)
    report["total"]["derived"] = derive(report["total"])
    for tally in report["kinds"].values():
        tally["derived"] = derive(tally)
    print_tables(report)

    RESULTS.mkdir(exist_ok=True)
    out = RESULTS / "bench_simplify.json"
    out.write_text(json.dumps(report, indent=2))
    print(f"\nwritten: {out}", file=sys.stderr)
    if report["total"]["mismatches"]:
        print(
            f"rings that differ from GEOS (first ones): {report['mismatched']}; "
            f"look at one with {driver} --seed {args.seed} --show INDEX",
            file=sys.stderr,
        )
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
