"""The REPL as a person uses it: typed into a real terminal (tmux), read
back from the screen.  Plus the long-line rule of the line reader, which a
terminal cannot exercise."""
import shutil

import pytest

from terminal import Terminal

BANNER = (b"=====================================================\n"
          b"        VELMORINE Native Interactive REPL v3.0       \n"
          b"       Type 'exit' or 'stop' to quit the session     \n"
          b"=====================================================\n\n")


@pytest.fixture
def terminal(velm, tmp_path):
    if velm.windows:
        pytest.skip("the terminal test drives the native executable")
    if shutil.which("tmux") is None:
        pytest.skip("tmux is not installed")
    opened = []

    def open_terminal():
        term = Terminal(velm.command("repl"), tmp_path)
        opened.append(term)
        return term
    yield open_terminal
    for term in opened:
        term.close()


def test_a_typed_session(terminal):
    term = terminal()
    term.wait_for(lambda s: s and s[-1] == "velm>", "the first prompt")
    assert term.screen()[:4] == [line.decode().rstrip() for line in BANNER.splitlines()[:4]]

    term.type("display 6 into 7")
    term.wait_for(lambda s: "42" in s, "the product")
    term.type("display")
    term.wait_for(lambda s: "Error: Invalid expression." in s, "the error line")
    term.type("\"a\" plus 1")
    term.wait_for(lambda s: "a1" in s, "the concatenation")
    term.type("exit")
    screen = term.wait_for(lambda s: any(l.startswith("EXIT-CODE=") for l in s), "the end of the REPL")

    session = screen[5:]
    assert session == [
        "velm> display 6 into 7",
        "42",
        "velm> display",
        "Error: Invalid expression.",
        "velm> \"a\" plus 1",
        "a1",
        "velm> exit",
        "Exiting VELMORINE REPL.",
        "EXIT-CODE=0",
    ]


def test_end_of_input_from_the_keyboard_ends_without_farewell(terminal):
    term = terminal()
    term.wait_for(lambda s: s and s[-1] == "velm>", "the first prompt")
    term.type("1 plus 1")
    term.wait_for(lambda s: "2" in s, "the sum")
    term.tmux("send-keys", "C-d")
    screen = term.wait_for(lambda s: any("EXIT-CODE=" in l for l in s), "the end of the REPL")
    assert screen[-1] == "velm> EXIT-CODE=0"
    assert not any("Exiting" in line for line in screen)


def test_a_line_longer_than_the_buffer_is_read_as_two_lines(velm):
    # 1023 characters fill one read; the rest arrives as the next line.
    first = b'"' + b"a" * 1021 + b'"'
    assert len(first) == 1023
    done = velm.run("repl", input=first + b"7\nexit\n")
    assert done.stdout == velm.text(BANNER + b"velm> " + b"a" * 1021 + b"\nvelm> 7\nvelm> Exiting VELMORINE REPL.\n")
    assert done.returncode == 0


def test_a_line_of_exactly_1023_characters_and_its_line_feed(velm):
    # The line feed is left for the next read, which then sees an empty line.
    line = b'"' + b"b" * 1021 + b'"'
    done = velm.run("repl", input=line + b"\nstop\n")
    assert done.stdout == velm.text(BANNER + b"velm> " + b"b" * 1021 + b"\nvelm> velm> Exiting VELMORINE REPL.\n")
