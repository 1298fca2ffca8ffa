"""Running the Windows build under wine for the test runners.

Wine itself sometimes fails to run a program: it loses its server ("wine
client error"), cannot start the program ("Application could not be
started"), or ends the process with status 1 before the program has printed
anything at all, which the program never does (every path of velmorine and
velmorine-dis that ends with status 1 prints why first).  Such a run says
nothing about the program, so it is reported and run once more; a second
failure of wine fails the test as wine's.  Every other outcome, right or
wrong, is the program's and is returned as it is.
"""
import re
import subprocess
import sys

WINE_FAILURE = re.compile(rb"^(wine client error|wine: |wineserver: |Application could not be started)", re.M)


class WineFailure(Exception):
    pass


def wine_failure(done):
    """Why `done` is wine's failure rather than the program's outcome, or None."""
    for said in (done.stderr or b"", done.stdout or b""):
        if WINE_FAILURE.search(said):
            return "wine said: " + said.decode("utf-8", "replace").strip()
    if done.returncode == 1 and not done.stdout and not done.stderr:
        return "status 1 and no output at all"
    return None


def run(command, emulated, **kwargs):
    """subprocess.run(command, capture_output=True, **kwargs), run again once
    when wine failed; raises WineFailure when it failed twice."""
    for attempt in (1, 2):
        done = subprocess.run(command, capture_output=True, **kwargs)
        why = wine_failure(done) if emulated else None
        if why is None:
            return done
        print(f"wine did not run {command[1:]} ({why}); attempt {attempt} of 2", file=sys.stderr)
    raise WineFailure(f"wine failed twice, not the program: {why}")
