"""What ``tarnwick view --serve`` and ``tarnwick watch`` tell about the live viewer: whether one
is running before the work starts, and whether the scene reached it afterwards."""

from __future__ import annotations

from tarnwick.cli.failures import Failed


def server_problem() -> str | None:
    """Why no scene can be sent to a live viewer now, or None when a server file names one."""
    from tarnwick.live.delivery import find_server
    from tarnwick.live.server_file import ServerFileError, server_file_path

    try:
        server = find_server()
    except ServerFileError as error:
        return f"cannot use the live viewer's server file: {error}"
    if server is None:
        return f"no live viewer is running (no {server_file_path()}): start `tarnwick serve` first"
    return None


def report_delivery(delivery) -> None:
    """Print where the scene went in the live viewer; `Failed` when it did not reach it."""
    if delivery is None or not delivery.delivered:
        problem = delivery.problem if delivery is not None else "see the warning above"
        raise Failed(f"the scene did not reach the live viewer: {problem}")
    pages = f"{delivery.pages} page" + ("" if delivery.pages == 1 else "s")
    hint = "" if delivery.pages else " (none open: it shows when a page opens)"
    print(f"sent to the live viewer at {delivery.url}: {pages}{hint}", flush=True)
