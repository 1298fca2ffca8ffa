#!/usr/bin/python3
"""Golden tests of the command line.

Each .toml file holds related cases.  A case names a command line and,
optionally, files to create in a fresh working directory and standard input;
it expects standard output, standard error and the exit code byte for byte,
and optionally the contents of files afterwards.

    [[case]]
    name = "what the case shows"
    args = ["x.velm"]
    files = { "x.velm" = "display 1\n" }
    stdin = ""
    stdout = "1\n"
    stderr = ""
    exit = 0
    expect_files = { "x.velm" = "display 1\n" }
    lanes = ["native"]          # only where the behaviour is lane-specific
    tool = "dis"                # another executable than velmorine, given
                                # to this script as --tool dis=<path>

With --valgrind every command runs under valgrind's memcheck, and a case
fails when it reports an error or a leak.

The Windows build writes its console streams in text mode, so in the windows
lane every expected line feed is a carriage return and a line feed, unless the
case says `binary_stdout = true`.
"""
import argparse
import os
import subprocess
import sys
import tempfile
import tomllib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import emulated  # noqa: E402


MEMCHECK_EXIT = 99  # no command of the executable exits with it


def windows_text(data: bytes) -> bytes:
    return data.replace(b"\n", b"\r\n")


def show(data: bytes) -> str:
    text = repr(data)
    return text if len(text) < 2000 else text[:2000] + "..."


def run_case(case, options):
    lanes = case.get("lanes")
    if lanes and options.lane not in lanes:
        return None
    with tempfile.TemporaryDirectory(prefix="velm-golden-") as work:
        for name, content in case.get("files", {}).items():
            path = os.path.join(work, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(content.encode("utf-8", "surrogateescape"))
        if "tool" in case and case["tool"] not in options.tools:
            return f"the case runs tool {case['tool']!r}, which was not given (--tool {case['tool']}=PATH)"
        exe = options.tools[case["tool"]] if "tool" in case else options.exe
        command = [exe] + case.get("args", [])
        if options.emulator:
            command = [options.emulator] + command
        log = work + ".memcheck"  # beside the working directory, so no case sees it
        if options.valgrind:
            command = ["valgrind", "--tool=memcheck", "--leak-check=full", "--errors-for-leak-kinds=definite,indirect",
                       f"--error-exitcode={MEMCHECK_EXIT}", f"--log-file={log}"] + command
        stdin = case.get("stdin", "").encode("utf-8")
        try:
            done = emulated.run(command, bool(options.emulator), cwd=work, input=stdin,
                                  timeout=600 if options.valgrind else 120)
        except subprocess.TimeoutExpired:
            return "timed out"
        except emulated.WineFailure as failure:
            return str(failure)
        expected_out = case.get("stdout", "").encode("utf-8")
        expected_err = case.get("stderr", "").encode("utf-8")
        if options.lane == "windows":
            if not case.get("binary_stdout"):
                expected_out = windows_text(expected_out)
            expected_err = windows_text(expected_err)
        problems = []
        if options.valgrind and done.returncode == MEMCHECK_EXIT:
            with open(log, encoding="utf-8", errors="replace") as f:
                return "memcheck reported errors:\n" + f.read()
        if os.path.exists(log):
            os.remove(log)
        if done.stdout != expected_out:
            problems.append(f"stdout\n  expected {show(expected_out)}\n  got      {show(done.stdout)}")
        if done.stderr != expected_err:
            problems.append(f"stderr\n  expected {show(expected_err)}\n  got      {show(done.stderr)}")
        if done.returncode != case.get("exit", 0):
            problems.append(f"exit code: expected {case.get('exit', 0)}, got {done.returncode}")
        for name, content in case.get("expect_files", {}).items():
            path = os.path.join(work, name)
            if not os.path.exists(path):
                problems.append(f"file {name} missing")
                continue
            with open(path, "rb") as f:
                actual = f.read()
            wanted = content.encode("utf-8", "surrogateescape")
            if actual != wanted:
                problems.append(f"file {name}\n  expected {show(wanted)}\n  got      {show(actual)}")
        for name in case.get("absent_files", []):
            if os.path.exists(os.path.join(work, name)):
                problems.append(f"file {name} should not exist")
        return "\n".join(problems) if problems else ""


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--lane", choices=["native", "windows"], default="native")
    parser.add_argument("--emulator", default="")
    parser.add_argument("--valgrind", action="store_true", help="run every command under memcheck")
    parser.add_argument("--tool", action="append", default=[], metavar="NAME=PATH")
    parser.add_argument("files", nargs="+")
    options = parser.parse_args()
    options.exe = os.path.abspath(options.exe)
    options.tools = {}
    for tool in options.tool:
        name, _, path = tool.partition("=")
        options.tools[name] = os.path.abspath(path)
    if options.emulator:
        options.emulator = os.path.abspath(options.emulator)
    passed = failed = skipped = 0
    for path in options.files:
        with open(path, "rb") as f:
            cases = tomllib.load(f).get("case", [])
        for case in cases:
            outcome = run_case(case, options)
            label = f"{os.path.basename(path)}: {case.get('name', '?')}"
            if outcome is None:
                skipped += 1
            elif outcome:
                failed += 1
                print(f"FAIL {label}\n{outcome}\n")
            else:
                passed += 1
    print(f"{passed} passed, {failed} failed, {skipped} skipped")
    return 1 if failed or passed == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
