"""Benchmark of the offline viewer page in headless Chromium (SwiftShader): today's page (the
bundle built from a given commit, by default ba76f92) against the page of this tree, in one run,
on the same messages; and the command line's write stage (the message file and its page).

For each layout (the demo chip and generated layouts of 10k and 100k distinct polygons; 1M with
--large, for the new page only unless --old-large) and each page it measures, each page in a fresh
browser:

- first frame: seconds from the start of navigation until the page reports the scene drawn
  (data-tw-state="ready") and the GPU has finished that frame;
- drawn in full: until the page is ready and no progress is left (data-tw-detail="complete":
  every shape the view draws in detail is triangulated);
- the peak JS heap while loading: the page's and its workers' used heap, sampled every 0.2 s;
- a frame while orbiting at fit zoom: one drag step of the mouse until the frame it causes is
  finished on the GPU (median of several steps);
- triangles, draw calls (WebGL API calls; a multi-draw call counts once) and sub-draws per
  orbiting frame, counted by wrapping the WebGL functions of the page;
- the longest main-thread task (long-task observer) after the first frame while the page
  finishes loading, and while orbiting (without the GPU waits of the frame measurement).

The write stage: today's (the message written whole, then the page made as one text and written
whole) against `write_message_and_page` (both in one pass), best of three, with the peak of
Python's allocations beside it.

It prints markdown tables with the ratios (today / new) and writes bench/results/viewer_page.json.

    .venv/bin/python bench/bench_viewer_page.py                 # demo chip, 10k, 100k
    .venv/bin/python bench/bench_viewer_page.py --large         # and 1M (new page)
    .venv/bin/python bench/bench_viewer_page.py --layouts demo 10k --steps 3
"""

from __future__ import annotations

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
REPO = HERE.parent
RESULTS = HERE / "results"
sys.path.insert(0, str(REPO / "tests" / "python"))
sys.path.insert(0, str(HERE))

from depthview import browser
from tarnwick.files import write_text
from tarnwick.viewer_page import page_html, write_message_and_page

TODAY = "ba76f92"

# Counts WebGL draws: calls, sub-draws, triangles, points and lines since the last reset; records
# when the page reports its state, and long main-thread tasks.
HOOK = r"""
(() => {
  const counts = { calls: 0, subDraws: 0, triangles: 0, points: 0, lines: 0 };
  const add = (mode, n, instances = 1) => {
    const gl = WebGL2RenderingContext;
    if (mode === gl.TRIANGLES) counts.triangles += Math.floor(n / 3) * instances;
    else if (mode === gl.POINTS) counts.points += n * instances;
    else if (mode === gl.LINES) counts.lines += Math.floor(n / 2) * instances;
  };
  const proto = WebGL2RenderingContext.prototype;
  const wrap = (object, name, count) => {
    const original = object[name];
    if (!original || original.__counted) return;
    object[name] = function (...args) {
      counts.calls += 1;
      count(args);
      return original.apply(this, args);
    };
    object[name].__counted = true;
  };
  wrap(proto, 'drawArrays', ([mode, , n]) => { counts.subDraws += 1; add(mode, n); });
  wrap(proto, 'drawElements', ([mode, n]) => { counts.subDraws += 1; add(mode, n); });
  wrap(proto, 'drawRangeElements', ([mode, , , n]) => { counts.subDraws += 1; add(mode, n); });
  wrap(proto, 'drawArraysInstanced', ([mode, , n, k]) => { counts.subDraws += 1; add(mode, n, k); });
  wrap(proto, 'drawElementsInstanced', ([mode, n, , , k]) => { counts.subDraws += 1; add(mode, n, k); });
  const getExtension = proto.getExtension;
  proto.getExtension = function (name) {
    const ext = getExtension.call(this, name);
    if (ext && name === 'WEBGL_multi_draw') {
      const each = (counts_, co, drawcount, instances, io) => {
        for (let i = 0; i < drawcount; i += 1) {
          counts.subDraws += 1;
          add(this.__mode, counts_[co + i], instances ? instances[io + i] : 1);
        }
      };
      const self = this;
      wrap(ext, 'multiDrawArraysWEBGL', ([m, , , c, co, d]) => { self.__mode = m; each.call(self, c, co, d); });
      wrap(ext, 'multiDrawElementsWEBGL', ([m, c, co, , , , d]) => { self.__mode = m; each.call(self, c, co, d); });
      wrap(ext, 'multiDrawArraysInstancedWEBGL', ([m, , , c, co, k, ko, d]) => { self.__mode = m; each.call(self, c, co, d, k, ko); });
      wrap(ext, 'multiDrawElementsInstancedWEBGL', ([m, c, co, , , , k, ko, d]) => { self.__mode = m; each.call(self, c, co, d, k, ko); });
    }
    return ext;
  };
  const sync = () => {
    const canvas = document.querySelector('canvas');
    const gl = canvas && canvas.getContext('webgl2');
    if (gl) gl.readPixels(0, 0, 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, new Uint8Array(4));
  };
  const marks = {};
  const longTasks = [];
  try {
    new PerformanceObserver((list) => {
      for (const entry of list.getEntries()) longTasks.push([entry.startTime, entry.duration]);
    }).observe({ type: 'longtask', buffered: true });
  } catch (error) {}
  new MutationObserver(() => {
    const data = document.body && document.body.dataset;
    if (!data) return;
    if (data.twState === 'ready' && !marks.ready) {
      marks.ready = performance.now();
      requestAnimationFrame(() => { sync(); marks.firstFrame = performance.now(); });
    }
    if (data.twDetail === 'complete' && !marks.detail) marks.detail = performance.now();
  }).observe(document, { subtree: true, attributes: true, attributeFilter: ['data-tw-state', 'data-tw-detail'] });
  window.__bench = {
    counts,
    marks,
    longTasks,
    reset() { for (const key of Object.keys(counts)) counts[key] = 0; },
    sync,
  };
})();
"""

