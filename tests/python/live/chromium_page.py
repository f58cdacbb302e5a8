"""One page in headless Chromium open on a URL, for tests that read a live page's state while it
runs; the browser and its DevTools pipe are the viewer tests' driver."""

from __future__ import annotations

import time
from typing import Self

from depthview.browser import BrowserError, Chromium, chromium

__all__ = ["ChromiumPage", "chromium"]


class ChromiumPage:
    """Opens `url` in a fresh headless Chromium; use as a context manager, which always ends the
    browser."""

    def __init__(self, url: str) -> None:
        self._browser = Chromium(width=1000, height=700)
        try:
            self._page = self._browser.page()
            self._page.call("Page.navigate", {"url": url})
        except BaseException:
            self._browser.close()
            raise

    def __enter__(self) -> Self:
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def evaluate(self, expression: str):
        return self._page.evaluate(expression, timeout=30)

    def body_data(self) -> dict[str, str]:
        """The data-* attributes of the page's <body> (dataset names)."""
        return self.evaluate("document.body ? {...document.body.dataset} : {}") or {}

    def wait_for(self, expression: str, timeout: float):
        """The value of `expression` once it is truthy; TimeoutError after `timeout` seconds."""
        deadline = time.monotonic() + timeout
        while True:
            try:
                value = self.evaluate(expression)
            except BrowserError:  # the page is not there yet
                value = None
            if value:
                return value
            if time.monotonic() > deadline:
                raise TimeoutError(
                    f"{expression} still false after {timeout} s: {self.body_data()}"
                )
            time.sleep(0.05)

    def close(self) -> None:
        self._browser.close()
