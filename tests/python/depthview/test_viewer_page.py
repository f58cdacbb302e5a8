"""The offline viewer page file: built from the message content and the bundle, self-contained,
and safe whatever text the scene holds. How the page behaves in a browser is tested in
tests/python/viewer."""

from __future__ import annotations

import json
import shutil
import subprocess
from pathlib import Path

import pytest
from tarnwick.viewer_page import ViewerNotBuiltError, page_html, viewer_dist

REPO = Path(__file__).resolve().parents[3]


def test_viewer_is_built():
    dist = viewer_dist()
    assert (dist / "viewer.js").is_file() and (dist / "page.html").is_file(), (
        "build the viewer: scripts/setup.sh, or npm ci && npm run build in viewer/"
    )


def test_missing_bundle_is_reported(tmp_path):
    with pytest.raises(ViewerNotBuiltError, match="npm"):
        page_html("{}", dist=tmp_path)
    (tmp_path / "page.html").write_text(
        "<title><!-- tarnwick:title --></title><!-- tarnwick:scene -->"
    )
    (tmp_path / "viewer.js").write_text("")
    with pytest.raises(ViewerNotBuiltError, match="tarnwick:script"):
        page_html("{}", dist=tmp_path)


@pytest.mark.skipif(shutil.which("node") is None, reason="node is not installed")
def test_page_unit_tests():
    if not (REPO / "viewer" / "node_modules" / "three").is_dir():
        pytest.fail("viewer/node_modules is missing: run npm ci in viewer/")
    result = subprocess.run(
        ["node", "--test", "test/"],
        cwd=REPO / "viewer",
        capture_output=True,
        text=True,
        check=False,
    )
    assert result.returncode == 0, result.stdout + result.stderr
    assert "# fail 0" in result.stdout


def test_scene_text_cannot_end_a_script_element_nor_fill_a_marker():
    name = "evil</script><script>alert(1)</script><!-- tarnwick:script --><!--"
    content = json.dumps({"type": "data", "data": {"name": name, "id": "/x"}, "config": {}})
    page = page_html(content, title="<b>title</b>")
    start = page.index('<script id="tarnwick-scene" type="application/json">')
    start = page.index(">", start) + 1
    end = page.index("</script>", start)
    assert json.loads(page[start:end]) == json.loads(content)
    # One bundle script and one scene element, the title escaped, the page ending normally.
    assert page.count("</script>") == 2
    assert "<title>&lt;b&gt;title&lt;/b&gt;</title>" in page
    assert "tarnwick:" not in page.replace(page[start:end], "")
    assert page.rstrip().endswith("</html>")
    # The bundle comes before the scene, so the page shows its progress while the scene loads.
    assert page.index("window.tarnwick") < start
