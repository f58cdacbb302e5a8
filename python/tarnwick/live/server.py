"""The live viewer server: serves the viewer page and pushes host messages to every open page.

Routes (every one behind the checks of :mod:`tarnwick.live.security`):

- ``GET /``: the viewer page, with an empty scene; its script connects back to ``/ws``.
- ``GET /ws``: the page's WebSocket. On connecting, a page gets a ``hello`` frame and the latest
  scene, then every message as ``{"type": <message class>, "seq": n, "message": <fields>}``.
- ``POST /api/messages``: a sender delivers one message, ``{"type": ..., "message": ...}``; the
  reply tells how many pages it reached.
- ``GET /api/status``: the number of open pages and messages received.

Nothing else is served: the page is one self-contained HTML file, so there is no file route.
"""

from __future__ import annotations

import asyncio
import contextlib
import os
import secrets
import signal
import sys
from collections.abc import Callable
from dataclasses import dataclass, field

import orjson
from aiohttp import WSCloseCode, WSMsgType, web
from pydantic import BaseModel, ValidationError

from tarnwick.live import DEFAULT_HOST, DEFAULT_MAX_MESSAGE_BYTES, DEFAULT_PORT, security
from tarnwick.live.server_file import (
    ServerFileError,
    ServerInfo,
    read_server_file,
    remove_server_file,
    server_file_path,
    write_server_file,
)
from tarnwick.models import (
    DepthviewMessage,
    NoticeMessage,
    ReloadFactoriesMessage,
    ReloadLayoutMessage,
)
from tarnwick.sizes import format_size

__all__ = [
    "DEFAULT_HOST",
    "DEFAULT_MAX_MESSAGE_BYTES",
    "DEFAULT_PORT",
    "MESSAGE_TYPES",
    "LiveServer",
    "LiveServerError",
    "serve",
]

MESSAGE_TYPES: dict[str, type[BaseModel]] = {
    model.__name__: model
    for model in (DepthviewMessage, ReloadLayoutMessage, ReloadFactoriesMessage, NoticeMessage)
}
_PAGE_FRAME_LIMIT = 64 * 1024  # pages send nothing the server acts on
_SEND_TIMEOUT = 60.0  # seconds for one page to take one message
_HEARTBEAT = 20.0
_SECURITY_HEADERS = {
    "Cache-Control": "no-store",
    "Referrer-Policy": "no-referrer",
    "X-Content-Type-Options": "nosniff",
    "X-Frame-Options": "DENY",
}


class LiveServerError(RuntimeError):
    """The server cannot start as asked (address refused or in use, another server running)."""


def _refuse(status: type[web.HTTPException], text: str) -> web.HTTPException:
    return status(text=text + "\n", content_type="text/plain")


