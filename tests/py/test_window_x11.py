"""The native window of the Windows build on a real window system: wine on a
virtual X display (Xvfb).  An X11 tool finds the window by its UTF-8 title and
closes it the way a window manager's close button does."""
import os
import secrets
import shutil
import subprocess
import time

import pytest


@pytest.fixture(scope="module")
def x11(request):
    velm = request.getfixturevalue("velm")
    if not velm.windows:
        pytest.skip("the native build's window is headless; its unit tests cover it")
    for tool in ("Xvfb", "xdotool"):
        assert shutil.which(tool), "%s is missing (scripts/deps.sh test installs it)" % tool
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp", "-screen", "0",
                             "1024x768x24"], pass_fds=[write_end], stderr=subprocess.DEVNULL)
    os.close(write_end)
    number = b""
    while not number.endswith(b"\n"):
        chunk = os.read(read_end, 16)
        assert chunk, "Xvfb did not start"
        number += chunk
    os.close(read_end)
    # A prefix of our own: the shared one's wine server may run without a display.
    env = dict(os.environ, DISPLAY=":" + number.decode().strip(), WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=", WINEPREFIX=os.path.join(os.path.abspath(velm.build_dir),
                                                                         "wine-x11"))
    if not os.path.exists(os.path.join(env["WINEPREFIX"], "system.reg")):
        subprocess.run(["wineboot", "-i"], env=env, capture_output=True, timeout=300)
    yield env
    subprocess.run(["wineserver", "-k"], env=env, capture_output=True, timeout=60)
    xvfb.terminate()
    xvfb.wait(timeout=30)


def find_windows(env, title, timeout=90):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        found = subprocess.run(["xdotool", "search", "--name", title], env=env, capture_output=True)
        if found.stdout.split():
            return [int(w) for w in found.stdout.split()]
        time.sleep(0.3)
    pytest.fail("no X11 window is titled %r" % title)


def close_like_a_window_manager(env, window_ids, title):
    from Xlib import X, display, protocol

    screen = display.Display(env["DISPLAY"])
    try:
        protocols = screen.intern_atom("WM_PROTOCOLS")
        delete = screen.intern_atom("WM_DELETE_WINDOW")
        utf8 = screen.intern_atom("UTF8_STRING")
        closed = 0
        for window_id in window_ids:
            window = screen.create_resource_object("window", window_id)
            name = window.get_full_property(screen.intern_atom("_NET_WM_NAME"), utf8)
            if name is None or bytes(name.value) != title.encode():
                continue
            if delete not in (window.get_wm_protocols() or []):
                continue
            event = protocol.event.ClientMessage(window=window, client_type=protocols,
                                                 data=(32, [delete, X.CurrentTime, 0, 0, 0]))
            window.send_event(event, event_mask=X.NoEventMask)
            closed += 1
        screen.flush()
        return closed
    finally:
        screen.close()


def test_window_with_utf8_title_closes_and_returns_one(x11, velm, tmp_path):
    title = "Velmorine Fenêtre — 窓 ✓ " + secrets.token_hex(4)
    (tmp_path / "title.txt").write_bytes(title.encode())
    exe = os.path.join(velm.build_dir, "example_window.exe")
    proc = subprocess.Popen(["wine", exe, "@" + str(tmp_path / "title.txt"), "400", "300"], env=x11,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        windows = find_windows(x11, title)
        assert proc.poll() is None, "the window's loop ended before it was closed"
        assert close_like_a_window_manager(x11, windows, title) >= 1
        out, err = proc.communicate(timeout=60)
        assert (proc.returncode, out) == (1, b"")
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.communicate()


@pytest.mark.parametrize("program", ["test_services", "test_win32_subset"])
def test_window_unit_tests_run_against_win32(x11, velm, program):
    unit = os.path.join(velm.build_dir, "tests", program + ".exe")
    run = subprocess.run(["wine", unit], env=x11, capture_output=True, timeout=300)
    report = run.stdout.decode(errors="replace")
    assert run.returncode == 0, report
    assert "[  SKIPPED ]" not in report and "[  PASSED  ]" in report, report
