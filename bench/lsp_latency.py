#!/usr/bin/python3
"""Latency of the language server on a large document.

Starts `velmorine lsp` from the given build as a client of the full feature
set, opens a generated script (by default 10,000 lines of stores, displays,
count loops, check and otherwise lines, comments and blank lines, indented the way people
indent, not the way `velmorine fmt` does, so that formatting has work to
do), and measures:

- didChange: from writing a one-character change of a line in the middle
  (sent as a range) to reading its publishDiagnostics;
- each request of the feature set, at a name in the middle of the script
  (codeAction and inlayHint over the whole document): from writing the
  request to reading the last byte of its answer.

Each is repeated (20 times by default) one after the other, and printed as a
Markdown table of median and max milliseconds, with the size of the answer.
A benchmark, not a test: it checks only that every answer came.

    bench/lsp_latency.py build/release             # a build directory
    bench/lsp_latency.py build/gcc/velmorine --lines 100000 --repeat 5

Meant for a Release build; the machine is shared, so compare builds side by
side, in one run each, minutes apart at most.
"""

import argparse
import json
import os
import platform
import queue
import random
import statistics
import subprocess
import sys
import threading
import time

NAMES = ["total", "price", "count_of_items", "tax", "discount", "i", "j", "line_total", "x", "y",
         "name", "greeting", "rate", "balance", "step", "limit", "first", "second", "result", "n"]


def script(lines, seed=1):
    """A script of about `lines` lines; the names are stored before most reads."""
    rng = random.Random(seed)
    stored = ["total"]
    out = ["start", "// A generated script for the latency benchmark.", "store total = 0"]

    def operand():
        pick = rng.random()
        if pick < 0.5:
            return rng.choice(stored)
        if pick < 0.85:
            return str(rng.randint(0, 999))
        return '"text"'

    def expression():
        terms = [operand() for _ in range(rng.choice([1, 1, 2, 2, 3]))]
        ops = ["plus", "minus", "into", "divided by", "+", "*"]
        return " ".join(t if n == 0 else f"{rng.choice(ops)} {t}" for n, t in enumerate(terms))

    def statement(indent):
        pick = rng.random()
        if pick < 0.40:
            name = rng.choice(NAMES)
            line = f"{indent}store {name} = {expression()}"
            if name not in stored:
                stored.append(name)
            return line
        if pick < 0.70:
            return f"{indent}display {expression()}"
        if pick < 0.80:
            return f"{indent}// {rng.choice(['work out the', 'show the', 'keep the'])} {rng.choice(NAMES)}"
        if pick < 0.85:
            return ""
        return f"{indent}display \"{rng.choice(NAMES)}: \" plus {rng.choice(stored)}"

    while len(out) < lines - 1:
        pick = rng.random()
        if pick < 0.08:
            var = rng.choice(["i", "j", "step"])
            out.append(f"count {var} from 1 to {rng.randint(2, 50)}")
            if var not in stored:
                stored.append(var)
            out.extend(statement("  ") for _ in range(rng.randint(1, 6)))
            out.append("stop")
        elif pick < 0.12:
            out.append(f"check {rng.choice(stored)} {rng.choice(['same', 'big', 'small'])} {rng.randint(0, 9)}")
            out.extend(statement("  ") for _ in range(rng.randint(1, 3)))
            # Written as an if and its else; `otherwise` also brings fmt's
            # indentation back, which an unclosed check would deepen for good.
            out.append("otherwise")
            out.extend(statement("  ") for _ in range(rng.randint(1, 2)))
        else:
            out.append(statement(""))
    out.append("stop")
    return "\n".join(out) + "\n"


