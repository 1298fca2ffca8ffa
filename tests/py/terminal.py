"""A real terminal for the tests: tmux, typed into with send-keys and read
back with capture-pane.  Under wine a program started in it gets a console,
as on Windows."""
import subprocess
import time
import uuid

import pytest


class Terminal:
    """One tmux server of our own (its own socket), one window running a command."""

    def __init__(self, command, cwd):
        self.socket = "velm-" + uuid.uuid4().hex[:12]
        self.tmux("new-session", "-d", "-x", "100", "-y", "30", "-c", str(cwd),
                  " ".join(f"'{part}'" for part in command) + "; echo EXIT-CODE=$?; sleep 30")

    def tmux(self, *args):
        return subprocess.run(["tmux", "-L", self.socket, "-f", "/dev/null", *args],
                              capture_output=True, text=True, check=True).stdout

    def type(self, text):
        self.tmux("send-keys", "-l", text)
        self.tmux("send-keys", "Enter")

    def screen(self):
        lines = self.tmux("capture-pane", "-p").splitlines()
        while lines and not lines[-1].strip():
            lines.pop()
        return lines

    def wait_for(self, predicate, what, timeout=10):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            screen = self.screen()
            if predicate(screen):
                return screen
            time.sleep(0.05)
        pytest.fail(f"terminal never showed {what}:\n" + "\n".join(self.screen()))

    def close(self):
        subprocess.run(["tmux", "-L", self.socket, "kill-server"], capture_output=True)
