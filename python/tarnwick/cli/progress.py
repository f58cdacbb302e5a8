"""The progress of a 3D scene on standard error, shared by the commands that make one."""

from __future__ import annotations

import sys
import time

#: The stages of a scene, in the order the report hook names them.
STAGES = ("read", "parse", "convert", "encode")

_STAGE_TEXT = {
    "read": "reading the layout",
    "parse": "parsing",
    "convert": "converting",
    "encode": "encoding and sending",
}


class StageProgress:
    """The report hook of depthview: names each stage on stderr as it starts, with the time
    elapsed so far, and keeps the final report (stage seconds, counts, layout reader)."""

    def __init__(self) -> None:
        self.start = time.perf_counter()
        self.final: dict = {}

    def __call__(self, event: dict) -> None:
        stage = event["stage"]
        if stage == "done":
            self.final = event
            return
        elapsed = time.perf_counter() - self.start
        print(
            f"  [{elapsed:7.2f} s] {_STAGE_TEXT.get(stage, stage)} …", file=sys.stderr, flush=True
        )
