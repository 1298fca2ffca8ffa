"""Every request for memory made to fail in turn.

The fault-injection build (velmorine_faults) refuses the Nth request for
memory from the system when VL_FAIL_MEMORY_REQUEST=N and reports on standard
error how many requests it made.  For each command and every N up to that
count, the run must either give the normal result or end with exactly the
out-of-memory message and exit code 1, having written only a prefix of the
normal output before it, and files must hold either their old or their new contents."""
import json
import os
import re
import subprocess

import pytest

REPORT = re.compile(rb"\[faults\] (\d+) memory requests\n\Z")
OUT_OF_MEMORY = b"Error: Out of memory.\n"

# Large enough that the source, the tree and the chunk outgrow their first
# blocks: more than 64 KiB of text, more than 8192 instructions, and joins
# past the strings kept directly in the arena.
BIG_SCRIPT = (b"start\n" + b"store total = total + 1\n" * 3000 +
              b'store s = "%s"\n' % (b"x" * 400) + b'store s = s + "yz"\ndisplay s\n' * 300 +
              b"count i from 1 to 3\n    display total\nstop\n" + b"stop\n")
REPL_INPUT = b"1 + 2\n" + b'"a" + 4\n' * 50 + b"store x = 5\ndisplay x\nnot an expression\nexit\n"


def lsp_frames(*messages):
    bodies = [json.dumps(dict(jsonrpc="2.0", **m)).encode() for m in messages]
    return b"".join(b"Content-Length: %d\r\n\r\n%s" % (len(b), b) for b in bodies)


LSP_INPUT = lsp_frames(
    dict(id=1, method="initialize", params={}),
    dict(method="textDocument/didOpen", params={"textDocument": {
        "uri": "file:///a.velm", "languageId": "velmorine", "version": 1, "text": BIG_SCRIPT.decode()}}),
    dict(id=2, method="textDocument/hover", params={"textDocument": {"uri": "file:///a.velm"},
                                                    "position": {"line": 1, "character": 7}}),
    dict(method="textDocument/didChange", params={"textDocument": {"uri": "file:///a.velm", "version": 2},
                                                  "contentChanges": [{"text": BIG_SCRIPT.decode() * 2}]}),
    dict(id=3, method="textDocument/definition", params={"textDocument": {"uri": "file:///a.velm"},
                                                         "position": {"line": 3002, "character": 10}}),
    dict(id=4, method="textDocument/completion", params={}),
    dict(id=5, method="shutdown"), dict(method="exit"))

# name: (arguments, stdin, the file a run may rewrite or None)
COMMANDS = {
    "run": (["big.velm"], b"", None),
    "syntax error": (["bad.velm"], b"", None),
    "lint": (["lint", "big.velm"], b"", None),
    "fmt": (["fmt", "big.velm"], b"", "big.velm"),
    "compile": (["compile", "big.velm", "-o", "app.exe"], b"", "app.exe"),
    "pkg": (["pkg", "init", "demo"], b"", "vlpackage.json"),
    "repl": (["repl"], REPL_INPUT, None),
    "lsp": (["lsp"], LSP_INPUT, None),
}
PREVIOUS = {"app.exe": b"previous build", "vlpackage.json": b'{"name": "kept"}\n', "big.velm": BIG_SCRIPT,
            "bad.velm": BIG_SCRIPT.replace(b"display total", b"store = total")}


@pytest.fixture
def faults(velm):
    if velm.windows:
        pytest.skip("the fault-injection build is native")
    exe = os.path.abspath(os.path.join(velm.build_dir, "tests", "velmorine_faults"))
    assert os.path.exists(exe), "velmorine_faults is built with the tests"
    return exe


def run(exe, work, args, stdin, fail_at):
    """(exit code, stdout, stderr without the report, requests made)"""
    for name in os.listdir(work):
        os.remove(work / name)
    for name, content in PREVIOUS.items():
        (work / name).write_bytes(content)
    env = dict(os.environ, VL_FAIL_MEMORY_REQUEST=str(fail_at))
    done = subprocess.run([exe] + args, cwd=work, input=stdin, capture_output=True, env=env, timeout=60)
    report = REPORT.search(done.stderr)
    assert report and done.returncode >= 0, f"N={fail_at}: ended without its report (signal?) {done.stderr[-2000:]!r}"
    return done.returncode, done.stdout, done.stderr[:report.start()], int(report.group(1))


@pytest.mark.parametrize("command", COMMANDS)
def test_every_failed_memory_request_ends_cleanly(faults, tmp_path, command):
    args, stdin, target = COMMANDS[command]
    normal_code, normal_out, normal_err, requests = run(faults, tmp_path, args, stdin, 0)
    assert normal_code == (1 if command == "syntax error" else 0), normal_err
    expected_files = {name: (tmp_path / name).read_bytes() for name in PREVIOUS}
    listing = set(os.listdir(tmp_path))
    assert requests >= 2  # the arena record and its first block at least
    failures = 0
    for n in range(1, requests + 1):
        code, out, err, _ = run(faults, tmp_path, args, stdin, n)
        assert set(PREVIOUS) <= set(os.listdir(tmp_path)) <= listing, f"N={n}: a temporary file stayed behind"
        if not err.endswith(OUT_OF_MEMORY):
            assert (code, out, err) == (normal_code, normal_out, normal_err), f"N={n}"
        else:
            failures += 1
            assert code == 1, f"N={n}"
            # Only what the normal run writes, cut off, and then the message.
            assert normal_out.startswith(out), f"N={n}: output that the normal run does not write"
            assert normal_err.startswith(err[:-len(OUT_OF_MEMORY)]), f"N={n}: {err[-2000:]!r}"
        if target:
            assert (tmp_path / target).read_bytes() in (PREVIOUS[target], expected_files[target]), f"N={n}"
    assert failures > 0, "no injected failure reached the command"
