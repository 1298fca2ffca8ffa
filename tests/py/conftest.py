"""Shared options and helpers for the Python tests of the executable."""
import os
import re
import subprocess

import pytest


def pytest_addoption(parser):
    parser.addoption("--exe", required=True, help="path of the velmorine executable")
    parser.addoption("--lane", default="native", choices=["native", "windows"])
    parser.addoption("--emulator", default="", help="runner for the executable (wine)")
    parser.addoption("--build-dir", default="", help="the CMake build directory")


# What wine itself says when it, not the program, fails (a lost server, a
# prefix it cannot set up): such a run is reported as wine's failure.
WINE_FAILURE = re.compile(rb"^(wine client error|wine: |wineserver: |Application could not be started)", re.M)


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
        done = subprocess.run(self.command(*args), cwd=cwd, input=input, capture_output=True,
                              timeout=timeout, **kwargs)
        if self.emulator and WINE_FAILURE.search(done.stderr):
            pytest.fail("wine failed, not the program:\n" + done.stderr.decode("utf-8", "replace"))
        return done

    def text(self, data: bytes) -> bytes:
        """What the lane's console stream turns `data` into."""
        return data.replace(b"\n", b"\r\n") if self.windows else data


@pytest.fixture(scope="session")
def velm(request):
    return Velm(request.config)
