"""The language server at the byte level: framing, ids, bad input, end of input.

Standard output carries frames only and is binary in every lane, so header
lines end in exactly CR LF under Windows too.  Standard error keeps the text
mode of the lane: there the start-up line's line feed arrives as CR LF.
"""
import json
import os
import select
import subprocess
import time

import pytest

STARTUP = b"[VLLSP] Pure C Language Server v3.0 Started over stdio.\n"
TYPE = b"Content-Type: application/vscode-jsonrpc; charset=utf-8\r\n"
INITIALIZE = (b'{"jsonrpc":"2.0","id":%s,"result":{"capabilities":{"textDocumentSync":1,'
              b'"completionProvider":{"resolveProvider":true},"hoverProvider":true,'
              b'"definitionProvider":true}}}')
COMPLETION = (b'{"jsonrpc":"2.0","id":%s,"result":['
              b'{"label":"display","kind":14,"detail":"Print to console"},'
              b'{"label":"store","kind":14,"detail":"Declare variable"},'
              b'{"label":"check","kind":14,"detail":"If condition"},'
              b'{"label":"count","kind":14,"detail":"Count loop"},'
              b'{"label":"start","kind":14,"detail":"Program entry"},'
              b'{"label":"stop","kind":14,"detail":"Program exit"}]}')
NULL_RESULT = b'{"jsonrpc":"2.0","id":%s,"result":null}'


def error(ident, code, message):
    return b'{"jsonrpc":"2.0","id":%s,"error":{"code":%d,"message":"%s"}}' % (ident, code, message)


def frame(body):
    if isinstance(body, dict):
        body = json.dumps(body).encode()
    return b"Content-Length: %d\r\n\r\n" % len(body) + body


def request(ident, method, params=None):
    msg = {"jsonrpc": "2.0", "id": ident, "method": method}
    if params is not None:
        msg["params"] = params
    return frame(msg)


def notification(method, params=None):
    return frame({"jsonrpc": "2.0", "method": method, "params": params or {}})


def split_frames(data):
    """Bodies of the complete frames at the start of `data`, and what is left.
    Every header block must be exactly the two lines the server writes."""
    bodies = []
    while True:
        end = data.find(b"\r\n\r\n")
        if end < 0:
            return bodies, data
        lines = data[:end + 4]
        assert lines.startswith(b"Content-Length: "), data[:80]
        first, rest = lines.split(b"\r\n", 1)
        assert rest == TYPE + b"\r\n", lines
        length = int(first[len(b"Content-Length: "):])
        assert first == b"Content-Length: %d" % length  # plain digits, no padding
        if len(data) < end + 4 + length:
            return bodies, data
        bodies.append(data[end + 4:end + 4 + length])
        data = data[end + 4 + length:]


def frames_of(stdout):
    bodies, rest = split_frames(stdout)
    assert rest == b"", rest
    return bodies


def run(velm, data):
    """Runs a whole session; returns the answered bodies."""
    result = velm.run("lsp", input=data, timeout=120)
    assert result.returncode == 0
    assert result.stderr == velm.text(STARTUP)
    return frames_of(result.stdout)