@dataclass
class LiveServer:
    """The application state: the open pages, the message count and the latest scene."""

    token: str
    page_html: str
    bound_host: str = DEFAULT_HOST
    max_message_bytes: int = DEFAULT_MAX_MESSAGE_BYTES
    log: Callable[[str], None] = lambda text: print(text, flush=True)
    pages: set[web.WebSocketResponse] = field(default_factory=set)
    seq: int = 0
    latest_scene: str | None = None
    instance: str = field(default_factory=lambda: secrets.token_hex(8))
    _order: asyncio.Lock = field(default_factory=asyncio.Lock)

    def application(self) -> web.Application:
        # The body cap is checked in receive() with a clearer message than aiohttp's own; this
        # limit only stops aiohttp from reading far past it.
        app = web.Application(middlewares=[self._guard], client_max_size=self.max_message_bytes + 1)
        app.router.add_get("/", self._page)
        app.router.add_get("/ws", self._socket)
        app.router.add_post("/api/messages", self._receive)
        app.router.add_get("/api/status", self._status)
        app.on_response_prepare.append(self._headers)
        app.on_shutdown.append(self._close_pages)
        return app

    @web.middleware
    async def _guard(self, request: web.Request, handler):
        host = request.headers.get("Host")
        if not security.host_allowed(host, self.bound_host):
            raise _refuse(web.HTTPForbidden, f"forbidden: host {host!r} is not this server")
        if not security.origin_allowed(request.headers.get("Origin"), host):
            raise _refuse(web.HTTPForbidden, "forbidden: cross-origin request")
        given = request.query.get("token") or request.headers.get(security.TOKEN_HEADER)
        if not security.token_matches(given, self.token):
            raise _refuse(web.HTTPForbidden, "forbidden: missing or wrong token")
        return await handler(request)

    async def _headers(self, request: web.Request, response: web.StreamResponse) -> None:
        for name, value in _SECURITY_HEADERS.items():
            response.headers.setdefault(name, value)

    async def _page(self, request: web.Request) -> web.Response:
        return web.Response(text=self.page_html, content_type="text/html", charset="utf-8")

    async def _status(self, request: web.Request) -> web.Response:
        return web.json_response({"pages": len(self.pages), "messages": self.seq})

    async def _socket(self, request: web.Request) -> web.WebSocketResponse:
        socket = web.WebSocketResponse(heartbeat=_HEARTBEAT, max_msg_size=_PAGE_FRAME_LIMIT)
        await socket.prepare(request)
        async with self._order:  # no message slips in between the greeting and the replay
            hello = {"type": "hello", "server": self.instance, "seq": self.seq}
            try:
                await socket.send_str(orjson.dumps(hello).decode())
                if self.latest_scene is not None:
                    await socket.send_str(self.latest_scene)
            except ConnectionError:  # gone at once
                return socket
            self.pages.add(socket)
        self.log(f"page connected ({len(self.pages)} open)")
        try:
            async for frame in socket:
                if frame.type == WSMsgType.ERROR:
                    break
        finally:
            self.pages.discard(socket)
            self.log(f"page left ({len(self.pages)} open)")
        return socket

    async def _read_body(self, request: web.Request) -> bytes:
        cap = self.max_message_bytes
        too_large = web.HTTPRequestEntityTooLarge(
            max_size=cap,
            text=f"message too large: more than {cap:,} bytes, the server's cap of {format_size(cap)} "
            "(start it with a larger --max-message-mb)\n",
        )
        if request.content_length is not None and request.content_length > cap:
            raise too_large
        try:
            body = await request.read()
        except web.HTTPRequestEntityTooLarge:
            raise too_large from None
        if len(body) > cap:
            raise too_large
        return body

    async def _receive(self, request: web.Request) -> web.Response:
        body = await self._read_body(request)
        try:
            envelope = orjson.loads(body)
            kind, fields = envelope["type"], envelope["message"]
        except (orjson.JSONDecodeError, KeyError, TypeError):
            raise _refuse(
                web.HTTPBadRequest, 'bad message: expected {"type": ..., "message": {...}}'
            ) from None
        model = MESSAGE_TYPES.get(kind) if isinstance(kind, str) else None
        if model is None:
            known = ", ".join(MESSAGE_TYPES)
            raise _refuse(web.HTTPBadRequest, f"unknown message type {kind!r} (known: {known})")
        try:
            message = model.model_validate(fields)
        except ValidationError as error:
            raise _refuse(web.HTTPBadRequest, f"bad {kind}: {error}") from None
        if isinstance(message, DepthviewMessage):
            try:
                scene = orjson.loads(message.content)
            except orjson.JSONDecodeError as error:
                raise _refuse(web.HTTPBadRequest, f"bad DepthviewMessage: {error}") from None
            if not isinstance(scene, dict):
                raise _refuse(web.HTTPBadRequest, "bad DepthviewMessage: content is not an object")
            del scene
        pages = await self._publish(kind, message, len(body))
        return web.json_response({"pages": pages, "seq": self.seq})

    async def _publish(self, kind: str, message: BaseModel, size: int) -> int:
        async with self._order:
            self.seq += 1
            frame = {"type": kind, "seq": self.seq, "message": message.model_dump()}
            text = orjson.dumps(frame).decode()
            if kind == DepthviewMessage.__name__:
                self.latest_scene = text
            targets = list(self.pages)
            sent = await asyncio.gather(*(self._send(page, text) for page in targets))
        reached = sum(sent)
        self.log(f"#{self.seq} {kind} ({format_size(size)}) to {reached} of {len(targets)} page(s)")
        return reached

    async def _send(self, page: web.WebSocketResponse, text: str) -> bool:
        try:
            await asyncio.wait_for(page.send_str(text), _SEND_TIMEOUT)
            return True
        except (TimeoutError, ConnectionError, RuntimeError) as error:
            self.log(f"a page did not take the message ({error or type(error).__name__})")
            self.pages.discard(page)
            await page.close(code=WSCloseCode.GOING_AWAY)
            return False

    async def _close_pages(self, app: web.Application) -> None:
        for page in list(self.pages):
            await page.close(code=WSCloseCode.GOING_AWAY, message=b"server stopping")
        self.pages.clear()


def _connect_host(bound_host: str) -> str:
    """The address a sender on this machine uses to reach a server bound to `bound_host`."""
    if bound_host in ("0.0.0.0", ""):
        return "127.0.0.1"
    if bound_host == "::":
        return "[::1]"
    return f"[{bound_host}]" if ":" in bound_host else bound_host


