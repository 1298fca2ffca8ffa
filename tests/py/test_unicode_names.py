"""Names and text beyond ASCII, as a user anywhere types them: scripts in
Greek, CJK and emoji names and in a folder with spaces and an accent, run,
linted, formatted, compiled, listed and named as a project, with every
message naming the path byte for byte and no temporary file left behind.
Then a console session, where wine gives the Windows build a console."""
import os
import shutil

import pytest

from terminal import Terminal

SCRIPT = "start\n  // ¿qué tal?\n  display \"café ☕ naïve\"\nstop\n"
FORMATTED = "start\n    // ¿qué tal?\n    display \"café ☕ naïve\"\nstop\n"
LISTING = '0000  LOAD_STR    r0, "café ☕ naïve"\n0001  PRINT       r0\n0002  HALT\n'.encode()

# Relative to the working directory; the last one also names a folder.
NAMES = ["λόγος.velm", "日本語のスクリプト.velm", "🎉.velm", "dossier de José/ñandú café.velm"]


@pytest.fixture(params=NAMES)
def script(request, tmp_path):
    path = tmp_path / request.param
    path.parent.mkdir(exist_ok=True)
    path.write_bytes(SCRIPT.encode())
    return request.param


def dis_exe(velm):
    suffix = ".exe" if velm.windows else ""
    return os.path.join(os.path.dirname(velm.exe), "velmorine-dis" + suffix)


def files_under(root):
    return sorted(os.path.relpath(os.path.join(d, f), root) for d, _, fs in os.walk(root) for f in fs)


def test_each_command_takes_the_name_and_says_it_back(velm, tmp_path, script):
    def run(*args):
        return velm.run(*args, cwd=tmp_path)

    done = run(script)
    assert (done.stdout, done.stderr, done.returncode) == (velm.text("café ☕ naïve\n".encode()), b"", 0)

    done = run("lint", script)
    assert (done.stdout, done.stderr, done.returncode) == (
        velm.text(f"[vllint] Analyzing '{script}' ...\n  ✓ Syntax check passed "
                  "(1 AST statements verified).\n[vllint] 0 Errors, 0 Warnings.\n".encode()), b"", 0)

    done = run("fmt", script)
    assert (done.stdout, done.stderr, done.returncode) == (
        velm.text(f"[vlfmt] Formatted '{script}' successfully.\n".encode()), b"", 0)
    assert (tmp_path / script).read_bytes() == FORMATTED.encode()

    output = os.path.splitext(script)[0] + " sortie-été.exe"
    done = run("compile", script, "-o", output)
    assert (done.stdout, done.stderr, done.returncode) == (
        velm.text(f"[VL-PE Linker] Compiled '{script}' into standalone binary: {output}\n".encode()), b"", 0)
    assert (tmp_path / output).stat().st_size == 1024

    command = ([velm.emulator] if velm.emulator else []) + [dis_exe(velm), script]
    done = velm.run_command(command, cwd=tmp_path, input=b"", timeout=120)
    assert (done.stdout, done.returncode) == (velm.text(LISTING), 0)

    assert files_under(tmp_path) == sorted([script, output])


def test_messages_name_a_missing_path_byte_for_byte(velm, tmp_path, script):
    missing = "нет-" + os.path.basename(script)
    done = velm.run(missing, cwd=tmp_path)
    assert (done.stderr, done.returncode) == (velm.text(f"Error: Could not open source file '{missing}'\n".encode()), 1)
    done = velm.run("lint", missing, cwd=tmp_path)
    assert (done.stdout, done.returncode) == (velm.text(f"[vllint] Could not open file '{missing}'\n".encode()), 1)
    done = velm.run("fmt", missing, cwd=tmp_path)
    assert done.stdout == velm.text(f"[vlfmt] Could not open file '{missing}'\n".encode())
    done = velm.run("compile", missing, cwd=tmp_path)
    assert (done.stderr, done.returncode) == (velm.text(f"Error: Could not open file '{missing}'\n".encode()), 1)
    # An output folder that does not exist: the write fails and leaves nothing.
    done = velm.run("compile", script, "-o", "ничего/été.exe", cwd=tmp_path)
    assert done.stderr == velm.text(b"[VL-PE Linker] Failed to generate executable.\n")
    assert files_under(tmp_path) == [script]


@pytest.mark.parametrize("name", ["ñandú", "λόγος 日本 🎉", "José's app"])
def test_pkg_init_keeps_the_project_name(velm, tmp_path, name):
    done = velm.run("pkg", "init", name, cwd=tmp_path)
    assert done.returncode == 0
    manifest = (tmp_path / "vlpackage.json").read_bytes()
    assert manifest.startswith(b'{\n  "name": "' + name.encode() + b'",\n')
    assert files_under(tmp_path) == ["vlpackage.json", "vlpackage.lock"]


@pytest.fixture
def console(velm, tmp_path):
    if shutil.which("tmux") is None:
        pytest.skip("tmux is not installed")
    opened = []

    def open_console(*args):
        term = Terminal(velm.command(*args), tmp_path)
        opened.append(term)
        return term
    yield open_console
    for term in opened:
        term.close()


def test_a_console_shows_the_characters(velm, tmp_path, console):
    patience = 90 if velm.windows else 10  # wine takes seconds to start
    (tmp_path / "λόγος.velm").write_bytes(SCRIPT.encode())
    term = console("λόγος.velm")
    screen = term.wait_for(lambda s: any(l.startswith("EXIT-CODE=") for l in s), "the end of the run", patience)
    assert screen == ["café ☕ naïve", "EXIT-CODE=0"]

    term = console("repl")
    term.wait_for(lambda s: s and s[-1] == "velm>", "the first prompt", patience)
    term.type('display "über ñ"')
    term.wait_for(lambda s: "über ñ" in s, "the typed line", patience)
    term.type('"日本" plus 1')
    term.wait_for(lambda s: "日本1" in s, "the concatenation", patience)
    term.type("exit")
    screen = term.wait_for(lambda s: any(l.startswith("EXIT-CODE=") for l in s), "the end of the REPL", patience)
    assert screen[5:] == ['velm> display "über ñ"', "über ñ", 'velm> "日本" plus 1', "日本1",
                          "velm> exit", "Exiting VELMORINE REPL.", "EXIT-CODE=0"]
