"""The executable written by `compile`, read by real PE readers and run."""
import os
import shutil
import subprocess

import pytest

pefile = pytest.importorskip("pefile")

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
OBJDUMP = shutil.which("x86_64-w64-mingw32-objdump")


@pytest.fixture
def exe(velm, tmp_path):
    (tmp_path / "a.velm").write_bytes(b"start\ndisplay \"hello\"\ncount i from 1 to 3\ndisplay i\nstop\nstop\n")
    done = velm.run("compile", "a.velm", "-o", "hello.exe", cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    return tmp_path / "hello.exe"


def test_pefile_sees_one_text_section_and_the_entry_point(exe):
    pe = pefile.PE(str(exe), fast_load=False)
    # The image is mostly padding by design; any other warning is a fault.
    assert [w for w in pe.get_warnings() if not w.startswith("Byte 0x00 makes up")] == []
    assert pe.FILE_HEADER.Machine == 0x8664
    assert pe.OPTIONAL_HEADER.Magic == 0x20B
    assert pe.OPTIONAL_HEADER.AddressOfEntryPoint == 0x1000
    assert pe.OPTIONAL_HEADER.ImageBase == 0x400000
    assert pe.OPTIONAL_HEADER.Subsystem == pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_CUI"]
    assert [s.Name for s in pe.sections] == [b".text\0\0\0"]
    text = pe.sections[0]
    assert (text.VirtualAddress, text.SizeOfRawData, text.PointerToRawData) == (0x1000, 0x200, 0x200)
    assert all(d.VirtualAddress == 0 and d.Size == 0 for d in pe.OPTIONAL_HEADER.DATA_DIRECTORY)
    assert pe.get_memory_mapped_image()[0x1000:0x1004] == bytes([0x48, 0x31, 0xC0, 0xC3])


@pytest.mark.skipif(OBJDUMP is None, reason="mingw objdump is not installed")
def test_objdump_reads_the_headers(exe):
    done = subprocess.run([OBJDUMP, "-h", "-f", str(exe)], capture_output=True, text=True, check=True)
    assert "file format pei-x86-64" in done.stdout
    assert "start address 0x0000000000401000" in done.stdout
    sections = [line.split() for line in done.stdout.splitlines() if line.strip()[:1].isdigit()]
    assert [(s[1], s[2], s[3]) for s in sections] == [(".text", "00000200", "0000000000401000")]


def test_the_image_does_not_depend_on_the_script(velm, tmp_path, exe):
    (tmp_path / "empty.velm").write_bytes(b"")
    (tmp_path / "bad.velm").write_bytes(b"display 1 plus\nstore 5 = 1\n")
    for script in ("empty.velm", "bad.velm"):
        assert velm.run("compile", script, "-o", script + ".exe", cwd=tmp_path).returncode == 0
        assert (tmp_path / (script + ".exe")).read_bytes() == exe.read_bytes()
    assert len(exe.read_bytes()) == 1024


@pytest.mark.parametrize("args, written", [
    (["a.velm"], "app.exe"),
    (["a.velm", "-o", "b.exe"], "b.exe"),
    (["a.velm", "x", "-o", "b.exe", "-o", "c.exe"], "b.exe"),
    (["a.velm", "-o"], "app.exe"),
])
def test_the_output_path_scan_writes_exactly_one_file(velm, tmp_path, args, written):
    (tmp_path / "a.velm").write_bytes(b"display 1\n")
    assert velm.run("compile", *args, cwd=tmp_path).returncode == 0
    assert sorted(os.listdir(tmp_path)) == sorted(["a.velm", written])


def test_the_written_executable_runs_under_wine_and_exits_0(exe):
    wine = shutil.which("wine")
    if wine is None:
        pytest.skip("wine is not installed")
    done = subprocess.run([os.path.join(ROOT, "scripts", "wine-run"), str(exe)], capture_output=True,
                          timeout=300)
    assert done.returncode == 0, done.stderr[-2000:]
