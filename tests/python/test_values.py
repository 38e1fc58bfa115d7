"""Every property of both families against the scenario's values, None for what a device lacks,
and the snapshot and the table against what crvmon-smi prints for the same machine."""

import json
import os
import re
import subprocess
import sys

import pytest

import crvmon
from crvmon import CoreInfo, DriverType, ExtraPmicId, TargetType

GiB = 1 << 30

# Values read at initialisation, as scenario.toml sets them. The PCI subsystem vendor id is the
# firmware's major (bits 10-15) and minor (bits 0-9); firmware CRC and subsystem id are what the
# simulated cards derive and have no key of their own.
IDENTITY = {
    "3:0": dict(
        node="/dev/orvek0", driver_type=DriverType.ORVEK, vendor_id=0x1D9C, device_id=0x0200,
        sub_vendor_id=(1 << 10) | 2, pcie_gen=4, pcie_lanes=16, pcie_rev=1,
        pcie_class_code=0x120000, pcie_slot="0000:05:00.0", signal_type=0, chip_id=2,
        firmware_version="1.2.4", firmware_revision=3, on_device_driver_version=None,
        on_device_driver_revision=None, driver_version="1.8.2", driver_revision=0,
        memory_total=8 * GiB,
    ),
    "3:1": dict(
        node="/dev/orvek1", driver_type=DriverType.ORVEK, sub_vendor_id=(1 << 10) | 3,
        pcie_slot=None, firmware_version="1.3", firmware_crc=None, memory_total=32 * GiB,
        on_device_driver_version=None,
    ),
    "6:0": dict(
        node="/dev/veltara-usb0", driver_type=DriverType.VELTARA_USB, signal_type=1,
        on_device_driver_version="2.5.3", on_device_driver_revision=1, driver_version="2.5.0",
        driver_revision=0, memory_total=0x40000 * 4096,
    ),
    "5:0": dict(
        node="/dev/veltara-usb1", driver_type=DriverType.VELTARA_USB, signal_type=2,
        memory_total=0x80000 * 4096,
    ),
}

# Live values the device is asked for at each read.
TELEMETRY = {
    "3:0": dict(
        temperature=52, pcie_switch_temperature=43, npu_clock=1100, bus_clock=550, fan_duty=40,
        total_voltage=12.0, total_current=2.0, total_power=24.0, extra_pmic_id=ExtraPmicId.PMIC_0,
        extra_pmic_voltage=0.85, extra_pmic_current=8.2, extra_pmic_power=0.85 * 8.2,
        memory_usage=2 * GiB,
    ),
    "3:1": dict(memory_usage=None, total_utilization=None, core_infos=None, process_infos=None),
    "6:0": dict(temperature=47, npu_clock=900, memory_usage=0x11000 * 4096),
    "5:0": dict(temperature=41, npu_clock=700, memory_usage=0x8000 * 4096, process_infos=[]),
}

ORVEK_ONLY = [
    "vendor_id", "device_id", "sub_vendor_id", "sub_device_id", "pcie_gen", "pcie_lanes",
    "pcie_rev", "pcie_class_code", "pcie_slot", "chip_id", "firmware_version",
    "firmware_revision", "firmware_crc", "bus_clock", "pcie_switch_temperature", "fan_duty",
    "total_current", "total_power", "total_voltage", "extra_pmic_id", "extra_pmic_current",
    "extra_pmic_power", "extra_pmic_voltage",
]
VELTARA_ONLY = ["on_device_driver_version", "on_device_driver_revision"]


def expect(device, values):
    for name, wanted in values.items():
        got = getattr(device, name)
        if isinstance(wanted, float):
            # Readings are rounded to the power monitor's resolution.
            assert got == pytest.approx(wanted, rel=2e-3), name
        else:
            assert got == wanted, name
            assert type(got) is type(wanted), name


def test_devices_are_listed_orvek_first_with_their_family(machine):
    found = crvmon.devices()
    assert [(d.target, d.index, d.family) for d in found] == [
        (TargetType.ORVEK_PCIE, 0, "Orvek"),
        (TargetType.ORVEK_PCIE, 1, "Orvek"),
        (TargetType.VELTARA_USB_KIND0, 0, "Veltara"),
        (TargetType.VELTARA_USB_KIND1, 0, "Veltara"),
    ]
    assert crvmon.device_count() == 4


@pytest.mark.parametrize("device_id", sorted(IDENTITY))
def test_each_property_gives_the_scenarios_value(devices, device_id):
    device = devices[device_id]
    expect(device, IDENTITY[device_id])
    expect(device, TELEMETRY[device_id])
    other_family = VELTARA_ONLY if device.family == "Orvek" else ORVEK_ONLY
    for name in other_family:
        assert getattr(device, name) is None, name


def test_the_lists_carry_the_scenarios_load_and_processes(devices):
    cores = devices["3:0"].core_infos
    # Two clusters: the whole-cluster entry, then cores 1-4; every load of the card is 0.5, and
    # the library adds a cluster's own share to each of its cores.
    assert [(c.cluster, c.core) for c in cores] == [
        (cluster, core) for cluster in (0x10000, 0x20000) for core in (0xFFFE, 1, 2, 3, 4)
    ]
    for core in cores:
        assert isinstance(core, CoreInfo) and core.total_time == 1_000_000
        share = 50 if core.core == 0xFFFE else 100
        assert core.busy_percent == pytest.approx(share, abs=2)
    assert devices["3:0"].total_utilization == pytest.approx(100, abs=2)

    # 6:0: 4120 busy 35 ms of every 100 ms in two snapshot rows, 4188 busy 90 ms of 250 ms.
    processes = {p.pid: p for p in devices["6:0"].process_infos}
    assert sorted(processes) == [4120, 4188]
    assert (processes[4120].quantity, processes[4120].amount) == (5, 58_720_256)
    assert (processes[4188].quantity, processes[4188].amount) == (1, 16_777_216)
    assert processes[4120].busy_percent == pytest.approx(35, abs=4)
    assert processes[4188].busy_percent == pytest.approx(36, abs=10)
    (core,) = devices["6:0"].core_infos
    assert (core.cluster, core.core) == (0x10000, 1)
    assert devices["6:0"].total_utilization == pytest.approx(71, abs=12)
    assert devices["5:0"].total_utilization == 0.0


def test_the_extra_pmic_selection_changes_the_readings(devices):
    card = devices["3:0"]
    card.set_extra_pmic_id(ExtraPmicId.PMIC_2)
    try:
        expect(card, dict(extra_pmic_id=ExtraPmicId.PMIC_2, extra_pmic_voltage=1.2,
                          extra_pmic_current=3.0, extra_pmic_power=3.6))
    finally:
        card.set_extra_pmic_id(0)
    assert card.extra_pmic_id is ExtraPmicId.PMIC_0


def smi(*args):
    run = subprocess.run([os.environ["CRVMON_SMI"], *args], capture_output=True, text=True,
                         timeout=60)
    return run.stdout


def test_a_snapshot_is_what_crvmon_smi_prints_as_json(devices):
    printed = {d["id"]: d for d in json.loads(smi("-q", "all", "-f", "json"))}
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
        if words[1].isdigit():  # a process: device, pid, busy, window, share, ...
            return words[:2] + words[5:]
        return words[:-1]

    assert [steady(line) for line in ours[1:]] == [steady(line) for line in theirs[1:]]
