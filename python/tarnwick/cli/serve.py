"""``tarnwick serve``: run the live viewer, which shows every scene sent by ``depthview``.

A local server shows every scene sent through the host channel (``depthview`` from any script or
notebook, ``tarnwick view --serve``, ``tarnwick watch``) in the browser pages open on it.

It listens on 127.0.0.1 only, and every page and sender needs its token; the address and token
are written to an owner-only file below the build directory, where senders find them. Ctrl-C (or
SIGTERM) stops it and removes that file.
"""

from __future__ import annotations

import argparse
import sys
import threading

from tarnwick.cli.arguments import finite
from tarnwick.cli.failures import Failed, UsageError, shown_lines


def _megabytes(text: str) -> int:
    value = finite(text)
    if not value > 0:
        raise argparse.ArgumentTypeError("must be positive")
    return int(value * 1024 * 1024)


def add_parser(subparsers) -> argparse.ArgumentParser:
    from tarnwick.live import DEFAULT_HOST, DEFAULT_MAX_MESSAGE_BYTES, DEFAULT_PORT

    parser = subparsers.add_parser(
        "serve",
        help="run the live viewer: scenes sent by depthview show in the open browser pages",
        description=__doc__.splitlines()[0],
    )
    parser.add_argument(
        "--port",
        type=int,
        default=DEFAULT_PORT,
        metavar="N",
        help=f"the port to listen on (default {DEFAULT_PORT}; 0 picks a free one)",
    )
    parser.add_argument(
        "--open", action="store_true", help="open the viewer page in the default browser"
    )
    parser.add_argument(
        "--host",
        default=DEFAULT_HOST,
        metavar="ADDRESS",
        help=f"the address to listen on (default {DEFAULT_HOST}); others need --allow-remote",
    )
    parser.add_argument(
        "--allow-remote",
        action="store_true",
        help="allow listening on a non-loopback address (pages and senders still need the token)",
    )
    parser.add_argument(
        "--max-message-mb",
        type=_megabytes,
        default=DEFAULT_MAX_MESSAGE_BYTES,
        dest="max_message_bytes",
        metavar="MB",
        help=f"the largest message accepted, in MiB (default {DEFAULT_MAX_MESSAGE_BYTES >> 20})",
    )
    return parser


def _open_page(url: str) -> None:
    import webbrowser

    if not webbrowser.open(url):
        print("  no browser could be opened: open the address above", flush=True)


def run(args: argparse.Namespace) -> int:
    from tarnwick.live.server import LiveServerError, serve
    from tarnwick.live.server_file import server_file_path
    from tarnwick.viewer_page import ViewerNotBuiltError, page_html

    if not 0 <= args.port <= 65535:
        raise UsageError(f"not a port number: {args.port}")
    try:
        page = page_html("", title="tarnwick live view")
    except ViewerNotBuiltError as error:
        raise Failed(str(error)) from error

    def ready(info) -> None:
        print(f"tarnwick serve: live viewer at {info.page_url}", flush=True)
        print(f"  senders find it through {server_file_path()}", flush=True)
        print("  Ctrl-C stops it", flush=True)
        if args.open:
            # Some browsers run in the foreground of the process that starts them: never let
            # one hold up the server.
            threading.Thread(target=_open_page, args=(info.page_url,), daemon=True).start()

    try:
        serve(
            args.host,
            args.port,
            page_html=page,
            allow_remote=args.allow_remote,
            max_message_bytes=args.max_message_bytes,
            on_ready=ready,
            log=lambda text: print(f"  {shown_lines(text)}", file=sys.stderr, flush=True),
        )
    except LiveServerError as error:
        raise Failed(str(error)) from error
    print("tarnwick serve: stopped", flush=True)
    return 0
