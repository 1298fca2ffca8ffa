"""Write failures made to really happen, for every command that writes a file
(fmt, compile, pkg init, pkg install): a read-only directory, a file size
limit, a full device, a directory in the target's place, a target that was
removed, and standard output closed or full.  Each must end with its error
and exit code 1 and leave what was there before intact, with no temporary
file behind.  Also: the order in which a rewrite reaches the disk."""
import copy
import os
import re
import resource
import shutil
import signal
import stat
import subprocess
import tempfile

import pytest

ORIGINAL_SCRIPT = b"start\n" + b"count i from 1 to 2\n" * 40 + b"display 1\n" + b"stop\n" * 40 + b"stop\n"
PKG_ERROR = b"Error: Could not write file '%s'\n"
INSTALL_LINES = (b"[VLPKG] Fetching package 'x' from official VELMORINE registry...\n"
                 b"[VLPKG] Resolving dependency graph for 'x' v1.0.0 ... OK\n"
                 b"[VLPKG] Installed 'x' successfully!\n")

# name: (arguments, the file written, what it held before, (stdout, stderr) when it cannot be written,
#        a size limit below the new contents)
COMMANDS = {
    "fmt": (["fmt", "a.velm"], "a.velm", ORIGINAL_SCRIPT,
            (b"[vlfmt] Could not write file 'a.velm'\n", b""), len(ORIGINAL_SCRIPT) + 100),
    "compile": (["compile", "a.velm"], "app.exe", b"previous build",
                (b"", b"[VL-PE Linker] Failed to generate executable.\n"), 512),
    "pkg init": (["pkg", "init", "n" * 400], "vlpackage.json", b'{"name": "kept"}\n',
                 (b"", PKG_ERROR % b"vlpackage.json"), 300),
    "pkg install": (["pkg", "install", "x"], "vlpackage.lock", b"{}\n",
                    (INSTALL_LINES, PKG_ERROR % b"vlpackage.lock"), 100),
}


def size_limit(limit):
    """A child that may not write files larger than `limit` bytes.  The
    signal is ignored so that the write fails with an error instead."""
    def apply():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, resource.RLIM_INFINITY))
    return apply


def as_nobody():
    """Root ignores directory permissions; the child drops to nobody so that
    a read-only directory really refuses it."""
    if os.geteuid() != 0:
        return None
    def apply():
        os.setgid(65534)
        os.setuid(65534)
    return apply


@pytest.fixture(scope="session")
def nobody_velm(velm):
    """The executable copied where nobody may run it: a build under /root,
    say, is out of its reach."""
    folder = tempfile.mkdtemp(prefix="velm-nobody-")
    os.chmod(folder, 0o755)
    runner = copy.copy(velm)
    runner.exe = shutil.copy2(velm.exe, folder)
    os.chmod(runner.exe, 0o755)
    yield runner
    shutil.rmtree(folder, ignore_errors=True)


def project(folder, command):
    """A fresh directory holding the script and the command's previous file."""
    args, target, before, _, _ = COMMANDS[command]
    folder.mkdir()
    (folder / "a.velm").write_bytes(ORIGINAL_SCRIPT)
    (folder / target).write_bytes(before)
    return args, target, before


def listing(folder):
    return sorted(os.listdir(folder))


@pytest.fixture
def native(velm):
    if velm.windows:
        pytest.skip("resource limits, devices and user switching apply to the native process")
    return velm


def full_device(folder, name):
    """`name` becomes a symbolic link to a full device.  Root could replace
    /dev/full itself, so root gets a device node of its own for the test: a
    rewrite that wrongly replaced the device could only harm that copy."""
    if os.geteuid() == 0:
        os.mknod(folder / "full", 0o666 | stat.S_IFCHR, os.makedev(1, 7))
    else:
        os.symlink("/dev/full", folder / "full")
    os.remove(folder / name)
    os.symlink("full", folder / name)


FAULTS = ["read-only directory", "file size limit", "full device", "directory in its place", "target removed"]


