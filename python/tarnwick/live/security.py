"""Who may talk to the live server: the checks every request passes before it is handled.

- The server listens on a loopback address unless the caller forces another one.
- The ``Host`` header must name a loopback host, so that a web page whose domain was re-pointed
  at 127.0.0.1 (DNS rebinding) cannot reach the server under its own origin. A server forced onto
  another address also accepts that address and any literal IP address, which no rebinding can
  produce.
- A request that carries an ``Origin`` (browsers send one with every WebSocket and cross-site
  request) must come from the server's own origin.
- The token must be given, as the ``token`` query parameter or the ``X-Tarnwick-Token`` header.
"""

from __future__ import annotations

import hmac
import ipaddress

__all__ = [
    "TOKEN_HEADER",
    "host_allowed",
    "host_name",
    "is_loopback",
    "origin_allowed",
    "token_matches",
]

TOKEN_HEADER = "X-Tarnwick-Token"
_LOOPBACK_NAMES = ("localhost",)


def _ip(text: str) -> ipaddress.IPv4Address | ipaddress.IPv6Address | None:
    try:
        return ipaddress.ip_address(text.strip("[]"))
    except ValueError:
        return None


def is_loopback(host: str) -> bool:
    """Whether `host` (a name or address, IPv6 possibly in brackets) is a loopback host."""
    name = host.strip().lower().rstrip(".")
    if name in _LOOPBACK_NAMES:
        return True
    address = _ip(name)
    return address is not None and address.is_loopback


def host_name(header: str) -> str:
    """The host part of a ``Host`` header value (without port; IPv6 without brackets)."""
    header = header.strip()
    if header.startswith("["):
        return header[1:].partition("]")[0]
    name, colon, port = header.rpartition(":")
    if colon and port.isdigit() and ":" not in name:
        return name
    return header


def host_allowed(header: str | None, bound_host: str) -> bool:
    """Whether a request whose ``Host`` header is `header` may reach a server bound to
    `bound_host`."""
    if not header:
        return False
    name = host_name(header)
    if is_loopback(name):
        return True
    if is_loopback(bound_host):
        return False
    # Forced onto another address: that address itself and literal addresses cannot be the
    # product of a re-pointed domain name.
    return name.lower() == bound_host.lower() or _ip(name) is not None


def origin_allowed(origin: str | None, host_header: str | None, scheme: str = "http") -> bool:
    """Whether a request with this ``Origin`` comes from the server's own pages (no origin: not
    from a browser page, allowed here and left to the token)."""
    if origin is None:
        return True
    return bool(host_header) and origin.rstrip("/").lower() == f"{scheme}://{host_header}".lower()


def token_matches(given: str | None, token: str) -> bool:
    """Whether `given` is the token, compared in constant time."""
    if not given:
        return False
    return hmac.compare_digest(given.encode("utf-8"), token.encode("utf-8"))
