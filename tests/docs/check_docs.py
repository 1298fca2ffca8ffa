#!/usr/bin/python3
"""Runs the examples of the documentation and compares what they print.

Each document is read top to bottom, and its examples run in order in one
fresh working directory, so that a file written by one example is there for
the next.  Fenced blocks, by the first word of their info string:

    ```velm [NAME]        a script, written to NAME (example.velm when no
                          name is given).  When an `output` or `error` block
                          follows it (blank lines between at most), the
                          script runs as `velmorine NAME`:
    ```output             ... it prints exactly this on standard output,
                          nothing on standard error, and exits with 0;
    ```error              ... it prints exactly this on standard error (all
                          lines but the last), nothing on standard output,
                          and the last line says "(exit code N)".
    ```console            a terminal session.  "$ " starts a command; the
                          lines up to the next command are what it prints:
                          standard output, then standard error.  Commands:
                            velmorine ARGS / velmorine-dis ARGS, with
                              optional "< FILE" (or /dev/null), ">/dev/null"
                              and "2>/dev/null";
                            velmorine repl without "<": the session as a
                              terminal shows it, each line typed after a
                              "velm> " prompt being its input;
                            echo $?        the exit code of the last command;
                            cat FILE...    the files' bytes;
                            wc -c FILE     the size of a file, as wc prints it.
    ```lsp                a language-server session: "--> " lines are sent
                          (each framed with its Content-Length header), and
                          "<-- " lines are the bodies of the frames that come
                          back, in order; the server must exit with 0.

A script block with a name and no result after it only writes its file.
Other fenced blocks are not examples.  On a mismatch the report names the
document and the line of the first expected line that differs.

In the windows lane a console line ends in CR LF, so every line feed that
the program writes to a console stream is expected as CR LF; the language
server's frames and the files the examples read are bytes as they are.
"""
import argparse
import glob
import os
import re
import shlex
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import emulated  # noqa: E402
FENCE = re.compile(r"^( {0,3})(`{3,}|~{3,})\s*([^`]*)$")
EXIT_LINE = re.compile(r"^\(exit code (\d+)\)$")
PROMPT = b"velm> "
LSP_HEADER = b"Content-Length: %d\r\nContent-Type: application/vscode-jsonrpc; charset=utf-8\r\n\r\n"
LSP_FRAME = re.compile(rb"Content-Length: (\d+)\r\nContent-Type: application/vscode-jsonrpc; charset=utf-8\r\n\r\n")


class Block:
    def __init__(self, path, info, fence_line, follows):
        words = info.split()
        self.path = path              # as reports name it
        self.follows = follows        # only blank lines since the block before
        self.lang = words[0] if words else ""
        self.args = words[1:]
        self.fence_line = fence_line  # line of the opening fence
        self.end_line = fence_line    # line of the closing fence
        self.lines = []               # (line number, text without its line feed)


def read_blocks(path, shown):
    """The fenced blocks of a Markdown file."""
    with open(path, encoding="utf-8") as f:
        text = f.read().split("\n")
    blocks, block, closing, indent, follows = [], None, "", 0, False
    for number, line in enumerate(text, 1):
        if block is None:
            m = FENCE.match(line)
            if m:
                indent, closing = len(m.group(1)), m.group(2)
                block = Block(shown, m.group(3), number, follows)
            elif line.strip():
                follows = False
            continue
        stripped = line.strip()
        if stripped.startswith(closing) and set(stripped) == {closing[0]}:
            block.end_line = number
            blocks.append(block)
            block, follows = None, True
            continue
        # Content keeps what lies beyond the fence's own indentation.
        cut = len(line) - len(line.lstrip(" "))
        block.lines.append((number, line[min(cut, indent):]))
    if block is not None:
        raise SystemExit(f"{shown}:{block.fence_line}: the fenced block is never closed")
    return blocks


class Failure(Exception):
    pass


