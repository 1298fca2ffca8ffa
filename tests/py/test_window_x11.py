"""The native window on a real window system: a virtual X display (Xvfb),
with the Linux build's X11 window or the Windows build under wine.  An X11
tool finds the window by its UTF-8 title and closes it the way a window
manager's close button does."""
import os
import secrets
import select
import shutil
import subprocess
import time

import pytest


def start_xvfb():
    """A new Xvfb on a free display: (process, environment naming it)."""
    for tool in ("Xvfb", "xdotool"):
        assert shutil.which(tool), "%s is missing (scripts/deps.sh test installs it)" % tool
    read_end, write_end = os.pipe()
    # -noreset: a server that resets whenever its last client leaves refuses
    # connections meanwhile, which would fail a window opened just then.
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-noreset", "-nolisten", "tcp", "-screen", "0",
                             "1024x768x24"], pass_fds=[write_end], stderr=subprocess.DEVNULL)
    os.close(write_end)
    number = b""
    while not number.endswith(b"\n"):
        chunk = os.read(read_end, 16)
        assert chunk, "Xvfb did not start"
        number += chunk
    os.close(read_end)
    return xvfb, dict(os.environ, DISPLAY=":" + number.decode().strip())


@pytest.fixture(scope="module")
def x11(velm):
    xvfb, env = start_xvfb()
    if velm.windows:
        # A prefix of our own: the shared one's wine server may run without a display.
        env.update(WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=",
                   WINEPREFIX=os.path.join(os.path.abspath(velm.build_dir), "wine-x11"))
        if not os.path.exists(os.path.join(env["WINEPREFIX"], "system.reg")):
            subprocess.run(["wineboot", "-i"], env=env, capture_output=True, timeout=300)
    yield env
    if velm.windows:
        subprocess.run(["wineserver", "-k"], env=env, capture_output=True, timeout=60)
    xvfb.terminate()
    xvfb.wait(timeout=30)


def example_window(velm, *args):
    if velm.windows:
        return ["wine", os.path.join(velm.build_dir, "example_window.exe")] + list(args)
    return [os.path.join(velm.build_dir, "example_window")] + list(args)


def find_windows(env, title, proc, timeout=90):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        assert proc.poll() is None, "the window's loop ended before it was closed"
        found = subprocess.run(["xdotool", "search", "--name", title], env=env, capture_output=True)
        if found.stdout.split():
            return [int(w) for w in found.stdout.split()]
        time.sleep(0.3)
    pytest.fail("no X11 window is titled %r" % title)


def close_like_a_window_manager(env, window_ids, title, timeout=60):
    """Sends WM_DELETE_WINDOW to the windows with `title` that accept it and
    waits until they are destroyed; how many there were."""
    from Xlib import X, display, protocol

    screen = display.Display(env["DISPLAY"])
    try:
        protocols = screen.intern_atom("WM_PROTOCOLS")
        delete = screen.intern_atom("WM_DELETE_WINDOW")
        utf8 = screen.intern_atom("UTF8_STRING")
        closing = set()
        for window_id in window_ids:
            window = screen.create_resource_object("window", window_id)
            name = window.get_full_property(screen.intern_atom("_NET_WM_NAME"), utf8)
            if name is None or bytes(name.value) != title.encode():
                continue
            if delete not in (window.get_wm_protocols() or []):
                continue
            window.change_attributes(event_mask=X.StructureNotifyMask)
            event = protocol.event.ClientMessage(window=window, client_type=protocols,
                                                 data=(32, [delete, X.CurrentTime, 0, 0, 0]))
            window.send_event(event, event_mask=X.NoEventMask)
            closing.add(window_id)
        screen.flush()
        closed = len(closing)
        deadline = time.monotonic() + timeout
        while closing and time.monotonic() < deadline:
            while screen.pending_events():
                event = screen.next_event()
                if event.type == X.DestroyNotify:
                    closing.discard(event.window.id)
            select.select([screen.fileno()], [], [], 0.2)
        assert not closing, "a closed window was not destroyed"
        return closed
    finally:
        screen.close()


def run_windows(velm, env, tmp_path, size, count):
    """Opens `count` windows one after the other with a UTF-8 title, closes
    each once it is shown, and returns the exit code and output."""
    title = "Velmorine Fenêtre — 窓 ✓ " + secrets.token_hex(4)
    (tmp_path / "title.txt").write_bytes(title.encode())
    proc = subprocess.Popen(example_window(velm, "@" + str(tmp_path / "title.txt"), *size, str(count)), env=env,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        for _ in range(count):
            windows = find_windows(env, title, proc)
            assert close_like_a_window_manager(env, windows, title) >= 1
        out, err = proc.communicate(timeout=60)
        return proc.returncode, out, err
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.communicate()


def test_windows_with_utf8_title_close_and_return_one(x11, velm, tmp_path):
    assert run_windows(velm, x11, tmp_path, ("400", "300"), 2) == (1, b"", b"")


def test_sizes_below_one_pixel_still_open_a_window(x11, velm, tmp_path):
    if velm.windows:
        pytest.skip("Win32 sizes windows itself")
    assert run_windows(velm, x11, tmp_path, ("0", "-5"), 1) == (1, b"", b"")


def test_without_display_no_window_opens(velm):
    if velm.windows:
        pytest.skip("wine without a display is not a Windows machine without one")
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    run = subprocess.run(example_window(velm, "no display"), env=env, capture_output=True, timeout=30)
    assert (run.returncode, run.stdout, run.stderr) == (0, b"", b"")


def test_window_destroyed_by_another_client_ends_the_call_with_one(x11, velm):
    if velm.windows:
        pytest.skip("wine keeps its own books on its X windows")
    from Xlib import display

    title = "destroyed " + secrets.token_hex(4)
    proc = subprocess.Popen(example_window(velm, title), env=x11, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        (window_id,) = find_windows(x11, title, proc)
        screen = display.Display(x11["DISPLAY"])
        screen.create_resource_object("window", window_id).destroy()
        screen.sync()  # closing alone may drop the request unsent
        screen.close()
        assert proc.communicate(timeout=60) == (b"", b"") and proc.returncode == 1
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.communicate()


def test_lost_x_server_ends_the_call_with_zero(velm, tmp_path):
    if velm.windows:
        pytest.skip("wine's own connection to the X server is not ours")
    xvfb, env = start_xvfb()
    title = "doomed " + secrets.token_hex(4)
    proc = subprocess.Popen(example_window(velm, title), env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        find_windows(env, title, proc)
        xvfb.kill()
        out, err = proc.communicate(timeout=60)
        assert (proc.returncode, out, err) == (0, b"", b"")
    finally:
        for process in (proc, xvfb):
            if process.poll() is None:
                process.kill()
            process.wait(timeout=30)


def test_window_unit_tests_run_against_win32(x11, velm):
    if not velm.windows:
        pytest.skip("Win32 window tests belong to the Windows build")
    unit = os.path.join(velm.build_dir, "tests", "test_services.exe")
    run = subprocess.run(["wine", unit], env=x11, capture_output=True, timeout=300)
    report = run.stdout.decode(errors="replace")
    assert run.returncode == 0, report
    assert "[  SKIPPED ]" not in report and "[  PASSED  ]" in report, report
