"""Delivery of one host message to a running live server, from any process.

Used by the message channel after every message. Delivery never raises: a missing server is a
notice logged once per process, anything else that goes wrong is a logged warning, and the
outcome comes back as a :class:`Delivery` for callers that want to report it. Only the standard
library is imported here, its HTTP client only once a server is found, so sending costs a sender
next to nothing when no server runs.
"""

from __future__ import annotations

import json
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any
from urllib.parse import urlsplit

from tarnwick.live.security import TOKEN_HEADER
from tarnwick.live.server_file import ServerFileError, read_server_file, server_file_path

if TYPE_CHECKING:
    import http.client

__all__ = ["TIMEOUT", "Delivery", "deliver", "find_server"]

TIMEOUT = 60.0  # seconds for one socket operation; a server stuck longer is reported as failing
_notice_given = False


@dataclass(frozen=True)
class Delivery:
    """The outcome of delivering one message."""

    delivered: bool
    pages: int = 0  # open pages that received it
    url: str = ""  # the server's address, when one was found
    problem: str = ""  # why it was not delivered


def _log():
    from tarnwick.logger import get_logger

    return get_logger()


def _no_server(why: str) -> Delivery:
    global _notice_given
    if not _notice_given:
        _notice_given = True
        _log().info(f"no live viewer running ({why}); `tarnwick serve` starts one")
    return Delivery(False, problem=f"no live viewer running ({why})")


def _failed(kind: str, url: str, problem: str) -> Delivery:
    _log().warning(f"{kind} not delivered to the live viewer at {url}: {problem}")
    return Delivery(False, url=url, problem=problem)


def find_server():
    """The running server's :class:`ServerInfo` from the server file, or None when there is no
    file; ServerFileError for a file that cannot be trusted."""
    return read_server_file(server_file_path())


def _body(message: Any) -> bytes | None:
    """The request body for `message`, or None when it is not a message record."""
    dump = getattr(message, "model_dump", None)
    if dump is None:
        return None
    import orjson

    return orjson.dumps({"type": type(message).__name__, "message": dump(mode="json")})


def _server_error(response: http.client.HTTPResponse) -> str:
    text = response.read(4096).decode("utf-8", "replace").strip()
    return f"the server answered {response.status} {response.reason}: {text}"


def deliver(message: Any) -> Delivery:
    """Send `message` to the running live server, if there is one."""
    kind = type(message).__name__
    path = server_file_path()
    try:
        server = read_server_file(path)
    except ServerFileError as error:
        return _failed(kind, "?", f"ignoring the server file: {error}")
    if server is None:
        return _no_server(f"no {path}")
    body = _body(message)
    if body is None:
        return Delivery(False, url=server.url, problem=f"{kind} is not a message record")
    if len(body) > server.max_message_bytes:
        return _failed(
            kind,
            server.url,
            f"message too large: {len(body):,} bytes, the server's cap is "
            f"{server.max_message_bytes:,} bytes (start it with a larger --max-message-mb)",
        )
    import http.client  # only once a server is found: most senders have none to talk to

    address = urlsplit(server.url)
    connection = http.client.HTTPConnection(address.hostname, address.port, timeout=TIMEOUT)
    try:
        connection.request(
            "POST",
            "/api/messages",
            body=body,
            headers={"Content-Type": "application/json", TOKEN_HEADER: server.token},
        )
        response = connection.getresponse()
        if response.status != 200:
            return _failed(kind, server.url, _server_error(response))
        pages = int(json.loads(response.read()).get("pages", 0))
    except ConnectionRefusedError:
        return _no_server(f"the server that wrote {path} is gone")
    except (OSError, http.client.HTTPException, ValueError, AttributeError) as error:
        return _failed(kind, server.url, str(error) or type(error).__name__)
    finally:
        connection.close()
    _log().debug(f"{kind} delivered to the live viewer at {server.url} ({pages} page(s))")
    return Delivery(True, pages=pages, url=server.url)