def _answers(info: ServerInfo) -> bool:
    """Whether a server answers at `info` with its token (a killed one leaves its file)."""
    import http.client
    from urllib.parse import urlsplit

    address = urlsplit(info.url)
    connection = http.client.HTTPConnection(address.hostname, address.port, timeout=2)
    try:
        connection.request("GET", "/api/status", headers={security.TOKEN_HEADER: info.token})
        return connection.getresponse().status == 200
    except OSError:
        return False
    finally:
        connection.close()


def _refuse_if_running(path) -> None:
    """LiveServerError when the server file names a server that answers."""
    try:
        other = read_server_file(path)
    except ServerFileError:
        return  # replaced when claimed
    if other is not None and _answers(other):
        raise LiveServerError(
            f"a live server is already running for this build directory at {other.url} "
            f"(pid {other.pid}); stop it first"
        )


def _claim_server_file(info: ServerInfo, log: Callable[[str], None]) -> None:
    """Write the server file, replacing one left behind by a server that is gone."""
    path = server_file_path()
    for _ in range(2):
        try:
            write_server_file(info, path)
            return
        except FileExistsError:
            pass
        except OSError as error:
            raise LiveServerError(f"cannot write {path}: {error.strerror or error}") from None
        _refuse_if_running(path)
        try:
            other = read_server_file(path)
        except ServerFileError as error:
            log(f"replacing an untrusted server file: {error}")
            other = None
        if other is not None:
            log(f"replacing the server file of a server that is gone (pid {other.pid})")
        try:
            path.unlink(missing_ok=True)
        except OSError as error:
            raise LiveServerError(f"cannot replace {path}: {error.strerror}") from None
    raise LiveServerError(f"cannot claim {path}: another server keeps writing it")


@contextlib.contextmanager
def _stop_on_signals(stop: asyncio.Event):
    """SIGINT and SIGTERM set `stop` while the block runs."""
    loop = asyncio.get_running_loop()
    for number in (signal.SIGINT, signal.SIGTERM):
        loop.add_signal_handler(number, stop.set)
    try:
        yield
    finally:
        for number in (signal.SIGINT, signal.SIGTERM):
            loop.remove_signal_handler(number)


async def _run(
    host: str,
    port: int,
    *,
    page_html: str,
    max_message_bytes: int,
    on_ready: Callable[[ServerInfo], None] | None,
    log: Callable[[str], None],
) -> None:
    stop = asyncio.Event()
    with _stop_on_signals(stop):  # from the start, so a signal always ends in cleanup
        path = server_file_path()
        _refuse_if_running(path)  # before taking the port, which may be that server's
        token = secrets.token_urlsafe(32)  # new for every start; gone with the server file
        state = LiveServer(
            token=token,
            page_html=page_html,
            bound_host=host,
            max_message_bytes=max_message_bytes,
            log=log,
        )
        runner = web.AppRunner(state.application(), handle_signals=False, access_log=None)
        await runner.setup()
        info = None
        try:
            site = web.TCPSite(runner, host, port)
            try:
                await site.start()
            except OSError as error:
                raise LiveServerError(
                    f"cannot listen on {host}:{port}: {error.strerror or error} "
                    "(choose another port with --port)"
                ) from None
            bound_port = runner.addresses[0][1]
            info = ServerInfo(
                url=f"http://{_connect_host(host)}:{bound_port}",
                token=token,
                pid=os.getpid(),
                max_message_bytes=max_message_bytes,
            )
            _claim_server_file(info, log)
            if on_ready is not None:
                on_ready(info)
            await stop.wait()
            log("stopping")
        finally:
            if info is not None:
                remove_server_file(info, path)
            await runner.cleanup()


def serve(
    host: str = DEFAULT_HOST,
    port: int = DEFAULT_PORT,
    *,
    page_html: str,
    allow_remote: bool = False,
    max_message_bytes: int = DEFAULT_MAX_MESSAGE_BYTES,
    on_ready: Callable[[ServerInfo], None] | None = None,
    log: Callable[[str], None] | None = None,
) -> None:
    """Run the server until SIGINT or SIGTERM; the server file exists exactly while it runs.

    Raises :class:`LiveServerError` for a non-loopback `host` without `allow_remote`, a port in
    use or another server running for the same build directory.
    """
    if not security.is_loopback(host) and not allow_remote:
        raise LiveServerError(
            f"refusing to listen on {host}: not a loopback address (pass --allow-remote to "
            "force it; every request still needs the token)"
        )
    if max_message_bytes <= 0:
        raise LiveServerError("the message size cap must be positive")
    asyncio.run(
        _run(
            host,
            port,
            page_html=page_html,
            max_message_bytes=max_message_bytes,
            on_ready=on_ready,
            log=log or (lambda text: print(text, file=sys.stderr, flush=True)),
        )
    )
