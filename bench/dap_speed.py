#!/usr/bin/python3
"""Speed of a script run through velmorine-dap against a plain run.

Runs bench/compare's arith workload (the same generator and seed, so the
same script) three ways, interleaved, and prints the median of each:

- plain: `velmorine arith.velm > /dev/null`, spawn to exit;
- noDebug: velmorine-dap launched with noDebug true;
- debug: velmorine-dap launched to debug (history kept, the default) with a
  breakpoint on the last statement; at the stop it continues to the end.

An adapter run is timed from its spawn to its exit after disconnect (the
ratios use this); launch to terminated, and for the debug run launch to the
stop, are shown beside it.  Targets: noDebug at most 1.1 x plain, debug at
most 2 x.  A benchmark, not a test: it checks only that each run stops
where it should and shows what the plain run prints.

    bench/dap_speed.py build/release                     # 100,000 statements
    bench/dap_speed.py build/release --size 100000,1000000 --runs 9

Meant for a Release build; the machine is shared, so the three are run in
turn (in a rotating order) and only compared within one run of this script.
"""

import argparse
import importlib.machinery
import importlib.util
import json
import os
import platform
import random
import signal
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
TIMEOUT = 600  # seconds for one run through the adapter


def load_compare():
    loader = importlib.machinery.SourceFileLoader("vl_bench_compare", os.path.join(HERE, "compare"))
    found = importlib.util.spec_from_loader(loader.name, loader)
    module = importlib.util.module_from_spec(found)
    loader.exec_module(module)
    return module


def write_script(compare, n, work_dir):
    """bench/compare's arith program of `n` stores; its path and last line."""
    prog = compare.gen_arith(n, random.Random("arith-%d" % n))
    os.makedirs(work_dir, exist_ok=True)
    path = os.path.join(work_dir, "arith-%d.velm" % n)
    text = "\n".join(prog.velm) + "\n"
    if not os.path.exists(path) or open(path).read() != text:
        with open(path, "w") as f:
            f.write(text)
    return path, len(prog.velm)


def reap(process):
    """Waits for the process: its exit code, its user + system seconds and
    its page faults."""
    _, status, usage = os.wait4(process.pid, 0)
    process.returncode = os.waitstatus_to_exitcode(status)
    return process.returncode, usage.ru_utime + usage.ru_stime, usage.ru_minflt + usage.ru_majflt