SYNC = "new Promise((r) => requestAnimationFrame(() => { window.__bench.sync(); r(true); }))"


def _label(size: int) -> str:
    return (
        f"{size // 1_000_000}M"
        if size >= 1_000_000 and size % 1_000_000 == 0
        else f"{size // 1000}k"
    )


def _size(text: str) -> int:
    text = text.lower()
    if text == "demo":
        return 0
    factor = {"k": 1_000, "m": 1_000_000}.get(text[-1], 1)
    return int(float(text.rstrip("km")) * factor)


def build_today(commit: str, folder: Path) -> Path:
    """The bundle of the viewer page at `commit`, built into `folder`; returns its dist folder."""
    archive = subprocess.run(
        ["git", "-C", str(REPO), "archive", commit, "viewer"], capture_output=True, check=True
    ).stdout
    subprocess.run(["tar", "-x", "-C", str(folder)], input=archive, check=True)
    viewer = folder / "viewer"
    # The commit pins the same three.js and esbuild versions: reuse the installed packages.
    os.symlink(REPO / "viewer" / "node_modules", viewer / "node_modules")
    subprocess.run(["node", "build.mjs"], cwd=viewer, check=True, capture_output=True)
    return viewer / "dist"


def message_file(size: int, seed: int) -> Path:
    """The viewer message of the demo chip (size 0) or of a generated layout, made once."""
    from tarnwick.cli import main

    folder = RESULTS / "viewer_page"
    folder.mkdir(parents=True, exist_ok=True)
    if size == 0:
        target = folder / "demo_chip.json"
        if not target.is_file():
            main(["view", "demo_chip", "-o", str(target)])
        return target
    target = folder / f"generated_{_label(size)}_{seed}.json"
    if not target.is_file():
        import layout_generator

        gds = layout_generator.generate_gds(
            size, folder / f"generated_{_label(size)}_{seed}.gds", seed
        )
        main(["view", str(gds), "-o", str(target)])
    return target


def heap_used(page) -> int:
    """Bytes of JS heap used now by the page and the workers attached to it."""
    total = 0
    sessions = [page.session]
    for event in page.browser.events(page.session):
        params = event["params"]
        if event["method"] == "Target.attachedToTarget":
            sessions.append(params["sessionId"])
        elif event["method"] == "Target.detachedFromTarget" and params.get("sessionId") in sessions:
            sessions.remove(params["sessionId"])
    for session in sessions:
        try:
            total += page.browser.call("Runtime.getHeapUsage", {}, session, 60)["usedSize"]
        except browser.BrowserError:  # a worker that ended meanwhile
            pass
    return total


def write_stage(content: str, folder: Path, rounds: int = 3) -> dict:
    """Seconds (best of `rounds`) and peak Python allocation of today's write stage and the new
    one, for the message `content`."""
    import tracemalloc

    def today() -> None:
        write_text(folder / "today.json", content)
        write_text(folder / "today.html", page_html(content, title="bench"))

    def new() -> None:
        write_message_and_page(content, folder / "new.json", folder / "new.html", title="bench")

    result = {}
    for name, write in (("today", today), ("new", new)):
        times = []
        for _ in range(rounds):
            begin = time.perf_counter()
            write()
            times.append(time.perf_counter() - begin)
        tracemalloc.start()
        write()
        peak = tracemalloc.get_traced_memory()[1]
        tracemalloc.stop()
        result[name] = {"seconds": min(times), "peak_mib": peak / 2**20}
    if (folder / "today.html").read_bytes() != (folder / "new.html").read_bytes():
        raise RuntimeError("the write stages wrote different pages")
    return result


