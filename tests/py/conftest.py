"""Shared options and helpers for the Python tests of the executable."""
import os
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import emulated  # noqa: E402


def pytest_addoption(parser):
    parser.addoption("--exe", required=True, help="path of the velmorine executable")
    parser.addoption("--lane", default="native", choices=["native", "windows"])
    parser.addoption("--emulator", default="", help="runner for the executable (wine)")
    parser.addoption("--build-dir", default="", help="the CMake build directory")


class Velm:
    """Runs the executable of the lane under test."""

    def __init__(self, config):
        self.exe = os.path.abspath(config.getoption("--exe"))
        self.lane = config.getoption("--lane")
        self.emulator = config.getoption("--emulator")
        self.build_dir = config.getoption("--build-dir")

    @property
    def windows(self):
        return self.lane == "windows"

    def command(self, *args):
        prefix = [self.emulator] if self.emulator else []
        return prefix + [self.exe] + [str(a) for a in args]

    def run(self, *args, cwd=None, input=b"", timeout=120, **kwargs):
        return self.run_command(self.command(*args), cwd=cwd, input=input, timeout=timeout, **kwargs)

    def run_command(self, command, **kwargs):
        """A command of the lane (the emulator's first, if any): a run that
        wine itself failed is run once more (tests/emulated.py)."""
        try:
            return emulated.run(command, bool(self.emulator), **kwargs)
        except emulated.WineFailure as failure:
            pytest.fail(str(failure))

    def text(self, data: bytes) -> bytes:
        """What the lane's console stream turns `data` into."""
        return data.replace(b"\n", b"\r\n") if self.windows else data


@pytest.fixture(scope="session")
def velm(request):
    return Velm(request.config)
