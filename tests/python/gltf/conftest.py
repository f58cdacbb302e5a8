"""Fixtures of the glTF tests: the Khronos validator, and three.js's GLTFLoader in headless
Chromium."""

from __future__ import annotations

import base64
import json
import shutil
import subprocess
from pathlib import Path

import pytest
from klayout import db

VIEWER = Path(__file__).resolve().parents[3] / "viewer"
VALIDATOR = VIEWER / "node_modules" / "gltf-validator"

_VALIDATE = """
const fs = require('fs');
const validator = require(process.argv[1]);
(async () => {
  const out = {};
  for (const path of process.argv.slice(2)) {
    const report = await validator.validateBytes(new Uint8Array(fs.readFileSync(path)));
    out[path] = report.issues.messages.filter((m) => m.severity === 0).slice(0, 5)
      .map((m) => `${m.code} ${m.pointer}: ${m.message}`);
    out[path].unshift(report.issues.numErrors);
  }
  console.log(JSON.stringify(out));
})();
"""


@pytest.fixture(scope="session")
def validate():
    """validate(*paths): asserts that the Khronos glTF validator finds no error in each file."""
    if shutil.which("node") is None or not VALIDATOR.is_dir():
        pytest.skip("node or the gltf-validator package (scripts/setup.sh installs it) is missing")

    def validate(*paths: Path) -> None:
        run = subprocess.run(
            ["node", "-e", _VALIDATE, str(VALIDATOR), *map(str, paths)],
            capture_output=True,
            text=True,
            timeout=300,
            check=True,
        )
        for path, (errors, *messages) in json.loads(run.stdout).items():
            assert errors == 0, f"{path}: {errors} errors: {messages}"

    return validate


@pytest.fixture(scope="session")
def loader_page(tmp_path_factory):
    """A Chromium tab with three.js's GLTFLoader (bundled from viewer/node_modules) as
    window.gltfCheck; load(path) loads a file into it."""
    from depthview import browser

    if browser.chromium() is None or shutil.which("node") is None:
        pytest.skip("chromium or node is not installed")
    folder = tmp_path_factory.mktemp("gltf-loader")
    bundle = folder / "check.js"
    build = (
        "require('esbuild').buildSync({entryPoints: [process.argv[1]], bundle: true, "
        "format: 'iife', outfile: process.argv[2], nodePaths: [process.argv[3]], logLevel: 'error'})"
    )
    subprocess.run(
        [
            "node",
            "-e",
            build,
            str(Path(__file__).with_name("gltf_check.js")),
            str(bundle),
            str(VIEWER / "node_modules"),
        ],
        cwd=VIEWER,
        check=True,
        timeout=120,
    )
    page_file = folder / "check.html"
    page_file.write_text(
        f"<!doctype html><html><body><script>{bundle.read_text()}</script></body></html>"
    )
    with browser.Chromium() as chromium:
        page = chromium.page()

        def load(path: Path) -> None:
            page.evaluate(
                f"gltfCheck.load({json.dumps(base64.b64encode(path.read_bytes()).decode())})"
            )

        page.call("Page.navigate", {"url": page_file.resolve().as_uri()})
        page.wait_for("window.gltfCheck !== undefined")
        page.load = load
        page.chromium = chromium
        yield page


BAR = (41, 0)  # M1 of the demo PDK: bottom 1.9 um, 0.6 um thick


def free_angle_gds(path: Path) -> Path:
    """A 20 x 2 um bar on M1 placed turned by 30 degrees at (100, 0), magnified by 2 at (0, 100)
    and mirrored, turned by 45 degrees and magnified by 1.5 at (50, -60); and an L on M1 in the top
    cell itself."""
    layout = db.Layout()
    layout.dbu = 0.001
    top, bar = layout.create_cell("top"), layout.create_cell("bar")
    m1 = layout.layer(*BAR)
    bar.shapes(m1).insert(db.Box(0, 0, 20000, 2000))
    top.shapes(m1).insert(
        db.Polygon(
            [
                db.Point(x, y)
                for x, y in ((0, 0), (6000, 0), (6000, 3000), (2000, 3000), (2000, 1000), (0, 1000))
            ]
        )
    )
    for trans in (
        db.DCplxTrans(1, 30, False, 100, 0),
        db.DCplxTrans(2, 0, False, 0, 100),
        db.DCplxTrans(1.5, 45, True, 50, -60),
    ):
        top.insert(db.DCellInstArray(bar.cell_index(), trans))
    layout.write(str(path))
    return path
