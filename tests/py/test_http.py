"""The one-shot HTTP responder, served by example_http_once and fetched by
real clients: Python's http.client, curl and raw sockets, on loopback only."""
import http.client
import os
import re
import selectors
import shutil
import socket
import subprocess
import time

import pytest

LIVE = re.compile(rb"^\[VLWeb\] HTTP Server live at http://localhost:(\d+)\r?\n$")


def expected_response(body: bytes) -> bytes:
    return (b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: %d\r\n"
            b"Connection: close\r\n\r\n" % len(body)) + body


DEFAULT_BODY = b"<h1>VELMORINE Native HTTP Server Live!</h1>"


def html_body(size: int) -> bytes:
    """`size` bytes of HTML-like text, varied so that a shifted or repeated chunk shows."""
    text = b"".join(b"<p>%06d</p>\n" % i for i in range(size // 14 + 1))
    return text[:size]


class Responder:
    """One example_http_once process; its start-up line has been read."""

    def __init__(self, velm, tmp_path, port=0, body=None):
        exe = os.path.join(velm.build_dir, "example_http_once" + (".exe" if velm.windows else ""))
        args = [exe, str(port)]
        if body is not None:
            path = tmp_path / "body.html"
            path.write_bytes(body)
            args.append(str(path))
        prefix = [velm.emulator] if velm.emulator else []
        self.velm = velm
        self.proc = subprocess.Popen(prefix + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.line = self._read_line(timeout=60)
        match = LIVE.match(self.line)
        self.port = int(match.group(1)) if match else None

    def _read_line(self, timeout):
        data = b""
        with selectors.DefaultSelector() as selector:
            selector.register(self.proc.stdout, selectors.EVENT_READ)
            deadline = time.monotonic() + timeout
            while not data.endswith(b"\n") and selector.select(max(0, deadline - time.monotonic())):
                chunk = os.read(self.proc.stdout.fileno(), 1)
                if not chunk:
                    break
                data += chunk
        return data

    def finish(self, timeout=30):
        """(exit code, remaining stdout, stderr) once the process has ended."""
        try:
            out, err = self.proc.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.communicate()
            pytest.fail("the responder did not end within %d s" % timeout)
        return self.proc.returncode, out, err


@pytest.fixture
def serve(velm, tmp_path):
    started = []

    def start(**kwargs):
        responder = Responder(velm, tmp_path, **kwargs)
        started.append(responder)
        assert responder.port, "no start-up line: %r" % responder.line
        assert responder.line == velm.text(b"[VLWeb] HTTP Server live at http://localhost:%d\n" % responder.port)
        return responder

    yield start
    for responder in started:
        if responder.proc.poll() is None:
            responder.proc.kill()
            responder.proc.communicate()


def assert_served(responder):
    code, out, err = responder.finish()
    assert (code, out, err) == (0, b"", b"")


BODIES = {"null": None, "empty": b"", "939": html_body(939), "940": html_body(940), "100k": html_body(100 * 1024)}


@pytest.mark.parametrize("name", BODIES)
def test_http_client_gets_status_headers_and_whole_body(serve, name):
    body = BODIES[name]
    sent = DEFAULT_BODY if body is None else body
    responder = serve(body=body)
    connection = http.client.HTTPConnection("127.0.0.1", responder.port, timeout=30)
    connection.request("GET", "/")
    response = connection.getresponse()
    assert (response.version, response.status, response.reason) == (11, 200, "OK")
    assert response.getheaders() == [("Content-Type", "text/html"), ("Content-Length", str(len(sent))),
                                     ("Connection", "close")]
    assert response.read() == sent
    connection.close()
    assert_served(responder)


@pytest.mark.skipif(not shutil.which("curl"), reason="curl is not installed")
@pytest.mark.parametrize("name", BODIES)
def test_curl_receives_the_exact_bytes(serve, name):
    body = BODIES[name]
    responder = serve(body=body)
    fetched = subprocess.run(["curl", "--silent", "--show-error", "--include", "--max-time", "30",
                              "http://127.0.0.1:%d/" % responder.port], capture_output=True, timeout=60)
    assert fetched.returncode == 0, fetched.stderr
    whole = expected_response(DEFAULT_BODY if body is None else body)
    assert fetched.stdout == whole
    if body is None:
        assert len(whole) == 126
    assert_served(responder)


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def test_a_given_port_is_named_and_served(serve):
    port = free_port()
    responder = serve(port=port)
    assert responder.port == port
    with socket.create_connection(("127.0.0.1", port), timeout=30) as client:
        client.sendall(b"GET / HTTP/1.0\r\n\r\n")
        assert read_all(client) == expected_response(DEFAULT_BODY)
    assert_served(responder)


@pytest.mark.parametrize("port", ["65536", "-1", "2147483647", "-2147483648"])
def test_a_port_out_of_range_fails_silently(velm, tmp_path, port):
    responder = Responder(velm, tmp_path, port=port)
    assert responder.line == b""
    assert responder.finish() == (1, b"", b"")


def test_a_port_in_use_fails_silently(velm, tmp_path):
    with socket.socket() as holder:
        holder.bind(("0.0.0.0", 0))
        holder.listen(1)
        responder = Responder(velm, tmp_path, port=holder.getsockname()[1])
        assert responder.line == b""
        assert responder.finish() == (1, b"", b"")


def read_all(client):
    data = b""
    while chunk := client.recv(65536):
        data += chunk
    return data


def test_a_large_request_still_gets_the_response(serve):
    responder = serve(body=b"<p>big request</p>")
    connection = http.client.HTTPConnection("127.0.0.1", responder.port, timeout=30)
    upload = os.urandom(4 * 1024 * 1024)
    connection.request("POST", "/upload", body=upload, headers={"X-Filler": "f" * 100000})
    response = connection.getresponse()
    assert response.status == 200
    assert response.read() == b"<p>big request</p>"
    connection.close()
    assert_served(responder)


def test_a_silent_client_is_answered_and_cannot_hold_the_server(serve):
    responder = serve(body=b"<p>quiet</p>")
    with socket.create_connection(("127.0.0.1", responder.port), timeout=30) as client:
        start = time.monotonic()
        # The client neither sends, reads nor closes: the server still ends.
        assert_served(responder)
        assert time.monotonic() - start < 25
        assert read_all(client) == expected_response(b"<p>quiet</p>")