@pytest.mark.parametrize("fault", FAULTS)
@pytest.mark.parametrize("command", COMMANDS)
def test_a_write_that_cannot_happen_fails_and_keeps_the_previous_file(velm, nobody_velm, tmp_path, command, fault):
    if velm.windows and fault != "directory in its place":
        pytest.skip("resource limits, devices, links and user switching apply to the native process")
    folder = tmp_path / "p"
    args, target, before = project(folder, command)
    out, err = COMMANDS[command][3]
    preexec = None
    runner = velm
    if fault == "read-only directory":
        os.chmod(folder, 0o555)
        preexec = as_nobody()
        runner = nobody_velm
    elif fault == "file size limit":
        preexec = size_limit(COMMANDS[command][4])
    elif fault == "full device":
        if command == "fmt":
            pytest.skip("fmt would read the device as its script; its output to a full device is tested below")
        full_device(folder, target)
    elif fault == "directory in its place":
        os.remove(folder / target)
        (folder / target).mkdir()
        (folder / target / "inner").write_bytes(before)
        if command == "fmt":
            out = b"[vlfmt] Could not open file 'a.velm'\n"
    elif fault == "target removed":
        # A link whose file is gone: nothing may appear in its place.
        os.remove(folder / target)
        os.symlink("gone", folder / target)
        if command == "fmt":
            out = b"[vlfmt] Could not open file 'a.velm'\n"
    before_listing = listing(folder)
    try:
        done = runner.run(*args, cwd=folder, preexec_fn=preexec)
    finally:
        os.chmod(folder, 0o755)
    assert (done.stdout, done.stderr, done.returncode) == (velm.text(out), velm.text(err), 1)
    assert listing(folder) == before_listing, "a temporary file stayed behind or a file appeared"
    path = folder / target
    if fault == "directory in its place":
        assert (path / "inner").read_bytes() == before
    elif fault == "target removed":
        assert os.readlink(path) == "gone" and not (folder / "gone").exists()
    elif fault == "full device":
        assert stat.S_ISCHR(os.stat(folder / "full").st_mode), "the device was replaced by a file"
    else:
        assert path.read_bytes() == before


@pytest.mark.parametrize("stdout", ["closed", "full"])
@pytest.mark.parametrize("command", COMMANDS)
def test_standard_output_that_fails_fails_the_command_after_a_whole_write(native, tmp_path, command, stdout):
    normal = tmp_path / "normal"
    args, target, _ = project(normal, command)
    assert native.run(*args, cwd=normal).returncode == 0
    folder = tmp_path / "p"
    project(folder, command)
    shell = '"$@" >&-' if stdout == "closed" else '"$@" > /dev/full'
    done = subprocess.run(["sh", "-c", shell, "sh"] + native.command(*args), cwd=folder, capture_output=True,
                          timeout=60)
    assert done.stderr.endswith(b"Error: Could not write to standard output.\n")
    assert done.returncode == 1
    # The file itself was written whole; only the report of it was lost.
    assert (folder / target).read_bytes() == (normal / target).read_bytes()
    assert listing(folder) == listing(normal)


