"""The live server answers only its own pages and senders: loopback only, the token on every
request, loopback Host headers, same-origin WebSockets, a cap on one message, no files but the
page; a refused request changes nothing."""

from __future__ import annotations

import http.client
from urllib.parse import urlsplit

import orjson
import pytest
from tarnwick.live import security
from tarnwick.live.server import LiveServerError, serve

from .conftest import page_frames, server_status

TOKEN = "<token>"
SCENE = orjson.dumps({"type": "DepthviewMessage", "message": {"content": '{"type": "data"}'}})
UPGRADE = {
    "Connection": "Upgrade",
    "Upgrade": "websocket",
    "Sec-WebSocket-Version": "13",
    "Sec-WebSocket-Key": "dGhlIHNhbXBsZSBub25jZQ==",
}


def request(info, method, path, headers=(), body=None):
    """Status and text of one request; TOKEN in the path or headers stands for the token."""
    address = urlsplit(info.url)
    connection = http.client.HTTPConnection(address.hostname, address.port, timeout=30)
    headers = {key: value.replace(TOKEN, info.token) for key, value in dict(headers).items()}
    try:
        connection.request(method, path.replace(TOKEN, info.token), body=body, headers=headers)
        response = connection.getresponse()
        return response.status, response.read().decode("utf-8", "replace")
    finally:
        connection.close()


REFUSED = [
    # (what, method, path, headers, body, status)
    ("page without token", "GET", "/", {}, None, 403),
    ("page with a wrong token", "GET", "/?token=x" + "0" * 40, {}, None, 403),
    ("status without token", "GET", "/api/status", {}, None, 403),
    ("socket without token", "GET", "/ws", UPGRADE, None, 403),
    ("message without token", "POST", "/api/messages", {}, SCENE, 403),
    ("message, wrong token", "POST", "/api/messages", {security.TOKEN_HEADER: "wrong"}, SCENE, 403),
    ("re-pointed domain", "GET", f"/?token={TOKEN}", {"Host": "evil.example:8731"}, None, 403),
    (
        "message through a re-pointed domain",
        "POST",
        "/api/messages",
        {"Host": "evil.example", security.TOKEN_HEADER: TOKEN},
        SCENE,
        403,
    ),
    (
        "cross-origin socket",
        "GET",
        f"/ws?token={TOKEN}",
        {**UPGRADE, "Origin": "http://evil.example"},
        None,
        403,
    ),
    (
        "socket from another local origin",
        "GET",
        f"/ws?token={TOKEN}",
        {**UPGRADE, "Origin": "http://127.0.0.1:1"},
        None,
        403,
    ),
    ("the bundle on its own", "GET", f"/viewer.js?token={TOKEN}", {}, None, 404),
    ("the page template", "GET", f"/page.html?token={TOKEN}", {}, None, 404),
    ("a path out of the page", "GET", f"/../../etc/passwd?token={TOKEN}", {}, None, 404),
    ("an encoded path out", "GET", f"/%2e%2e/%2e%2e/etc/passwd?token={TOKEN}", {}, None, 404),
    ("unknown message type", "POST", f"/api/messages?token={TOKEN}", {}, b'{"type": "X"}', 400),
    (
        "scene that is not JSON",
        "POST",
        f"/api/messages?token={TOKEN}",
        {},
        orjson.dumps({"type": "DepthviewMessage", "message": {"content": "{oops"}}),
        400,
    ),
]


def test_refused_requests_change_nothing(live_server):
    info = live_server.info
    port = urlsplit(info.url).port

    def attack():
        for what, method, path, headers, body, expected in REFUSED:
            code, text = request(info, method, path, headers, body)
            assert code == expected, (what, code, text)
        # Loopback names and addresses are the server's own.
        for host in (f"localhost:{port}", f"127.0.0.1:{port}", "[::1]"):
            assert request(info, "GET", f"/?token={TOKEN}", {"Host": host})[0] == 200, host
        same_origin = {**UPGRADE, "Origin": f"http://127.0.0.1:{port}"}
        assert request(info, "GET", f"/ws?token={TOKEN}", same_origin)[0] == 101
        request(info, "POST", f"/api/messages?token={TOKEN}", {}, SCENE)  # the one allowed

    # A page sees only the message that was allowed.
    (frame,) = page_frames(info, attack, 1)
    assert frame["type"] == "DepthviewMessage" and frame["seq"] == 1
    assert server_status(info)["messages"] == 1


def test_one_message_past_the_cap_is_refused_with_a_clear_error(servers, tmp_path, caplog):
    server = servers(tmp_path / "capped", "--max-message-mb", "0.001")  # 1,048 bytes
    info = server.info
    small = orjson.dumps({"type": "DepthviewMessage", "message": {"content": "{}"}})
    large = orjson.dumps({"type": "DepthviewMessage", "message": {"content": " " * 2000 + "{}"}})
    assert request(info, "POST", f"/api/messages?token={TOKEN}", {}, small)[0] == 200
    code, text = request(info, "POST", f"/api/messages?token={TOKEN}", {}, large)
    assert code == 413
    assert "message too large" in text and "1,048 bytes" in text and "--max-message-mb" in text
    assert server_status(info)["messages"] == 1


def test_only_loopback_addresses_unless_forced():
    for host in ("0.0.0.0", "192.0.2.7", "::", "example.com"):
        with pytest.raises(LiveServerError, match="not a loopback address.*--allow-remote"):
            serve(host, 0, page_html="")
    # A server forced onto another address still refuses re-pointed domain names.
    assert security.host_allowed("192.0.2.7:8731", "0.0.0.0")
    assert security.host_allowed("[::1]:8731", "0.0.0.0")
    assert not security.host_allowed("evil.example:8731", "0.0.0.0")
    assert not security.host_allowed("192.0.2.7:8731", "127.0.0.1")
    assert not security.host_allowed(None, "127.0.0.1")
