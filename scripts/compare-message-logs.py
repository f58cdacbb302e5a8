"""Compares two viewer message logs (see tests/python/depthview/conftest.py: message_log): every
test logged in both must have sent the very same messages. Exit status 1 names the tests that
differ, 2 when the logs share no test."""

from __future__ import annotations

import json
import sys


def load(path: str) -> dict[str, list[str]]:
    """The log's tests and their messages; none when no test logged (the file is then absent)."""
    try:
        with open(path, encoding="utf-8") as log:
            return {entry["test"]: entry["messages"] for entry in map(json.loads, log)}
    except FileNotFoundError:
        return {}


def main(first: str, second: str) -> int:
    a, b = load(first), load(second)
    common = sorted(a.keys() & b.keys())
    if not common:
        print(f"no test logged messages in both {first} and {second}", file=sys.stderr)
        return 2
    differing = [test for test in common if a[test] != b[test]]
    for test in differing:
        print(f"messages differ: {test}", file=sys.stderr)
    print(f"{len(common) - len(differing)} of {len(common)} tests sent the same messages")
    return 1 if differing else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:3]))