def fifo_script(native, folder, args, replace_with):
    """Runs `args` on a script that arrives through a named pipe.  Before the
    pipe is closed (so before the command can get past its read) the script
    is removed, or replaced by another file: a deterministic "changed while
    the command ran", with no race."""
    os.mkfifo(folder / "a.velm")
    child = subprocess.Popen(native.command(*args), cwd=folder, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    with open(folder / "a.velm", "wb") as pipe:  # waits for the command to open it
        pipe.write(ORIGINAL_SCRIPT)
        os.remove(folder / "a.velm")
        if replace_with is not None:
            (folder / "a.velm").write_bytes(replace_with)
    out, err = child.communicate(timeout=60)
    return out, err, child.returncode


@pytest.mark.parametrize("replace_with", [None, b"saved by another program\n"], ids=["removed", "replaced"])
def test_fmt_of_a_script_that_changes_while_it_is_read_writes_nothing(native, tmp_path, replace_with):
    out, err, code = fifo_script(native, tmp_path, ["fmt", "a.velm"], replace_with)
    assert (out, err, code) == (b"[vlfmt] Could not write file 'a.velm': it changed while it was formatted.\n",
                                b"", 1)
    if replace_with is None:
        assert listing(tmp_path) == []
    else:
        assert listing(tmp_path) == ["a.velm"]
        assert (tmp_path / "a.velm").read_bytes() == replace_with


def test_compile_of_a_script_removed_while_it_is_read_still_writes_the_image(native, tmp_path):
    # The image does not depend on the script: the read was whole, so this is a success.
    out, err, code = fifo_script(native, tmp_path, ["compile", "a.velm"], None)
    assert (out, err, code) == (b"[VL-PE Linker] Compiled 'a.velm' into standalone binary: app.exe\n", b"", 0)
    assert listing(tmp_path) == ["app.exe"] and (tmp_path / "app.exe").stat().st_size == 1024


def test_compile_to_a_device_writes_through_it(native, tmp_path):
    # Replacing /dev/null with a regular file would break the whole system.
    if os.geteuid() != 0:
        pytest.skip("making a device node needs root")
    (tmp_path / "a.velm").write_bytes(b"display 1\n")
    os.mknod(tmp_path / "null", 0o666 | stat.S_IFCHR, os.makedev(1, 3))
    done = native.run("compile", "a.velm", "-o", "null", cwd=tmp_path)
    assert (done.stderr, done.returncode) == (b"", 0)
    assert stat.S_ISCHR(os.stat(tmp_path / "null").st_mode)
    assert listing(tmp_path) == ["a.velm", "null"]


STRACE = shutil.which("strace")


# LeakSanitizer (the asan lane) cannot run under a tracer; the other lanes ignore this.
TRACED_ENV = dict(os.environ, ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":detect_leaks=0")


def result(call):
    """What a traced call returned."""
    return re.search(r"= (\d+)$", call).group(1)
DURABLE_CALLS = "openat,write,fsync,fdatasync,rename,renameat,renameat2,close"


@pytest.mark.skipif(not STRACE, reason="strace is not installed")
@pytest.mark.parametrize("command", COMMANDS)
def test_a_rewrite_reaches_the_disk_before_and_after_its_rename(native, tmp_path, command):
    folder = tmp_path / "p"
    args, target, _ = project(folder, command)
    log = tmp_path / "calls"
    done = subprocess.run([STRACE, "-qq", "-e", f"trace={DURABLE_CALLS}", "-o", str(log)] + native.command(*args),
                          cwd=folder, capture_output=True, timeout=60, env=TRACED_ENV)
    assert done.returncode == 0, done.stderr
    calls = [re.sub(r"\)\s+= ", ") = ", c) for c in log.read_text().splitlines()]
    # The calls for the target's temporary file, in order: written, flushed,
    # closed, renamed over the target, and then the directory flushed.
    opened = next(i for i, c in enumerate(calls) if f'"{target}.vltmp' in c and c.startswith("openat"))
    fd = result(calls[opened])
    rename = next(i for i, c in enumerate(calls) if c.startswith("rename") and f'"{target}"' in c)
    between = calls[opened + 1:rename]
    sync = next(i for i, c in enumerate(between) if c == f"fsync({fd}) = 0")
    close = between.index(f"close({fd}) = 0")
    assert any(c.startswith(f"write({fd},") for c in between[:sync])
    assert sync < close
    directory = calls[rename + 1]
    assert directory.startswith('openat(AT_FDCWD, ".", O_RDONLY') and "O_DIRECTORY" in directory
    assert calls[rename + 2] == f"fsync({result(directory)}) = 0"


@pytest.mark.skipif(not STRACE, reason="strace is not installed")
@pytest.mark.parametrize("command", ["fmt", "compile"])
def test_a_flush_that_fails_fails_the_rewrite(native, tmp_path, command):
    folder = tmp_path / "p"
    args, target, before = project(folder, command)
    out, err = COMMANDS[command][3]
    # The first fsync is the temporary file's: the system reports an I/O error.
    done = subprocess.run([STRACE, "-qq", "-o", "/dev/null", "-e", "trace=fsync", "-e", "inject=fsync:error=EIO:when=1"]
                          + native.command(*args), cwd=folder, capture_output=True, timeout=60, env=TRACED_ENV)
    assert (done.stdout, done.stderr, done.returncode) == (out, err, 1)
    assert (folder / target).read_bytes() == before
    assert listing(folder) == sorted({"a.velm", target})
