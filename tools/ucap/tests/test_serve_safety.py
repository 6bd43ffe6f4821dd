"""The door of `ucap serve`: every rule with its request (http.client), and clients that misbehave."""

import http.client
import json
import socket
import time

import pytest

SMALL = "sensor=256x192 timescale=20"


def ask(server, method, path, body=None, host=None, origin="page", token=None, cookie=None):
    """One request with exactly these headers; (status, Set-Cookie, body)."""
    c = http.client.HTTPConnection(server.host.rsplit(":", 1)[0], server.port, timeout=15)
    host = server.host if host is None else host
    headers = {"Host": host, "Authorization": token and "Bearer " + token, "Cookie": cookie,
               "Origin": "http://" + host if origin == "page" else origin}
    data = (json.dumps(body) if isinstance(body, dict) else body or "").encode()
    c.putrequest(method, path, skip_host=True, skip_accept_encoding=True)
    for k, v in headers.items():
        if v is not None and (k != "Origin" or method == "POST"):
            c.putheader(k, v)
    c.putheader("Content-Length", str(len(data)))
    c.endheaders(data)
    r = c.getresponse()
    payload = r.read()
    c.close()
    return r.status, r.getheader("Set-Cookie"), payload


def test_loopback_server_rules(serve):
    s = serve([SMALL])
    outside = s.dir.parent / "outside.tif"
    (s.dir / "link.ome.tif").symlink_to(outside)
    cases = [  # method, path, body, extra, expected status
        ("GET", "/", None, {}, 200),
        ("GET", "/api/status", None, {"host": "localhost:%d" % s.port}, 200),
        ("GET", "/api/status", None, {"host": "evil.example:%d" % s.port}, 403),   # DNS rebinding
        ("GET", "/api/status", None, {"host": "127.0.0.1:1"}, 403),
        ("GET", "/api/status", None, {"host": ""}, 403),
        ("POST", "/api/snap", {}, {"origin": None}, 403),                           # no Origin
        ("POST", "/api/snap", {}, {"origin": "http://evil.example"}, 403),          # another site
        ("POST", "/api/snap", {"name": "../x.tif"}, {}, 400),
        ("POST", "/api/snap", {"name": "/tmp/x.tif"}, {}, 400),
        ("POST", "/api/snap", {"name": "link.ome.tif"}, {}, 400),                   # a link out
        ("POST", "/api/snap", {"name": 5}, {}, 400),
        ("POST", "/api/settings", "not json", {}, 400),
        ("POST", "/api/settings", {"exposure": "fast"}, {}, 400),
        ("POST", "/api/settings", {"binning": "2"}, {}, 400),
        ("POST", "/api/settings", {"roi": [0, 0, 100000, 5]}, {}, 400),
        ("POST", "/api/settings", {"bogus": 1}, {}, 400),
        ("POST", "/api/settings", {"white_balance": [1, 2]}, {}, 400),
        ("POST", "/api/settings", {"exposure": "1" * 20000}, {}, 413),               # body too large
        ("POST", "/api/record", {"frames": 3, "seconds": 2}, {}, 400),
        ("POST", "/api/calibrate", {"kind": "grey"}, {}, 400),
        ("POST", "/api/references", {"kind": "black", "action": "load", "name": "none.ucapref"}, {}, 422),
        ("GET", "/api/live?w=abc", None, {}, 400),
        ("GET", "/api/status?cam=9", None, {}, 400),
        ("GET", "/files/.hidden", None, {}, 400),
        ("GET", "/files/missing.tif", None, {}, 404),
        # The library refuses binning 7 after taking resolution 1: nothing stays half applied.
        ("POST", "/api/settings", {"resolution": 1, "binning": 7}, {}, 422),
    ]
    for method, path, body, extra, expected in cases:
        status, _, payload = ask(s, method, path, body, **extra)
        assert status == expected, (method, path, body, extra, payload[:200])
        if status >= 400:
            assert json.loads(payload)["error"], payload
    assert not outside.exists()
    settings = json.loads(ask(s, "GET", "/api/status")[2])["settings"]
    assert (settings["resolution"], settings["binning"]) == (0, 1)
    assert b"error 8" in ask(s, "POST", "/api/settings", {"binning": 7})[2]


def test_token_beyond_loopback(serve):
    # 127.0.0.2 is no loopback name the server trusts: a token is made up and needed.
    s = serve([SMALL], "--listen", "127.0.0.2")
    assert s.token and s.host.startswith("127.0.0.2:")
    for path, extra, expected in [("/api/status", {}, 401), ("/api/status", {"token": "wrong"}, 401),
                                  ("/api/status", {"token": s.token}, 200),
                                  ("/api/status", {"cookie": "ucap_token=" + s.token}, 200),
                                  ("/?token=" + s.token, {}, 200)]:
        status, cookie, _ = ask(s, "GET", path, **extra)
        assert status == expected, (path, extra)
    assert cookie.startswith("ucap_token=" + s.token) and "HttpOnly" in cookie


def test_many_and_misbehaving_clients(serve):
    s = serve([SMALL])
    request = ("GET /api/live?w=256&h=192 HTTP/1.1\r\nHost: %s\r\n\r\n" % s.host).encode()
    # Clients that never read, clients that leave mid-frame, and more streams than allowed.
    idle = []
    for _ in range(40):
        k = socket.create_connection(("127.0.0.1", s.port))
        k.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        k.sendall(request)
        idle.append(k)
    for _ in range(5):
        k = socket.create_connection(("127.0.0.1", s.port))
        k.sendall(request)
        k.recv(1000)
        k.close()
    before = json.loads(ask(s, "GET", "/api/status")[2])["frames"]
    time.sleep(7)  # past the write time-out that drops clients that do not read
    for k in idle:
        k.close()
    status, _, body = ask(s, "GET", "/api/status")
    assert status == 200 and json.loads(body)["frames"] > before
    c = http.client.HTTPConnection("127.0.0.1", s.port, timeout=10)
    c.request("GET", "/api/live?w=64&h=48", headers={"Host": s.host})
    r = c.getresponse()
    assert r.status == 200 and r.readline().startswith(b"data: {")
    c.close()
    # A crop one column wide at the right edge: its blocks stay inside the image.
    c = http.client.HTTPConnection("127.0.0.1", s.port, timeout=10)
    c.request("GET", "/api/live?w=16&h=16&x0=255&x1=256", headers={"Host": s.host})
    events = c.getresponse()
    frame = next(e for e in (json.loads(line[6:]) for line in iter(events.readline, b"")
                             if line.startswith(b"data: ")) if "crop" in e)
    left, top, right, bottom = frame["crop"]
    assert (left, right) == (255, 256) and bottom <= 192
    c.close()