def plain_run(velmorine, script):
    start = time.perf_counter()
    process = subprocess.Popen([velmorine, script], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    code, cpu, faults = reap(process)
    wall = time.perf_counter() - start
    if code != 0:
        sys.exit("%s %s failed (exit %d): %s" % (velmorine, script, code, process.stderr.read()[:500]))
    return {"whole": wall, "cpu": cpu, "faults": faults}


class Adapter:
    """One velmorine-dap process, read on this thread: the workload writes
    one line, so nothing piles up on the adapter's side."""

    def __init__(self, exe):
        self.process = subprocess.Popen([exe], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL)
        self.seq = 0
        self.output = b""

    def send(self, command, arguments=None):
        self.seq += 1
        body = json.dumps({"seq": self.seq, "type": "request", "command": command,
                           "arguments": arguments or {}}).encode()
        self.process.stdin.write(b"Content-Length: %d\r\n\r\n" % len(body) + body)
        self.process.stdin.flush()
        return self.seq

    def receive(self):
        stream = self.process.stdout
        length = None
        while True:
            line = stream.readline()
            if not line:
                sys.exit("velmorine-dap closed its output")
            line = line.strip()
            if not line:
                break
            if line.lower().startswith(b"content-length:"):
                length = int(line.split(b":", 1)[1])
        message = json.loads(stream.read(length))
        if message.get("type") == "event" and message.get("event") == "output" \
                and message["body"].get("category") == "stdout":
            self.output += message["body"]["output"].encode()
        return message

    def wait_for(self, kind, name, seq=None):
        """Reads up to the response to `seq` (kind "response") or the event `name`."""
        while True:
            message = self.receive()
            if kind == "response" and message.get("type") == "response" and message.get("request_seq") == seq:
                if not message.get("success"):
                    sys.exit("%s failed: %s" % (name, message.get("message")))
                return message
            if kind == "event" and message.get("type") == "event" and message.get("event") == name:
                return message
            if message.get("type") == "event" and message.get("event") == "terminated":
                sys.exit("the run ended while waiting for %s %s" % (kind, name))

    def request(self, command, arguments=None):
        return self.wait_for("response", command, self.send(command, arguments))


def adapter_run(exe, script, last_line, debug, check=False):
    signal.alarm(TIMEOUT)
    try:
        return adapter_session(exe, script, last_line, debug, check)
    finally:
        signal.alarm(0)


def adapter_session(exe, script, last_line, debug, check):
    times = {}
    start = time.perf_counter()
    adapter = Adapter(exe)
    adapter.request("initialize", {"adapterID": "velmorine", "linesStartAt1": True, "columnsStartAt1": True})
    launched = time.perf_counter()
    arguments = {"program": script}
    if not debug:
        arguments["noDebug"] = True
    adapter.request("launch", arguments)
    adapter.wait_for("event", "initialized")
    if debug:
        answer = adapter.request("setBreakpoints", {"source": {"path": script}, "breakpoints": [{"line": last_line}]})
        placed = answer["body"]["breakpoints"][0]
        if not placed["verified"] or placed["line"] != last_line:
            sys.exit("the breakpoint on line %d was not placed there: %s" % (last_line, placed))
    adapter.request("configurationDone")
    if debug:
        stopped = adapter.wait_for("event", "stopped")
        times["stop"] = time.perf_counter() - launched
        if stopped["body"]["reason"] != "breakpoint":
            sys.exit("stopped for %s, not at the breakpoint" % stopped["body"]["reason"])
        if check:
            frame = adapter.request("stackTrace", {"threadId": 1})["body"]["stackFrames"][0]
            if frame["line"] != last_line:
                sys.exit("stopped on line %d, not %d" % (frame["line"], last_line))
        adapter.send("continue", {"threadId": 1})
    adapter.wait_for("event", "terminated")
    times["run"] = time.perf_counter() - launched
    adapter.send("disconnect")
    adapter.process.stdin.close()
    adapter.process.stdout.read()
    code, cpu, faults = reap(adapter.process)
    times["whole"] = time.perf_counter() - start
    times["cpu"] = cpu
    times["faults"] = faults
    if code != 0:
        sys.exit("velmorine-dap exited with %d" % code)
    return times, adapter.output


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("build", help="a build directory holding velmorine and velmorine-dap")
    parser.add_argument("--size", default="100000", help="statements, or a comma-separated list of sizes")
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--work-dir", default=os.path.join(ROOT, "build", "dap-speed"),
                        help="where the generated scripts go")
    options = parser.parse_args()
    velmorine = os.path.join(options.build, "velmorine")
    dap = os.path.join(options.build, "velmorine-dap")
    for exe in (velmorine, dap):
        if not os.access(exe, os.X_OK):
            sys.exit("no executable at %s" % exe)
    cache = os.path.join(options.build, "CMakeCache.txt")
    if os.path.exists(cache) and "CMAKE_BUILD_TYPE:STRING=Release\n" not in open(cache).read():
        print("[dap_speed] warning: %s is not a Release build" % options.build, file=sys.stderr)
    sizes = [int(s.replace("_", "")) for s in options.size.split(",") if s]
    signal.signal(signal.SIGALRM, lambda *_: sys.exit("velmorine-dap gave no answer in %d s" % TIMEOUT))
    compare = load_compare()

    kinds = ["plain", "noDebug", "debug"]
    rows = []
    for n in sizes:
        script, last_line = write_script(compare, n, options.work_dir)
        expected = subprocess.run([velmorine, script], stdout=subprocess.PIPE, check=True).stdout
        for debug in (False, True):
            _, shown = adapter_run(dap, script, last_line, debug, check=True)
            if shown != expected:
                sys.exit("velmorine-dap (%s) shows %r, the plain run %r" % ("debug" if debug else "noDebug",
                                                                            shown[:80], expected[:80]))
        samples = {k: [] for k in kinds}
        for r in range(options.runs):
            order = kinds[r % 3:] + kinds[:r % 3]
            for kind in order:
                if kind == "plain":
                    samples[kind].append(plain_run(velmorine, script))
                else:
                    samples[kind].append(adapter_run(dap, script, last_line, kind == "debug")[0])
            print("[dap_speed] N=%d run %d/%d: %s" % (n, r + 1, options.runs, ", ".join(
                "%s %.3f" % (k, samples[k][-1]["whole"]) for k in kinds)), file=sys.stderr)
        med = {k: {field: statistics.median(s[field] for s in samples[k]) for field in samples[k][0]}
               for k in kinds}
        rows.append((n, med))

    load = os.getloadavg()
    print("%d runs each, interleaved; %s; %s, %d cores; load average %.2f %.2f %.2f\n" % (
        options.runs, os.path.abspath(options.build), platform.machine(), os.cpu_count(), *load))
    print("| N | plain | noDebug | debug | noDebug / plain | debug / plain |")
    print("|---:|---:|---:|---:|---:|---:|")
    for n, med in rows:
        plain, nodebug, debug = (med[k]["whole"] for k in kinds)
        print("| {:,} | {:.3f} s | {:.3f} s | {:.3f} s | {:.2f} | {:.2f} |".format(
            n, plain, nodebug, debug, nodebug / plain, debug / plain))
    print()
    print("| N | noDebug launch→terminated | debug launch→stop | debug launch→terminated "
          "| processor time plain / noDebug / debug | page faults plain / noDebug / debug |")
    print("|---:|---:|---:|---:|---:|---:|")
    for n, med in rows:
        print("| {:,} | {:.3f} s | {:.3f} s | {:.3f} s | {} | {} |".format(
            n, med["noDebug"]["run"], med["debug"]["stop"], med["debug"]["run"],
            " / ".join("%.3f s" % med[k]["cpu"] for k in kinds),
            " / ".join("{:,.0f}".format(med[k]["faults"]) for k in kinds)))
    print("\nMedians; the ratios are of spawn-to-exit wall times.  Targets: noDebug / plain at most 1.1, "
          "debug / plain at most 2.")
    met = all(m["noDebug"]["whole"] <= 1.1 * m["plain"]["whole"] and m["debug"]["whole"] <= 2 * m["plain"]["whole"]
              for _, m in rows)
    print("Targets %s." % ("met" if met else "missed"))


if __name__ == "__main__":
    main()
