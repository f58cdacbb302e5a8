"""The page's notice banner: the text the page was written with, shown over the view until
closed; no banner without a notice."""

from __future__ import annotations

from tarnwick.viewer_page import write_page

from .test_page import synthetic


def test_notice_banner_shows_the_text_and_closes(page, tmp_path):
    content, _ = synthetic()
    notice = "2 layers with 3 shapes not drawn:\n    200/0 </script> 2 shapes"
    page.open(write_page(content, tmp_path / "with.html", notice=notice))
    assert page.evaluate("document.getElementById('tw-notice').firstChild.textContent") == notice
    page.evaluate("document.querySelector('#tw-notice button').click()")
    assert page.evaluate("document.getElementById('tw-notice')") is None
    page.open(write_page(content, tmp_path / "without.html"))
    assert page.evaluate("document.getElementById('tw-notice')") is None
    assert page.evaluate("document.body.dataset.twState") == "ready"
