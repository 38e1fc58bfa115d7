"""The wheels scripts/build-wheels.sh makes: named and tagged for the project's version and the
library's platform, carrying the library, and, installed into a fresh virtual environment as a
new user would, running the example of docs/python.md on the simulated machine."""

import os
import re
import subprocess
import sys
import zipfile
from pathlib import Path

import pytest

SOURCE = Path(os.environ.get("CRVMON_SOURCE_DIR", Path(__file__).resolve().parents[2]))
VERSION = os.environ.get("CRVMON_PROJECT_VERSION", "")


def build_wheel(library, out):
    run = subprocess.run([str(SOURCE / "scripts/build-wheels.sh"), "-o", str(out), library],
                         capture_output=True, text=True, timeout=300)
    assert run.returncode == 0, run.stderr
    (wheel,) = out.glob("*.whl")
    return wheel


def check_wheel(wheel, library, platform):
    assert wheel.name == f"crvmon-{VERSION}-py3-none-{platform}.whl"
    with zipfile.ZipFile(wheel) as archive:
        names = set(archive.namelist())
        info = f"crvmon-{VERSION}.dist-info/"
        assert f"Tag: py3-none-{platform}" in archive.read(info + "WHEEL").decode().splitlines()
        # Under the name the package loads it by, whatever version the build's file carries.
        bundled = "crvmon/" + ("crvmon.dll" if platform == "win_amd64" else "libcrvmon.so")
        assert archive.read(bundled) == Path(library).read_bytes()
        modules = {p.relative_to(SOURCE / "python").as_posix()
                   for p in (SOURCE / "python/crvmon").glob("*.py")}
        assert modules | {"crvmon/py.typed", bundled} <= names


@pytest.mark.skipif(not os.environ.get("CRVMON_DLL"), reason="no crvmon.dll in this build")
def test_the_windows_wheel_carries_crvmon_dll(tmp_path):
    dll = os.environ["CRVMON_DLL"]
    check_wheel(build_wheel(dll, tmp_path), dll, "win_amd64")


def manual_example():
    text = (SOURCE / "docs/python.md").read_text()
    return re.search(r"```python\n(.*?)```", text, re.S).group(1)


@pytest.mark.skipif(not os.environ.get("CRVMON_SIM"), reason="no Linux library in this build")
def test_the_linux_wheel_installed_in_a_fresh_venv_runs_the_manual_example(tmp_path, machine):
    library = os.environ["CRVMON_LIBRARY"]
    wheel = build_wheel(library, tmp_path / "dist")
    check_wheel(wheel, library, "linux_x86_64")

    # Only the copy in the wheel can be found: no CRVMON_LIBRARY, no source tree on the path,
    # also for pip, which would take a package found there (with its egg-info, left by a
    # `pip install ./python`) for one already installed.
    env = {k: v for k, v in os.environ.items()
           if k not in ("CRVMON_LIBRARY", "PYTHONPATH", "LD_LIBRARY_PATH")}
    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", str(venv)], check=True, timeout=120)
    python = venv / "bin/python"
    install = subprocess.run([str(python), "-m", "pip", "install", "--no-index", str(wheel)],
                             env=env, capture_output=True, text=True, timeout=120, cwd=tmp_path)
    assert install.returncode == 0, install.stdout + install.stderr

    where = subprocess.run([str(python), "-c", "import crvmon; print(crvmon.library_path())"],
                           env=env, capture_output=True, text=True, timeout=60, cwd=tmp_path)
    assert where.stdout.strip().startswith(str(venv)), where.stdout + where.stderr
    example = subprocess.run([str(python), "-c", manual_example()], env=env,
                             capture_output=True, text=True, timeout=60, cwd=tmp_path)
    assert example.returncode == 0, example.stderr
    lines = example.stdout.splitlines()
    assert lines[0].startswith("3:0 Orvek /dev/orvek0 52 C 24.0 W 2147483648 B ")
    assert lines[1] == "3:1 Orvek /dev/orvek1 45 C 24.0 W N/A N/A"
    assert "\n6:0 Veltara /dev/veltara-usb0 47 C N/A 285212672 B " in example.stdout
    assert re.search(r"^  process 4188 .+ 3\d\.\d% 16777216$", example.stdout, re.M)


def test_a_file_that_is_no_library_makes_no_wheel(tmp_path):
    run = subprocess.run([str(SOURCE / "scripts/build-wheels.sh"), "-o", str(tmp_path),
                          sys.executable], capture_output=True, text=True, timeout=60)
    assert run.returncode != 0 and "is no x86-64 libcrvmon.so or crvmon.dll" in run.stderr
    assert not list(tmp_path.glob("*.whl"))