class Session:
    """A server that is fed and read while it runs, as an editor does."""

    def __init__(self, velm):
        self.proc = subprocess.Popen(velm.command("lsp"), stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.pending = b""

    def send(self, data):
        self.proc.stdin.write(data)
        self.proc.stdin.flush()

    def _read(self, timeout):
        fd = self.proc.stdout.fileno()
        ready, _, _ = select.select([fd], [], [], timeout)
        if not ready:
            return False
        chunk = os.read(fd, 65536)
        assert chunk, "the server closed its output"
        self.pending += chunk
        return True

    def receive(self, count, timeout=60):
        deadline = time.monotonic() + timeout
        while True:
            bodies, _ = split_frames(self.pending)
            if len(bodies) >= count:
                break
            left = deadline - time.monotonic()
            assert left > 0 and self._read(left), f"waited in vain for {count} frame(s)"
        assert len(bodies) == count, bodies
        self.pending = split_frames(self.pending)[1]
        return bodies

    def silent_for(self, seconds):
        return not self._read(seconds) and self.pending == b""

    def finish(self):
        self.proc.stdin.close()
        code = self.proc.wait(timeout=60)
        self.pending += self.proc.stdout.read()
        self.proc.stdout.close()
        stderr = self.proc.stderr.read()
        self.proc.stderr.close()
        return code, stderr


@pytest.fixture
def session(velm):
    s = Session(velm)
    yield s
    if s.proc.poll() is None:
        s.proc.kill()
        s.proc.wait()


def test_two_requests_in_one_write_are_both_answered_at_once(session, velm):
    session.send(request(0, "initialize", {"capabilities": {}}) + request(1, "textDocument/completion"))
    assert session.receive(2) == [INITIALIZE % b"0", COMPLETION % b"1"]
    session.send(request(2, "shutdown"))
    assert session.receive(1) == [NULL_RESULT % b"2"]
    assert session.finish() == (0, velm.text(STARTUP))


def test_request_split_across_writes_waits_for_its_last_byte(session, velm):
    data = request(5, "textDocument/completion", {"textDocument": {"uri": "file:///a.velm"}})
    for cut in (7, len(data) - 1):  # inside the header, then one byte short of the end
        session.send(data[:cut])
        assert session.silent_for(0.5)
        session.send(data[cut:])
        assert session.receive(1) == [COMPLETION % b"5"]
    code, _ = session.finish()
    assert code == 0 and session.pending == b""


UNKNOWN_DOCUMENT = {"textDocument": {"uri": "file:///never-opened.velm"}, "position": {"line": 0, "character": 0}}
PARSE_ERROR = error(b"null", -32700, b"Parse error")


def test_ids_come_back_as_the_same_json_value(velm):
    ids = [b'0', b'-1', b'2.50', b'1E3', b'"abc"', b'""', b'"a\\"b\\u00e9"', '"\u00e9\u2603"'.encode()]
    params = json.dumps(UNKNOWN_DOCUMENT).encode()
    data = b"".join(frame(b'{"jsonrpc":"2.0","id":%s,"method":"textDocument/hover","params":%s}' % (i, params))
                    for i in ids)
    # The last duplicate wins, as it does for the JSON reader.
    data += frame(b'{"id":1,"jsonrpc":"2.0","method":"textDocument/definition","params":%s,"id" : "x" }' % params)
    data += frame(b'{"jsonrpc":"2.0","method":"shutdown","\\u0069d":44}')
    bodies = [json.loads(b) for b in run(velm, data)]
    assert [b["id"] for b in bodies] == [json.loads(i) for i in ids] + ["x", 44]
    assert all(b == {"jsonrpc": "2.0", "id": b["id"], "result": None} for b in bodies)


def test_method_member_decides_not_words_elsewhere(velm):
    data = (request(1, "textDocument/hover", dict(UNKNOWN_DOCUMENT, text="initialize completion shutdown"))
            + request(2, "initialized")
            + request(3, "completionItem/resolve", {"label": "store", "data": [1, {"k": "}"}]})
            + notification("initialize")        # no id: never answered
            + request(4, "textDocument/definition")
            + request(5, "workspace/symbol", {"query": "shutdown"}))
    assert run(velm, data) == [
        NULL_RESULT % b"1",
        error(b"2", -32601, b"Method not found"),
        b'{"jsonrpc":"2.0","id":3,"result":{"data":[1,{"k":"}"}],"label":"store"}}',
        error(b"4", -32602, b"Invalid params"),
        error(b"5", -32601, b"Method not found"),
    ]


def test_malformed_messages_are_skipped_or_refused(velm):
    data = (frame(b'{"jsonrpc":"2.0","id":7,"method":')             # cut short: no id to answer
            + frame(b"not json at all")
            + frame(b'[{"jsonrpc":"2.0","id":8,"method":"shutdown"}]')
            + frame(b'{"jsonrpc":"2.0","id":9}')                    # no method
            + frame(b'{"jsonrpc":"2.0","id":10,"result":null}')     # a response: ignored
            + frame(b'{"jsonrpc":"2.0","id":null,"method":"shutdown"}')
            + frame(b'{"jsonrpc":"2.0","id":true,"method":"shutdown"}')
            + frame(b'{"jsonrpc":"2.0","id":11,"method":"completionItem/resolve"}')
            + frame(b'{"jsonrpc":"2.0","id":12,"method":"initialize","params":{"x":"\xff"}}')  # not UTF-8
            + request(13, "shutdown"))
    assert run(velm, data) == [
        PARSE_ERROR,
        PARSE_ERROR,
        error(b"9", -32600, b"Invalid Request"),
        error(b"11", -32602, b"Invalid params"),
        PARSE_ERROR,
        NULL_RESULT % b"13",
    ]


GARBAGE = {
    "no-length": b"hello there\r\n\r\n",
    "word": b"Content-Length: twelve\r\n\r\n",
    "negative": b"Content-Length: -4\r\n\r\n",
    "overflow": b"Content-Length: 99999999999999999999999999\r\n\r\n",
    "conflict": b"Content-Length: 4\r\nContent-Length: 5\r\n\r\n",
    "blank-lines": b"\r\n\r\n\n",
    "long-line": b"x" * 100000 + b"\r\n\r\n",
    "short-length": b'Content-Length: 3\r\n\r\n{"jsonrpc":"2.0","id":1,"method":"shutdown"}',
    "headerless": b'{"jsonrpc":"2.0","id":1,"method":"shutdown"}',
}


def test_garbage_then_a_valid_request(velm):
    # One server for all cases (each start costs seconds under wine); every
    # case is followed by a request whose id names it, so a miss shows which.
    data = b"".join(g + request(name, "textDocument/completion") for name, g in GARBAGE.items())
    expected = [COMPLETION % json.dumps(name).encode() for name in GARBAGE]
    expected.insert(list(GARBAGE).index("short-length"), PARSE_ERROR)  # the three bytes it announces
    assert run(velm, data) == expected


def skipped_notice(length):
    return json.dumps({"jsonrpc": "2.0", "method": "window/showMessage", "params": {"type": 1, "message":
                       "velmorine: a message of %d bytes is larger than the server can hold (67108864 bytes at "
                       "most); it was skipped." % length}}, separators=(",", ":")).encode()


def test_oversized_length_is_skipped_without_reading_it_into_memory(velm):
    # 1 TiB announced: the server must neither allocate it nor crash, says so, and ends at end of input.
    assert run(velm, b"Content-Length: 1099511627776\r\n\r\n" + request(1, "shutdown")) \
        == [skipped_notice(1099511627776)]
    # Just over the bound: skipped by length with a notice, and the next message is served.
    big = 64 * 1024 * 1024 + 1
    assert run(velm, b"Content-Length: %d\r\n\r\n" % big + b" " * big + request(2, "shutdown")) \
        == [skipped_notice(big), NULL_RESULT % b"2"]


def test_deeply_nested_content_is_refused_without_a_crash(velm):
    depth = 200000
    nested = b"[" * depth + b"]" * depth
    data = (frame(b'{"jsonrpc":"2.0","id":1,"method":"textDocument/hover","params":' + nested + b"}")
            + frame(b'{"jsonrpc":"2.0","id":2,"method":"completionItem/resolve","params":{"data":' + nested + b"}}")
            + request(3, "shutdown"))
    assert run(velm, data) == [error(b"1", -32600, b"Invalid Request"), error(b"2", -32600, b"Invalid Request"),
                               NULL_RESULT % b"3"]


def test_end_of_input_without_shutdown(velm):
    assert run(velm, b"") == []
    assert run(velm, request(0, "initialize") + notification("initialized")) == [INITIALIZE % b"0"]
    # A message cut off by the end of input is dropped silently.
    assert run(velm, request(1, "textDocument/completion")[:-3]) == []


def test_frames_are_exact_and_the_server_waits_for_exit_after_shutdown(velm):
    # No publishDiagnostics capability: an opened document brings no notification.
    data = (request(0, "initialize", {"processId": None, "capabilities": {}})
            + notification("initialized")
            + notification("textDocument/didOpen", {"textDocument": {"uri": "file:///a.velm", "text": "display"}})
            + request(1, "textDocument/completion")
            + request(2, "shutdown")
            + request(3, "textDocument/completion")     # after shutdown: refused
            + notification("textDocument/didOpen", {"textDocument": {"uri": "file:///b.velm", "text": "x"}})
            + notification("exit")
            + request(4, "textDocument/completion"))    # after exit: never read
    result = velm.run("lsp", input=data, timeout=120)
    assert result.returncode == 0
    assert result.stderr == velm.text(STARTUP)
    expected = [(INITIALIZE % b"0", 166), (COMPLETION % b"1", 355), (NULL_RESULT % b"2", 38),
                (error(b"3", -32600, b"Invalid Request"), 76)]
    assert result.stdout == b"".join(b"Content-Length: %d\r\n" % n + TYPE + b"\r\n" + body
                                     for body, n in expected)
    assert [len(body) for body, _ in expected] == [166, 355, 38, 76]


def test_exit_without_shutdown_fails_and_end_of_input_after_shutdown_succeeds(velm):
    result = velm.run("lsp", input=request(0, "initialize") + notification("exit") + request(1, "shutdown"),
                      timeout=120)
    assert (result.returncode, frames_of(result.stdout)) == (1, [INITIALIZE % b"0"])
    assert run(velm, request(0, "shutdown")) == [NULL_RESULT % b"0"]


WITH_DIAGNOSTICS = {"capabilities": {"textDocument": {"publishDiagnostics": {}}}}
URI = "file:///w.velm"
# UTF-16 columns: "é" is one code unit, the emoji two; the stray ")" is at character 21.
BROKEN = 'store s = "é😀" plus )\nstore 5 = 1\ndisplay s\n'


def at(line, character):
    return {"textDocument": {"uri": URI}, "position": {"line": line, "character": character}}


def span(line, start, end):
    return {"start": {"line": line, "character": start}, "end": {"line": line, "character": end}}


def test_diagnostics_hover_and_definition_in_utf16_positions(session, velm):
    session.send(request(0, "initialize", WITH_DIAGNOSTICS)
                 + notification("textDocument/didOpen",
                                {"textDocument": {"uri": URI, "version": 1, "text": BROKEN}})
                 + request(1, "textDocument/hover", at(0, 6))
                 + request(2, "textDocument/definition", at(2, 8))
                 + request(3, "textDocument/hover", at(0, 13))        # inside the string
                 + request(4, "textDocument/hover", at(0, 16)))
    init, published, hover, definition, on_string, plus = session.receive(6)
    assert init == INITIALIZE % b"0"
    assert json.loads(published) == {"jsonrpc": "2.0", "method": "textDocument/publishDiagnostics", "params": {
        "uri": URI, "version": 1, "diagnostics": [
            {"range": span(0, 21, 22), "severity": 1, "source": "velmorine",
             "message": "Unexpected token in expression: EOF at line 1"},
            {"range": span(1, 6, 7), "severity": 1, "source": "velmorine",
             "message": "Expected a variable name after 'store' at line 2"}]}}
    assert json.loads(hover)["result"] == {
        "contents": {"kind": "markdown", "value": "**s** is first stored on line 1."}, "range": span(0, 6, 7)}
    assert json.loads(definition)["result"] == {"uri": URI, "range": span(0, 6, 7)}
    assert json.loads(on_string)["result"] is None
    assert "**plus**" in json.loads(plus)["result"]["contents"]["value"]

    # Fixed by a full-text change: an empty list; closed: an empty list again.
    session.send(notification("textDocument/didChange", {"textDocument": {"uri": URI, "version": 2},
                                                         "contentChanges": [{"text": "count i 1 3\nstop\n"}]})
                 + request(5, "textDocument/definition", at(0, 6))
                 # A ranged change, although full text was asked for, is applied in place.
                 + notification("textDocument/didChange", {"textDocument": {"uri": URI, "version": 3},
                                                          "contentChanges": [{"range": span(0, 10, 11),
                                                                              "text": "3 plus"}]})
                 + notification("textDocument/didClose", {"textDocument": {"uri": URI}})
                 + request(6, "textDocument/hover", at(0, 0)))
    fixed, definition, ranged, closed, gone = (json.loads(b) for b in session.receive(5))
    assert fixed["params"] == {"uri": URI, "version": 2, "diagnostics": []}
    assert definition["result"] == {"uri": URI, "range": span(0, 6, 7)}
    assert [d["range"] for d in ranged["params"]["diagnostics"]] == [span(0, 16, 16)]
    assert closed["params"] == {"uri": URI, "diagnostics": []}
    assert gone["result"] is None
    session.send(request(7, "shutdown") + notification("exit"))
    assert session.receive(1) == [NULL_RESULT % b"7"]
    assert session.finish() == (0, velm.text(STARTUP))


def test_an_editor_that_stops_reading_ends_the_server_without_a_signal(velm):
    # The answer goes to a pipe whose reader has gone: the write fails, the
    # server ends, and the driver reports the lost output (exit 1) instead
    # of the process being killed by the broken pipe.
    server = subprocess.Popen(velm.command("lsp"), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE)
    server.stdout.close()
    server.stdin.write(request(1, "initialize", {}) + request(2, "textDocument/completion", {}))
    server.stdin.flush()
    time.sleep(0.5)
    server.stdin.close()
    assert server.wait(timeout=60) == 1
    assert server.stderr.read() == velm.text(b"[VLLSP] Pure C Language Server v3.0 Started over stdio.\n"
                                             b"Error: Could not write to standard output.\n")
