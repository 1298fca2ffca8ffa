"""How the driver takes in a script: pipes, oversized files, failing reads,
and running out of memory."""
import os
import shutil
import subprocess

import pytest


def sanitized(velm):
    """True for a build made with the address and undefined-behaviour sanitizers."""
    cache = os.path.join(velm.build_dir, "CMakeCache.txt")
    if not velm.build_dir or not os.path.exists(cache):
        return False
    with open(cache, encoding="utf-8", errors="replace") as f:
        return any(line.strip() == "VL_SANITIZE:BOOL=ON" for line in f)


native_only = pytest.mark.skipif("config.getoption('--lane') != 'native'", reason="POSIX paths and limits")


@native_only
def test_script_read_from_a_pipe(velm):
    # Far more than one read's worth, so the size-less path has to grow its buffer.
    body = b"".join(b"// filler line %d to make the script long\n" % i for i in range(20000))
    script = b'display "first"\n' + body + b"display 6 into 7\nstop\n"
    assert len(script) > 512 * 1024
    done = velm.run("/dev/stdin", input=script)
    assert done.stderr == b""
    assert done.stdout == b"first\n42\n"
    assert done.returncode == 0


@native_only
def test_empty_pipe_is_an_empty_script(velm):
    done = velm.run("/dev/stdin", input=b"")
    assert (done.returncode, done.stdout, done.stderr) == (0, b"", b"")


@native_only
def test_pipe_holding_a_syntax_error_at_its_end(velm):
    # The error sits past the first read: only a whole read reaches it.
    script = b"display 1\n" + b"// x\n" * 50000 + b"store = \n"
    done = velm.run("/dev/stdin", input=script)
    assert done.returncode == 1
    assert done.stdout == b""
    assert done.stderr.startswith(b"Syntax Error: ")


@pytest.mark.parametrize("size", [2**31, 2**32 + 16], ids=["2GiB", "4GiB+16"])
def test_files_of_2_gib_or_more_are_refused(velm, tmp_path, size):
    # Sparse: no disk space is used, and nothing may be read to find out.
    # 4 GiB + 16 would pass for a 16-byte file if its size were cut to 32 bits.
    big = tmp_path / "big.velm"
    with open(big, "wb") as f:
        f.truncate(size)
    done = velm.run("big.velm", cwd=tmp_path, timeout=60)
    assert done.stdout == b""
    assert done.stderr == velm.text(b"Error: File 'big.velm' is too large (2 GiB or more).\n")
    assert done.returncode == 1

    done = velm.run("compile", "big.velm", "-o", "out.exe", cwd=tmp_path, timeout=60)
    assert done.stderr == velm.text(b"Error: File 'big.velm' is too large (2 GiB or more).\n")
    assert done.returncode == 1
    assert not (tmp_path / "out.exe").exists()


@native_only
def test_a_read_that_fails_is_an_unreadable_script(velm):
    # Opening succeeds, reading fails (address 0 of the process is unmapped).
    done = velm.run("/proc/self/mem")
    assert done.stdout == b""
    assert done.stderr == b"Error: Could not open source file '/proc/self/mem'\n"
    assert done.returncode == 1


@native_only
def test_running_out_of_memory_is_a_clear_error(velm, tmp_path):
    if sanitized(velm):
        pytest.skip("the sanitizers reserve more address space than any useful limit")
    prlimit = shutil.which("prlimit")
    if not prlimit:
        pytest.skip("prlimit is not installed")
    # The source buffer fits under the limit; the arena copy of the 60 MB
    # string literal does not, so the arena itself has to refuse.
    literal = b"a" * (60 * 1024 * 1024)
    (tmp_path / "huge.velm").write_bytes(b'display "' + literal + b'"\nstop\n')
    done = subprocess.run([prlimit, "--as=%d" % (100 * 1024 * 1024), "--", velm.exe, "huge.velm"],
                          cwd=tmp_path, capture_output=True, timeout=60)
    assert done.stderr == b"Error: Out of memory.\n"
    assert done.stdout == b""
    assert done.returncode == 1

    # With room to spare the same script runs.
    done = subprocess.run([prlimit, "--as=%d" % (400 * 1024 * 1024), "--", velm.exe, "huge.velm"],
                          cwd=tmp_path, capture_output=True, timeout=60)
    assert done.returncode == 0, done.stderr
    assert done.stdout == literal + b"\n"


@native_only
@pytest.mark.parametrize("args", [["script.velm"], ["-v"], []], ids=["run", "version", "banner"])
def test_output_that_cannot_be_written_fails_the_command(velm, tmp_path, args):
    (tmp_path / "script.velm").write_text("display 1\n")
    with open("/dev/full", "wb") as full:
        done = subprocess.run(velm.command(*args), cwd=tmp_path, stdout=full, stderr=subprocess.PIPE, timeout=60)
    assert done.returncode == 1
    assert done.stderr == b"Error: Could not write to standard output.\n"