def measure(page_file: Path, steps: int, timeout: float) -> dict:
    """Loads a page in a fresh browser and measures it (see the module's docstring)."""
    with browser.Chromium() as chromium:
        page = chromium.page()
        page.call("Page.addScriptToEvaluateOnNewDocument", {"source": HOOK})
        page.call(
            "Target.setAutoAttach",
            {"autoAttach": True, "waitForDebuggerOnStart": False, "flatten": True},
        )
        started = time.perf_counter()
        page.call("Page.navigate", {"url": page_file.resolve().as_uri()})
        # Until drawn in full (or an error): the marks, and the JS heap of the page and its
        # workers every 0.2 s.
        peak = 0
        finished = (
            "window.__bench && ((window.__bench.marks.firstFrame && window.__bench.marks.detail)"
            " || (document.body && document.body.dataset.twState === 'error'))"
        )
        while True:
            done = page.evaluate(finished, timeout=timeout)
            peak = max(peak, heap_used(page))
            if done:
                break
            if time.perf_counter() - started > timeout:
                raise RuntimeError(f"{page_file.name}: not drawn within {timeout} s")
            time.sleep(0.2)
        load_seconds = time.perf_counter() - started
        if page.evaluate("document.body.dataset.twState") == "error":
            raise RuntimeError(f"{page_file.name}: the page reports an error: {page.console()}")
        marks = page.evaluate("window.__bench.marks")
        result = {
            "first_frame_s": marks["firstFrame"] / 1000,
            "wall_s": load_seconds,
            "full_detail_s": max(marks["detail"], marks["firstFrame"]) / 1000,
            "peak_heap_mib": peak / 2**20,
        }
        tasks = page.evaluate("window.__bench.longTasks")
        loaded = marks.get("detail") or page.evaluate("performance.now()")
        result["longest_task_loading_ms"] = max(
            (d for start, d in tasks if marks["firstFrame"] <= start <= loaded), default=0.0
        )
        result["longest_task_before_first_frame_ms"] = max(
            (d for start, d in tasks if start < marks["ready"]), default=0.0
        )
        page.evaluate(SYNC, timeout=timeout)
        box = page.evaluate(
            "(() => { const r = document.querySelector('canvas').getBoundingClientRect();"
            " return [r.left + r.width / 2, r.top + r.height / 2]; })()"
        )
        x, y = box
        page.mouse("mouseMoved", x, y)
        page.mouse("mousePressed", x, y, "left")
        frames = []
        counts = None
        for _ in range(steps):
            x += 8
            page.evaluate("window.__bench.reset()")
            begin = time.perf_counter()
            page.browser.call(
                "Input.dispatchMouseEvent",
                {"type": "mouseMoved", "x": x, "y": y, "button": "left", "buttons": 1},
                page.session,
                timeout,
            )
            page.evaluate(SYNC, timeout=timeout)
            frames.append(time.perf_counter() - begin)
            counts = page.evaluate("Object.assign({}, window.__bench.counts)")
        result["orbit_frame_s"] = statistics.median(frames)
        result["orbit_frames_s"] = frames
        result["per_frame"] = counts
        # Orbiting as a user would, without waiting for the GPU inside the page: the longest
        # main-thread task while the frames follow the mouse.
        began = page.evaluate("performance.now()")
        for _ in range(steps):
            x += 8
            page.browser.call(
                "Input.dispatchMouseEvent",
                {"type": "mouseMoved", "x": x, "y": y, "button": "left", "buttons": 1},
                page.session,
                timeout,
            )
            page.evaluate(
                "new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(() => r(true))))",
                timeout=timeout,
            )
        page.mouse("mouseReleased", x, y, "left")
        tasks = page.evaluate("window.__bench.longTasks")
        result["longest_task_orbiting_ms"] = max(
            (d for start, d in tasks if start >= began), default=0.0
        )
        if page.evaluate("!!window.tarnwick"):
            result["inspect"] = page.evaluate(
                "(() => { const s = tarnwick.inspect(); return {stats: s.stats, timings: s.timings, marks: s.marks}; })()"
            )
        page.close()
    return result