class Session:
    """One document's examples, in one working directory."""

    def __init__(self, options, work):
        self.options = options
        self.work = work
        self.last_exit = 0

    def newline(self):
        return b"\r\n" if self.options.lane == "windows" else b"\n"

    def run(self, tool, args, stdin=b""):
        exe = self.options.dis if tool == "velmorine-dis" else self.options.exe
        if not exe:
            raise Failure(f"{tool} was not given to the checker")
        command = [exe] + args
        if self.options.emulator:
            command = [self.options.emulator] + command
        try:
            done = emulated.run(command, bool(self.options.emulator), cwd=self.work, input=stdin, timeout=120)
        except subprocess.TimeoutExpired:
            raise Failure(f"{tool} {' '.join(args)} timed out")
        except emulated.WineFailure as failure:
            raise Failure(str(failure))
        self.last_exit = done.returncode
        return done

    def write(self, name, lines):
        path = os.path.join(self.work, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(b"".join(text.encode("utf-8") + b"\n" for _, text in lines))

    def read(self, name):
        try:
            with open(os.path.join(self.work, name), "rb") as f:
                return f.read()
        except OSError as error:
            raise Failure(f"cannot read {name}: {error.strerror}")


def show(data):
    return repr(data)[1:] if len(data) < 300 else repr(data[:300])[1:] + "..."


def compare(path, expected, actual, after_line, what):
    """expected: [(line number, bytes of the line with its ending)]."""
    actual_lines = actual.splitlines(keepends=True)
    for i, (number, line) in enumerate(expected):
        got = actual_lines[i] if i < len(actual_lines) else None
        if got != line:
            said = "nothing more" if got is None else show(got)
            raise Failure(f"{path}:{number}: {what}: expected {show(line)}, got {said}")
    if len(actual_lines) > len(expected):
        rest = b"".join(actual_lines[len(expected):])
        raise Failure(f"{path}:{after_line}: {what}: more than the document shows: {show(rest)}")


def lines_of(block_lines, newline):
    return [(number, text.encode("utf-8") + newline) for number, text in block_lines]


def check_script(session, script, result):
    name = script.args[0] if script.args else "example.velm"
    session.write(name, script.lines)
    done = session.run("velmorine", [name])
    try:
        check_result(session, done, result)
    except Failure as failure:
        # The whole outcome, so that a run that printed nothing says how it ended.
        raise Failure(f"{failure} (exit code {done.returncode}, standard output {show(done.stdout)}, "
                      f"standard error {show(done.stderr)})") from None


def check_result(session, done, result):
    nl = session.newline()
    path = result.path
    if result.lang == "output":
        compare(path, lines_of(result.lines, nl), done.stdout, result.end_line, "standard output")
        compare(path, [], done.stderr, result.end_line, "standard error")
        if done.returncode != 0:
            raise Failure(f"{path}:{result.end_line}: exit code {done.returncode}, expected 0")
        return
    if not result.lines or not EXIT_LINE.match(result.lines[-1][1]):
        raise Failure(f"{path}:{result.end_line}: an error block ends with the line (exit code N)")
    number, last = result.lines[-1]
    code = int(EXIT_LINE.match(last).group(1))
    compare(path, lines_of(result.lines[:-1], nl), done.stderr, number, "standard error")
    compare(path, [], done.stdout, number, "standard output")
    if done.returncode != code:
        raise Failure(f"{path}:{number}: exit code {done.returncode}, expected {code}")


def parse_command(words):
    """Splits off the redirections: (words, stdin file or None, keep stdout, keep stderr)."""
    stdin, out, err, kept = None, True, True, []
    i = 0
    while i < len(words):
        word = words[i]
        if word == "<" and i + 1 < len(words):
            stdin = words[i + 1]
            i += 2
            continue
        if word.startswith("<") and len(word) > 1:
            stdin = word[1:]
        elif word in (">/dev/null", "1>/dev/null"):
            out = False
        elif word == "2>/dev/null":
            err = False
        else:
            kept.append(word)
        i += 1
    return kept, stdin, out, err


def run_console_command(session, line_number, command, expected, path, after_line):
    nl = session.newline()
    try:
        words = shlex.split(command)
    except ValueError as error:
        raise Failure(f"{path}:{line_number}: cannot read the command: {error}")
    if words == ["echo", "$?"]:
        compare(path, lines_of(expected, b"\n"), f"{session.last_exit}\n".encode(), after_line, "echo $?")
        return
    if words and words[0] == "cat":
        data = b"".join(session.read(name) for name in words[1:])
        compare(path, lines_of(expected, b"\n"), data, after_line, " ".join(words))
        return
    if words[:2] == ["wc", "-c"] and len(words) == 3:
        data = f"{len(session.read(words[2]))} {words[2]}\n".encode()
        compare(path, lines_of(expected, b"\n"), data, after_line, " ".join(words))
        return
    if not words or words[0] not in ("velmorine", "velmorine-dis"):
        raise Failure(f"{path}:{line_number}: the checker does not run {command!r}")
    args, stdin_file, keep_out, keep_err = parse_command(words[1:])
    interactive = words[0] == "velmorine" and args[:1] == ["repl"] and stdin_file is None
    typed = []
    if interactive:
        typed = [text[len("velm> "):] for _, text in expected if text.startswith("velm> ")]
        stdin = b"".join(t.encode("utf-8") + b"\n" for t in typed)
    elif stdin_file in (None, "/dev/null"):
        stdin = b""
    else:
        stdin = session.read(stdin_file)
    done = session.run(words[0], args, stdin)
    out = done.stdout if keep_out else b""
    if interactive:
        # A terminal shows each typed line after its prompt.
        pieces = out.split(PROMPT)
        shown = pieces[0]
        for i, piece in enumerate(pieces[1:]):
            shown += PROMPT + (typed[i].encode("utf-8") + nl if i < len(typed) else b"") + piece
        out = shown
    printed = out + (done.stderr if keep_err else b"")
    compare(path, lines_of(expected, nl), printed, after_line, command)


def check_console(session, block):
    commands = []  # (line number, command, expected lines)
    for number, text in block.lines:
        if text.startswith("$ "):
            commands.append((number, text[2:], []))
        elif not commands:
            raise Failure(f"{block.path}:{number}: a console block starts with a command (\"$ \")")
        else:
            commands[-1][2].append((number, text))
    for i, (number, command, expected) in enumerate(commands):
        after = commands[i + 1][0] if i + 1 < len(commands) else block.end_line
        run_console_command(session, number, command, expected, block.path, after)


def check_lsp(session, block):
    sent, wanted = b"", []
    for number, text in block.lines:
        if text.startswith("--> "):
            body = text[4:].encode("utf-8")
            sent += b"Content-Length: %d\r\n\r\n" % len(body) + body
        elif text.startswith("<-- "):
            wanted.append((number, text[4:].encode("utf-8")))
        elif text.strip():
            raise Failure(f"{block.path}:{number}: an lsp line starts with \"--> \" or \"<-- \"")
    done = session.run("velmorine", ["lsp"], sent)
    frames, rest = [], done.stdout
    while rest:
        m = LSP_FRAME.match(rest)
        if not m:
            break
        size = int(m.group(1))
        frames.append(rest[m.end():m.end() + size])
        rest = rest[m.end() + size:]
    for i, (number, body) in enumerate(wanted):
        got = frames[i] if i < len(frames) else None
        if got != body:
            said = "no frame" if got is None else show(got)
            raise Failure(f"{block.path}:{number}: expected the frame {show(body)}, got {said}")
    if len(frames) > len(wanted) or rest:
        extra = b"".join(LSP_HEADER % len(f) + f for f in frames[len(wanted):]) + rest
        raise Failure(f"{block.path}:{block.end_line}: more than the document shows: {show(extra)}")
    if done.returncode != 0:
        raise Failure(f"{block.path}:{block.end_line}: the server exited with {done.returncode}, expected 0")


def examples(blocks):
    """Yields (kind, blocks) in document order; 'file' entries only write a file."""
    i = 0
    while i < len(blocks):
        block = blocks[i]
        if block.lang == "velm":
            after = blocks[i + 1] if i + 1 < len(blocks) else None
            if after and after.lang in ("output", "error") and after.follows:
                yield "script", (block, after)
                i += 2
                continue
            if block.args:
                yield "file", (block,)
            else:
                yield "broken", (block, f"{block.path}:{block.fence_line}: a velm example without the "
                                        "output or error block it prints")
        elif block.lang in ("output", "error"):
            yield "broken", (block, f"{block.path}:{block.fence_line}: an {block.lang} block "
                                    "without the velm example it belongs to")
        elif block.lang in ("console", "lsp"):
            yield block.lang, (block,)
        i += 1


def check_document(path, shown, options):
    passed = failed = 0
    with tempfile.TemporaryDirectory(prefix="velm-docs-") as work:
        session = Session(options, work)
        for kind, parts in examples(read_blocks(path, shown)):
            try:
                if kind == "file":
                    session.write(parts[0].args[0], parts[0].lines)
                    continue
                if kind == "broken":
                    raise Failure(parts[1])
                if kind == "script":
                    check_script(session, *parts)
                elif kind == "console":
                    check_console(session, parts[0])
                else:
                    check_lsp(session, parts[0])
                passed += 1
            except Failure as failure:
                failed += 1
                print(f"FAIL {failure}")
    return passed, failed


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--exe", required=True, help="the velmorine executable")
    parser.add_argument("--dis", default="", help="the velmorine-dis executable")
    parser.add_argument("--lane", choices=["native", "windows"], default="native")
    parser.add_argument("--emulator", default="")
    parser.add_argument("--root", help="check docs/*.md and README.md of this source tree")
    parser.add_argument("files", nargs="*", help="Markdown files to check")
    options = parser.parse_args()
    options.exe = os.path.abspath(options.exe)
    options.dis = os.path.abspath(options.dis) if options.dis else ""
    options.emulator = os.path.abspath(options.emulator) if options.emulator else ""
    files = list(options.files)
    if options.root:
        files += sorted(glob.glob(os.path.join(options.root, "docs", "*.md")))
        files.append(os.path.join(options.root, "README.md"))
    passed = failed = 0
    for path in files:
        # Reports name a file relative to the source tree when one was given.
        shown = os.path.relpath(path, options.root) if options.root else path
        p, f = check_document(path, shown, options)
        passed += p
        failed += f
    print(f"{passed} passed, {failed} failed")
    return 1 if failed or passed == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
