"""Failures as exceptions with the library's status, and the record lists read again when they
grow between the count and the read."""

import os
import subprocess
import sys

import pytest

import crvmon
from crvmon import CrvmonError, Device, Status, TargetType
from crvmon import _library


def raises_status(status, read):
    with pytest.raises(CrvmonError) as caught:
        read()
    assert caught.value.status is status
    assert caught.value.text == crvmon.status_text(status)
    return caught.value


def python(env, *arguments):
    return subprocess.run([sys.executable, *arguments], env=env, capture_output=True, text=True,
                          timeout=120)


def test_addressing_errors_carry_the_librarys_status(devices):
    error = raises_status(Status.TARGET_NOT_FOUND, lambda: Device(TargetType.VELTARA, 0).temperature)
    assert "2:0" in str(error) and "crvmonGetTemperature" in str(error)
    raises_status(Status.INVALID_ARGUMENT, lambda: Device(TargetType.ORVEK_PCIE, 2).vendor_id)
    raises_status(Status.INVALID_ARGUMENT, lambda: Device(TargetType.ORVEK_PCIE, -1).process_infos)
    raises_status(Status.NOT_SUPPORTED, lambda: devices["6:0"].set_extra_pmic_id(1))
    with pytest.raises(ValueError):
        Device(7, 0)
    with pytest.raises(ValueError):  # refused before the library keeps its low two bits
        devices["3:0"].set_extra_pmic_id(5)
    assert devices["3:0"].extra_pmic_id == 0


def test_after_shutdown_every_read_says_not_initialised(devices):
    card = devices["3:0"]
    crvmon.shutdown()
    try:
        raises_status(Status.NOT_INITIALIZED, lambda: card.temperature)
        raises_status(Status.NOT_INITIALIZED, lambda: card.core_infos)
        raises_status(Status.NOT_INITIALIZED, crvmon.devices)
    finally:
        crvmon.init()
    assert card.temperature == 52
    # No device of a driver type is "not provided", not a failure.
    assert crvmon.driver_version(crvmon.DriverType.VELTARA_NPU) is None
    assert crvmon.driver_revision(crvmon.DriverType.VELTARA_NPU) is None


class Growing:
    """Stands in front of the library's record getter and changes the count its size query
    answers by `change`, as if the list had changed between the two calls."""

    def __init__(self, real, change, rounds=1):
        self.real, self.change, self.rounds, self.calls = real, change, rounds, 0

    def __call__(self, target, index, infos, count):
        self.calls += 1
        status = self.real(target, index, infos, count)
        if infos is None and status == 0 and self.rounds > 0:
            self.rounds -= 1
            count.value = max(count.value + self.change, 1)
        return status


@pytest.fixture
def functions(machine):
    return _library.library().functions


def test_a_list_that_grew_after_the_count_is_read_again(devices, functions, monkeypatch):
    card, veltara = devices["3:0"], devices["6:0"]
    expected = veltara.process_infos
    getter = Growing(functions["crvmonGetProcessInfos"], change=-1)
    monkeypatch.setitem(functions, "crvmonGetProcessInfos", getter)
    assert [p.pid for p in veltara.process_infos] == [p.pid for p in expected]
    assert getter.calls == 4  # the short read failed, the second round succeeded

    cores = Growing(functions["crvmonGetCoreInfos"], change=-3, rounds=1000)
    monkeypatch.setitem(functions, "crvmonGetCoreInfos", cores)
    raises_status(Status.BUFFER_TOO_SMALL, lambda: card.core_infos)
    assert cores.calls < 100  # gives up


def test_a_list_that_shrank_after_the_count_gives_only_its_records(devices, functions, monkeypatch):
    getter = Growing(functions["crvmonGetCoreInfos"], change=+5)
    monkeypatch.setitem(functions, "crvmonGetCoreInfos", getter)
    cores = devices["3:0"].core_infos
    assert len(cores) == 10 and all(c.total_time == 1_000_000 for c in cores)


def test_no_device_at_all_is_a_clear_failure(tmp_path):
    # An empty object root: no driver, no host service.
    env = dict(os.environ, CRVMON_OBJECT_ROOT=str(tmp_path))
    script = "import crvmon\ntry:\n crvmon.init()\nexcept crvmon.CrvmonError as e:\n print(e.status.name)"
    run = python(env, "-c", script)
    assert run.stdout == "NOT_INITIALIZED\n", run.stderr
    table = python(env, "-m", "crvmon")
    assert (table.returncode, table.stdout) == (3, "")
    assert "no device found (library not initialised)" in table.stderr


@pytest.mark.parametrize(
    "library, message",
    [
        ("/nowhere/libcrvmon.so", "CRVMON_LIBRARY=/nowhere/libcrvmon.so"),
        ("libm.so.6", "libm.so.6 is no crvmon library this binding can use: it lacks crvmonInit"),
        (None, "libcrvmon.so on the system's search path"),
    ],
)
def test_a_library_that_cannot_be_used_names_what_was_tried(library, message):
    env = {k: v for k, v in os.environ.items() if k not in ("CRVMON_LIBRARY", "LD_LIBRARY_PATH")}
    if library:
        env["CRVMON_LIBRARY"] = library
    script = (
        "import crvmon\n"
        "try:\n crvmon.devices()\n"
        "except crvmon.LibraryNotFound as e:\n print(e)\n"
    )
    run = python(env, "-c", script)
    assert message in run.stdout, run.stdout + run.stderr
    if library is None:
        assert "CRVMON_LIBRARY (not set)" in run.stdout
        assert "this package ships no library" in run.stdout
        table = python(env, "-m", "crvmon")
        assert table.returncode == 1 and "tried:" in table.stderr