def table_row(label: str, entry: dict) -> str:
    """One row of the results table: today's page against the new one, with ratios."""
    new, today = entry["new"], entry.get("today")

    def both(key: str, fmt: str) -> str:
        ratio = f" ({today[key] / new[key]:.1f}x)" if today and new[key] else ""
        return f"{fmt.format(today[key]) if today else '–'} / {fmt.format(new[key])}{ratio}"

    def per_frame(key: str) -> str:
        before = f"{today['per_frame'][key]:,}" if today else "–"
        return f"{before} / {new['per_frame'][key]:,}"

    return (
        f"| {label} | {entry['message_mib']:.1f} | {both('first_frame_s', '{:.2f}')} "
        f"| {both('full_detail_s', '{:.2f}')} | {both('peak_heap_mib', '{:.0f}')} "
        f"| {both('orbit_frame_s', '{:.3f}')} "
        f"| {per_frame('triangles')} | {per_frame('calls')} ({new['per_frame']['subDraws']:,}) "
        f"| {new['longest_task_loading_ms']:.0f} / {new['longest_task_orbiting_ms']:.0f} |"
    )


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--layouts", nargs="+", default=["demo", "10k", "100k"])
    parser.add_argument("--large", action="store_true", help="also the 1M polygon layout")
    parser.add_argument("--old-large", action="store_true", help="measure today's page at 1M too")
    parser.add_argument("--pages", nargs="+", choices=("today", "new"), default=["today", "new"])
    parser.add_argument("--commit", default=TODAY, help="the commit of today's page")
    parser.add_argument("--steps", type=int, default=5, help="orbit steps per page")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--timeout", type=float, default=3600)
    parser.add_argument(
        "--no-write", dest="write", action="store_false", help="skip the write stage"
    )
    args = parser.parse_args(argv)
    sizes = [_size(text) for text in args.layouts] + ([1_000_000] if args.large else [])

    results = {"commit": args.commit, "layouts": {}}
    with tempfile.TemporaryDirectory(prefix="tw-bench-viewer-") as scratch:
        scratch = Path(scratch)
        print(f"== building today's page from {args.commit}", file=sys.stderr)
        today_dist = build_today(args.commit, scratch)
        for size in sizes:
            label = "demo chip" if size == 0 else f"generated {_label(size)}"
            content_path = message_file(size, args.seed)
            content = content_path.read_text()
            entry = {"message_mib": content_path.stat().st_size / 2**20}
            if args.write:
                print(f"== {label}: the write stage", file=sys.stderr)
                entry["write"] = write_stage(content, scratch)
            for version, dist in (("today", today_dist), ("new", None)):
                if version not in args.pages or (
                    version == "today" and size >= 1_000_000 and not args.old_large
                ):
                    continue
                page_file = scratch / f"{version}_{size}.html"
                page_file.write_text(page_html(content, title=label, dist=dist), encoding="utf-8")
                steps = args.steps if (version == "new" or size < 100_000) else 2
                print(f"== {label}: {version}'s page", file=sys.stderr)
                entry[version] = measure(page_file, steps, args.timeout)
                page_file.unlink()
            results["layouts"][label] = entry
            del content

    RESULTS.mkdir(parents=True, exist_ok=True)
    (RESULTS / "viewer_page.json").write_text(json.dumps(results, indent=2))
    print("\n### viewer page: today's page against this tree's (headless Chromium, SwiftShader)\n")
    print(
        "| layout | message MiB | first frame s today / new (ratio) "
        "| drawn in full s today / new (ratio) | peak JS heap MiB today / new (ratio) "
        "| orbit frame s today / new (ratio) | triangles per frame today / new "
        "| draw calls today / new (sub-draws new) | longest task ms new: loading after the first "
        "frame / orbiting |"
    )
    print("|---|---:|---|---|---|---|---|---|---|")
    for label, e in results["layouts"].items():
        if "new" in e:
            print(table_row(label, e))
    if any("write" in e for e in results["layouts"].values()):
        print("\n### write stage: the message file and its page, today's against one pass\n")
        print(
            "| layout | message MiB | seconds today / new (ratio) | peak Python MiB today / new |"
        )
        print("|---|---:|---|---|")
        for label, e in results["layouts"].items():
            if "write" in e:
                today, new = e["write"]["today"], e["write"]["new"]
                print(
                    f"| {label} | {e['message_mib']:.1f} | {today['seconds']:.3f} / "
                    f"{new['seconds']:.3f} ({today['seconds'] / new['seconds']:.1f}x) "
                    f"| {today['peak_mib']:.0f} / {new['peak_mib']:.0f} |"
                )
    print(
        "\nfirst frame: navigation start until the scene is drawn and the GPU is done; drawn in "
        "full: also no progress left (every shape the view draws in detail triangulated); peak "
        "heap: the page's and its workers' JS heap, sampled every 0.2 s; orbit frame: "
        "one mouse drag step at fit zoom until its frame is done; draw calls are WebGL API calls "
        "(a multi-draw call counts once); longest tasks: main-thread long tasks after the first "
        "frame until full detail, and while orbiting without waiting for the GPU in the page. "
        f"Today's page: commit {args.commit}."
    )
    return 0


if __name__ == "__main__":
    sys.exit(main())
