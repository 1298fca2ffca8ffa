"""Write failures made to really happen: a file size limit, a read-only
directory and a directory in the target's place.  Each must fail the command
with exit code 1 and leave what was there before intact."""
import os
import resource
import signal
import stat

import pytest

ORIGINAL_SCRIPT = b"start\n" + b"count i from 1 to 2\n" * 40 + b"display 1\n" + b"stop\n" * 40 + b"stop\n"


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


@pytest.fixture
def native(velm):
    if velm.windows:
        pytest.skip("resource limits and user switching apply to the native process")
    return velm


def test_fmt_under_a_file_size_limit_keeps_the_script(native, tmp_path):
    script = tmp_path / "deep.velm"
    script.write_bytes(ORIGINAL_SCRIPT)
    # Room for the original, not for its indented form.
    done = native.run("fmt", "deep.velm", cwd=tmp_path, preexec_fn=size_limit(len(ORIGINAL_SCRIPT) + 100))
    assert done.stdout == b"[vlfmt] Could not write file 'deep.velm'\n"
    assert done.returncode == 1
    assert script.read_bytes() == ORIGINAL_SCRIPT
    assert sorted(os.listdir(tmp_path)) == ["deep.velm"], "a temporary file stayed behind"
    # Without the limit the same file formats.
    assert native.run("fmt", "deep.velm", cwd=tmp_path).returncode == 0
    assert len(script.read_bytes()) > len(ORIGINAL_SCRIPT) + 100


def test_fmt_in_a_read_only_directory_keeps_the_script(native, tmp_path):
    folder = tmp_path / "ro"
    folder.mkdir()
    script = folder / "a.velm"
    script.write_bytes(b"start\ndisplay 1\nstop\n")
    os.chmod(script, 0o666)
    os.chmod(folder, stat.S_IRUSR | stat.S_IXUSR | stat.S_IRGRP | stat.S_IXGRP | stat.S_IROTH | stat.S_IXOTH)
    try:
        done = native.run("fmt", "a.velm", cwd=folder, preexec_fn=as_nobody())
    finally:
        os.chmod(folder, 0o755)
    assert done.stdout == b"[vlfmt] Could not write file 'a.velm'\n"
    assert done.returncode == 1
    assert script.read_bytes() == b"start\ndisplay 1\nstop\n"
    assert os.listdir(folder) == ["a.velm"]


def test_compile_under_a_file_size_limit_keeps_the_previous_executable(native, tmp_path):
    (tmp_path / "a.velm").write_bytes(b"display 1\n")
    previous = tmp_path / "app.exe"
    previous.write_bytes(b"previous build")
    done = native.run("compile", "a.velm", cwd=tmp_path, preexec_fn=size_limit(512))
    assert done.stderr == b"[VL-PE Linker] Failed to generate executable.\n"
    assert done.stdout == b""
    assert done.returncode == 1
    assert previous.read_bytes() == b"previous build"
    assert sorted(os.listdir(tmp_path)) == ["a.velm", "app.exe"]


def test_pkg_init_under_a_file_size_limit_keeps_the_manifest(native, tmp_path):
    manifest = tmp_path / "vlpackage.json"
    manifest.write_bytes(b'{"name": "kept"}\n')
    done = native.run("pkg", "init", "n" * 400, cwd=tmp_path, preexec_fn=size_limit(300))
    assert done.stderr == b"Error: Could not write file 'vlpackage.json'\n"
    assert done.stdout == b""
    assert done.returncode == 1
    assert manifest.read_bytes() == b'{"name": "kept"}\n'
    assert os.listdir(tmp_path) == ["vlpackage.json"]


def test_pkg_in_a_read_only_directory_fails(native, tmp_path):
    os.chmod(tmp_path, 0o555)
    try:
        init = native.run("pkg", "init", "demo", cwd=tmp_path, preexec_fn=as_nobody())
        install = native.run("pkg", "install", "x", cwd=tmp_path, preexec_fn=as_nobody())
    finally:
        os.chmod(tmp_path, 0o755)
    assert (init.stdout, init.stderr, init.returncode) == (
        b"", b"Error: Could not write file 'vlpackage.json'\n", 1)
    assert install.stderr == b"Error: Could not write file 'vlpackage.lock'\n"
    assert install.stdout.count(b"\n") == 3 and b"Updated" not in install.stdout
    assert install.returncode == 1
    assert os.listdir(tmp_path) == []


def test_fmt_of_a_directory_leaves_it_alone(velm, tmp_path):
    (tmp_path / "d.velm").mkdir()
    (tmp_path / "d.velm" / "inner").write_bytes(b"kept")
    done = velm.run("fmt", "d.velm", cwd=tmp_path)
    assert done.stdout == velm.text(b"[vlfmt] Could not open file 'd.velm'\n")
    assert done.returncode == 1
    assert (tmp_path / "d.velm" / "inner").read_bytes() == b"kept"
