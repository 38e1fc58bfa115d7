"""Every property of both families with its declared type, and the snapshot (every value, None
for what a device lacks) and the table against what crvmon-smi prints for the same machine."""

import json
import os
import re
import subprocess
import sys
import typing

import pytest

import crvmon
from crvmon import Device, ExtraPmicId


def test_each_property_gives_its_declared_type(devices):
    # The values themselves are compared with crvmon-smi's below; here what JSON cannot tell
    # apart: an int from a float, an enum from its number.
    for device in devices.values():
        for name, member in vars(Device).items():
            if not isinstance(member, property):
                continue
            declared = typing.get_type_hints(member.fget)["return"]
            kinds = tuple(typing.get_origin(t) or t for t in typing.get_args(declared))
            assert isinstance(getattr(device, name), kinds or declared), (device.id, name)


def test_the_extra_pmic_selection_changes_the_readings(devices):
    card = devices["3:0"]
    card.set_extra_pmic_id(ExtraPmicId.PMIC_2)
    try:
        assert card.extra_pmic_id is ExtraPmicId.PMIC_2
        # Readings are rounded to the power monitor's resolution.
        readings = (card.extra_pmic_voltage, card.extra_pmic_current, card.extra_pmic_power)
        assert readings == pytest.approx((1.2, 3.0, 3.6), rel=2e-3)
    finally:
        card.set_extra_pmic_id(0)
    assert card.extra_pmic_id is ExtraPmicId.PMIC_0


def test_core_infos_are_decoded_and_power_readings_are_their_shortest_text(devices):
    card = devices["3:0"]
    infos = card.core_infos
    assert [(i.cluster_index, i.core_number, i.whole_cluster) for i in infos] == [
        (cluster, core, core is None) for cluster in (0, 1) for core in (None, 1, 2, 3, 4)
    ]
    assert (infos[0].cluster, infos[0].core, infos[6].cluster, infos[6].core) == (
        0x10000, 0xFFFE, 0x20000, 1)  # the library's codes stay
    assert [(r["cluster"], r["core"]) for r in card.snapshot()["cores"]] == [
        (i.cluster_index, i.core_number) for i in infos
    ]
    # A single-precision value widened to double prints 16 or 17 digits; its shortest, 9 at most.
    for reading in (card.total_voltage, card.total_current, card.total_power,
                    card.extra_pmic_voltage):
        assert len(repr(reading).replace("-", "").replace(".", "").strip("0")) <= 9, reading


def smi(*args):
    run = subprocess.run([os.environ["CRVMON_SMI"], *args], capture_output=True, text=True,
                         timeout=60)
    return run.stdout


def test_a_snapshot_is_what_crvmon_smi_prints_as_json(devices):
    printed = {d["id"]: d for d in json.loads(smi("-q", "all", "-f", "json"))}
    # Every device, of a known target type or not (the table test below checks their order).
    assert crvmon.device_count() == len(devices) == len(printed)
    for device_id, device in devices.items():
        ours, theirs = device.snapshot(), printed[device_id]
        assert list(ours) == list(theirs)
        assert re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z", ours["timestamp"])
        # The activity window moves between the two reads: its values are compared loosely.
        moving = {"timestamp", "utilization", "cores", "processes"}
        assert {k: v for k, v in ours.items() if k not in moving} == {
            k: v for k, v in theirs.items() if k not in moving
        }
        assert json.loads(json.dumps(ours)) == ours  # plain JSON types only
        if theirs["utilization"] is None:
            assert ours["utilization"] is None
        else:
            assert ours["utilization"] == pytest.approx(theirs["utilization"], abs=5)
        for key in ("cores", "processes"):
            if theirs[key] is None:
                assert ours[key] is None
                continue
            assert [sorted(r) for r in ours[key]] == [sorted(r) for r in theirs[key]]
            for mine, printed_row in zip(ours[key], theirs[key]):
                stable = {k: v for k, v in printed_row.items() if not k.startswith("busy")}
                assert {k: mine[k] for k in stable} == stable
                assert mine["busy_percent"] == pytest.approx(printed_row["busy_percent"], abs=5)


def test_python_m_crvmon_prints_the_tables_crvmon_smi_prints(machine):
    run = subprocess.run([sys.executable, "-m", "crvmon"], capture_output=True, text=True,
                         timeout=60)
    assert run.returncode == 0, run.stderr
    ours, theirs = run.stdout.splitlines(), smi().splitlines()
    assert len(ours) == len(theirs)
    assert ours[0].split("Drivers:")[1] == theirs[0].split("Drivers:")[1]
    assert ours[0].startswith("crvmon  ")

    def steady(line):
        # The load and the process times move between the two reads (and with them the widths
        # of their columns): everything else must be the same.
        words = line.split()
        if not words or not re.fullmatch(r"\d+:\d+", words[0]):
            return words
        if words[1].isdigit():  # a process: device, pid, name, busy, quantity, amount
            return words[:3] + words[4:]
        return words[:-1]

    assert [steady(line) for line in ours[1:]] == [steady(line) for line in theirs[1:]]