class Client:
    """JSON-RPC over the server's pipes; a thread reads the frames and
    stamps each with the time its last byte arrived."""

    def __init__(self, exe):
        self.process = subprocess.Popen([exe, "lsp"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL)
        self.answers = {}
        self.notes = queue.Queue()
        self.arrived = threading.Condition()
        self.next_id = 0
        threading.Thread(target=self.read, daemon=True).start()

    def read(self):
        stream = self.process.stdout
        while True:
            length = None
            while True:
                line = stream.readline()
                if not line:
                    return
                line = line.strip()
                if not line:
                    break
                if line.lower().startswith(b"content-length:"):
                    length = int(line.split(b":", 1)[1])
            body = stream.read(length)
            stamp = time.perf_counter()
            message = json.loads(body)
            if "id" in message and "method" not in message:
                with self.arrived:
                    self.answers[message["id"]] = (stamp, len(body), message)
                    self.arrived.notify_all()
            else:
                self.notes.put((stamp, message))

    def send(self, message):
        body = json.dumps(message).encode()
        self.process.stdin.write(b"Content-Length: %d\r\n\r\n" % len(body) + body)
        self.process.stdin.flush()

    def request(self, method, params):
        """(milliseconds, bytes of the answer, answer)."""
        self.next_id += 1
        wanted = self.next_id
        start = time.perf_counter()
        self.send({"jsonrpc": "2.0", "id": wanted, "method": method, "params": params})
        with self.arrived:
            if not self.arrived.wait_for(lambda: wanted in self.answers, timeout=120):
                sys.exit(f"no answer to {method} in 120 s")
            stamp, size, answer = self.answers.pop(wanted)
        if "error" in answer:
            sys.exit(f"{method} failed: {answer['error']}")
        return (stamp - start) * 1000, size, answer["result"]

    def notify(self, method, params):
        self.send({"jsonrpc": "2.0", "method": method, "params": params})

    def diagnostics(self, uri, version, start):
        """Milliseconds from `start` to the publication of `version`, and its size."""
        while True:
            try:
                stamp, note = self.notes.get(timeout=120)
            except queue.Empty:
                sys.exit(f"no diagnostics for version {version} in 120 s")
            params = note.get("params", {})
            if note.get("method") == "textDocument/publishDiagnostics" and params.get("uri") == uri \
                    and params.get("version") == version:
                return (stamp - start) * 1000, len(params["diagnostics"])


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("build", help="a build directory, or the velmorine executable")
    parser.add_argument("--lines", type=int, default=10000)
    parser.add_argument("--repeat", type=int, default=20)
    options = parser.parse_args()
    exe = os.path.join(options.build, "velmorine") if os.path.isdir(options.build) else options.build
    if not os.access(exe, os.X_OK):
        sys.exit(f"no executable at {exe}")

    text = script(options.lines)
    lines = text.split("\n")
    uri = "file:///bench/latency.velm"
    client = Client(exe)
    client.request("initialize", {"processId": os.getpid(), "rootUri": None, "initializationOptions": {"features": "all"},
                                  "capabilities": {"textDocument": {"documentSymbol": {"hierarchicalDocumentSymbolSupport": True}}}})
    client.notify("initialized", {})
    start = time.perf_counter()
    client.notify("textDocument/didOpen", {"textDocument": {"uri": uri, "languageId": "velmorine", "version": 1, "text": text}})
    open_ms, opened = client.diagnostics(uri, 1, start)

    # A read of a much-used name in the middle of the script.
    middle = len(lines) // 2
    row = next(n for n in range(middle, len(lines)) if lines[n].startswith("display ") and " total" in lines[n])
    at = {"textDocument": {"uri": uri}, "position": {"line": row, "character": lines[row].index(" total") + 2}}
    whole = {"start": {"line": 0, "character": 0}, "end": {"line": len(lines), "character": 0}}
    doc = {"textDocument": {"uri": uri}}
    requests = [
        ("completion", at),
        ("hover", at),
        ("definition", at),
        ("references", {**at, "context": {"includeDeclaration": True}}),
        ("documentHighlight", at),
        ("documentSymbol", doc),
        ("formatting", {**doc, "options": {"tabSize": 4, "insertSpaces": True}}),
        ("prepareRename", at),
        ("rename", {**at, "newName": "grand_total"}),
        ("foldingRange", doc),
        ("semanticTokens/full", doc),
        ("codeAction", {**doc, "range": whole, "context": {"diagnostics": []}}),
        ("inlayHint", {**doc, "range": whole}),
    ]

    rows = []
    # didChange: one digit of a store in the middle, changed back and forth.
    edit_row = next(n for n in range(middle, len(lines)) if lines[n].startswith("store ") and lines[n][-1].isdigit())
    end = len(lines[edit_row])
    times, version = [], 1
    for n in range(options.repeat):
        version += 1
        start = time.perf_counter()
        client.notify("textDocument/didChange", {
            "textDocument": {"uri": uri, "version": version},
            "contentChanges": [{"range": {"start": {"line": edit_row, "character": end - 1},
                                          "end": {"line": edit_row, "character": end}},
                                "text": str(n % 10)}]})
        ms, published = client.diagnostics(uri, version, start)
        times.append(ms)
    rows.append(("didChange → publishDiagnostics", times, f"{published} diagnostics"))

    for method, params in requests:
        times = []
        for _ in range(options.repeat):
            ms, size, result = client.request("textDocument/" + method, params)
            times.append(ms)
        if result is None or (result == [] and method != "formatting"):
            sys.exit(f"{method}: an empty answer at line {row + 1} ({json.dumps(result)})")
        rows.append((method, times, f"{size:,} bytes"))

    client.request("shutdown", None)
    client.notify("exit", None)
    client.process.wait(timeout=60)

    print(f"{len(lines) - 1:,} lines ({len(text.encode()):,} bytes, {opened} diagnostics), "
          f"{options.repeat} runs each; {exe}; {platform.machine()}, {os.cpu_count()} cores; "
          f"didOpen to its diagnostics {open_ms:.1f} ms\n")
    print("| request | median ms | max ms | answer |")
    print("|---|---:|---:|---:|")
    for name, times, size in rows:
        print(f"| {name} | {statistics.median(times):.2f} | {max(times):.2f} | {size} |")


if __name__ == "__main__":
    main()
