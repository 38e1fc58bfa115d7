"""crvmon-smi run as a user runs it, against simulated machines: what it prints, in each format,
read back by a CSV reader and a JSON parser, and how it ends. CTest names the program in
CRVMON_SMI and, under Wine, the command that runs it in CRVMON_EMULATOR."""

import csv
import json
import os
import shlex
import subprocess
from pathlib import Path

import pytest

EMULATOR = shlex.split(os.environ.get("CRVMON_EMULATOR", ""))
# The Windows program sees this machine's files on drive Z:.
DRIVE = "Z:" if EMULATOR else ""
SCENARIOS = Path(__file__).resolve().parent / "scenarios"


class Run:
    def __init__(self, arguments):
        # Bytes, not text: newline translation would hide a stray carriage return.
        done = subprocess.run(EMULATOR + [os.environ["CRVMON_SMI"], *arguments],
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
        self.code = done.returncode
        self.out, self.err = (out.decode("utf-8", "replace") for out in (done.stdout, done.stderr))
        if EMULATOR:  # a Windows program ends its lines with CR LF, as Windows readers expect
            self.out, self.err = self.out.replace("\r\n", "\n"), self.err.replace("\r\n", "\n")


def smi(*arguments, machine="two_families.toml"):
    """crvmon-smi on a scenario of tests/tools/smi/scenarios (None: the arguments alone)."""
    scenario = ["--scenario", f"{DRIVE}{SCENARIOS / machine}"] if machine else []
    return Run(scenario + list(arguments))


def row(table, device):
    """The words of the first line of a table that starts with the device's id."""
    return next((line.split() for line in table.splitlines() if line.split()[:1] == [device]),
                [])


def test_default_tables_show_telemetry_and_processes_within_eighty_columns():
    run = smi()
    assert run.code == 0, run.err
    assert all(len(line) <= 80 for line in run.out.splitlines()), run.out
    assert "Drivers: Orvek 1.8.2, Veltara USB 2.5.0" in run.out
    # ID Family Node Temp Power NPU-clock Fan Memory Util
    card = row(run.out, "3:0")
    assert card[:2] + card[3:] == ["3:0", "Orvek", "61C", "31.5W", "1250MHz", "40%",
                                   "4096/16384", "100.0%"]
    assert card[2].endswith("orvek0")
    # No power reading on Veltara devices, nor a fan; the load moves with the activity window.
    device = row(run.out, "6:0")
    assert device[:2] + device[3:8] == ["6:0", "Veltara", "52C", "N/A", "900MHz", "N/A",
                                        "272/1024"] and len(device) == 9
    assert not any(word.startswith("-1") for word in run.out.split())

    # The process table: the two rows of pid 4120 summed and named by the scenario's row that
    # names it, pid 4188 idle under the default name; the busy share, not the raw ticks.
    processes = [line.split() for line in run.out.splitlines()
                 if line.split()[:1] == ["6:0"] and len(line.split()) == 6]
    assert len(processes) == 2, run.out
    assert processes[0][:3] + processes[0][4:] == ["6:0", "4120", "trainer", "5", "58720256"]
    assert processes[0][3].endswith("%")
    assert processes[1] == ["6:0", "4188", "simulated", "0.0%", "1", "16777216"]


def test_details_list_every_value_of_the_devices_family():
    run = smi("--details", "--id", "3:0", "--id", "6:0")
    assert run.code == 0, run.err
    for line in ("firmware.version        1.2.3", "pcie.slot               0000:03:00.0",
                 "extra_pmic.power        14.50 W", "device_driver.version   2.5.0", "pid 4120"):
        assert line in run.out
    # An Orvek card lists no Veltara-only field, and the other way round.
    card, veltara = run.out.split("Device 6:0")
    assert "firmware.version" not in veltara
    assert "device_driver" not in card


def test_csv_carries_the_scenario_with_header_and_units_or_without():
    query = ["-q", "id,temperature.chip,power.draw,pcie.slot,memory.total", "-f", "csv"]
    run = smi(*query)
    assert (run.code, run.out) == (0, (
        "id,temperature.chip [C],power.draw [W],pcie.slot,memory.total [B]\n"
        "3:0,61 C,31.50 W,0000:03:00.0,17179869184 B\n3:1,70 C,24.00 W,N/A,34359738368 B\n"
        "5:0,39 C,N/A,N/A,1073741824 B\n6:0,52 C,N/A,N/A,1073741824 B\n")), run.err
    run = smi(*query, "--no-header", "--no-units")
    assert (run.code, run.out) == (0, (
        "3:0,61,31.50,0000:03:00.0,17179869184\n3:1,70,24.00,N/A,34359738368\n"
        "5:0,39,N/A,N/A,1073741824\n6:0,52,N/A,N/A,1073741824\n")), run.err
    # Hexadecimal ids as they are written, and no padding in a CSV cell.
    run = smi("-q", "id,pci.device_id,firmware.crc,pci.vendor_id", "-f", "csv", "--no-header",
              "--id", "3:0", "--id", "6:0")
    assert run.out == "3:0,0x0100,0x8003,0x1D9C\n6:0,N/A,N/A,N/A\n"


def test_ids_choose_the_devices_in_the_order_given():
    ids = ["veltara-usb1:0", "3:1", "veltara-kind0:0", "0", "/dev/veltara-usb1", "orvek1",
           "0000:03:00.0", "03:00.0"]
    run = smi("-q", "id", "-f", "csv", "--no-header", *[a for i in ids for a in ("--id", i)])
    assert (run.code, run.out) == (0, "6:0\n3:1\n5:0\n3:0\n5:0\n3:1\n3:0\n3:0\n"), run.err


def test_a_loop_into_a_pipe_appends_rounds_a_script_reads():
    run = smi("--loop", "0.1", "--count", "3", "-q", "id,temperature.chip", "-f", "csv")
    rows = list(csv.reader(run.out.splitlines()))
    assert run.code == 0 and len(rows) == 1 + 3 * 4, run.out  # one header, four devices a round
    assert rows[0] == ["timestamp", "id", "temperature.chip [C]"]
    assert rows[12][0].endswith("Z") and rows[12][1:] == ["6:0", "52 C"]
    lines = smi("--loop", "0.1", "--count", "3", "-q", "id,utilization,node").out.splitlines()
    assert len(lines) == 1 + 3 * 4 and "/dev/" not in lines[0], lines
    assert all(line.find("/dev/") == lines[0].find("node") for line in lines[1:]), lines
    run = smi("--loop", "0.1", "--count", "2", "-q", "id,utilization", "-f", "json")
    arrays = [json.loads(line) for line in run.out.splitlines()]  # one JSON array a line
    assert len(arrays) == 2 and all(len(a) == 4 and "timestamp" in a[0] for a in arrays)


def test_json_still_parses_when_the_library_complains_of_a_driver_version():
    run = smi("-q", "id,temperature.chip", "-f", "json", machine="driver_major_two.toml")
    assert run.code == 0 and [d["temperature.chip"] for d in json.loads(run.out)] == [44]
    assert "Driver version does not matched" in run.err


def test_json_has_typed_values_and_null_for_what_a_device_lacks():
    run = smi("-q", "all", "-f", "json")
    assert run.code == 0, run.err
    devices = {device["id"]: device for device in json.loads(run.out)}
    assert len(devices) == 4

    card = devices["3:0"]
    values = {"temperature.chip": 61, "clocks.npu": 1250, "power.draw": 31.5,
              "extra_pmic.id": 1, "memory.used": 4294967296, "firmware.version": "1.2.3",
              "pci.vendor_id": 0x1D9C, "processes": None}
    for field, value in values.items():
        # JSON's numbers are compared with their type: 31.5 is no 31, 61 no 61.0.
        assert (card[field], type(card[field])) == (value, type(value)), field
    assert len(card["cores"]) == 10
    assert card["cores"][0]["core"] is None  # the whole-cluster entry
    # A power reading is the library's single-precision value at its shortest, not its widening.
    assert '"extra_pmic.voltage": 3.3,' in run.out

    assert devices["3:1"]["pcie.slot"] is None and devices["3:1"]["firmware.crc"] is None
    device = devices["6:0"]
    assert (device["family"], device["temperature.chip"]) == ("Veltara", 52)
    for absent in ("power.draw", "fan.duty", "pci.vendor_id", "firmware.version"):
        assert device[absent] is None, absent
    assert len(device["processes"]) == 2
    first = device["processes"][0]
    assert (first["pid"], first["quantity"], first["amount"]) == (4120, 5, 58720256)


def test_extra_pmic_selection_is_read_back():
    run = smi("--set-extra-pmic", "3:0=3")
    assert run.code == 0, run.err
    assert "3:0: extra PMIC 3 selected (read back: 3)" in run.out


def test_dump_goes_to_standard_output_on_dash_and_a_file_that_cannot_be_written_fails_the_run(
        tmp_path):
    run = smi("--dump-scenario", "-")
    assert run.code == 0, run.err
    assert "[[veltara]]" in run.out
    assert "wrote 4 device(s) to standard output" in run.err
    run = smi("--simulate", "--dump-scenario", f"{DRIVE}{tmp_path}/no/such/dir/x", machine=None)
    assert run.code == 1 and "cannot write" in run.err


def test_a_failed_read_is_named_and_the_rest_still_shown():
    # A value the device's family always has but the device failed to deliver: N/A in its place,
    # named on standard error, the device-error code, and the other devices still shown.
    run = smi("-q", "id,temperature.chip,utilization", "-f", "csv", "--no-units",
              machine="failing_reads.toml")
    assert run.code == 4, run.err
    assert "3:0: utilization: " in run.err and "6:0" not in run.err
    rows = list(csv.reader(run.out.splitlines()))
    assert len(rows) == 3, run.out
    assert rows[1] == ["3:0", "50", "N/A"]
    assert rows[2][:2] == ["6:0", "40"]

    # A process list that fails is a failed read too.
    run = smi("-p", machine="failing_reads.toml")
    assert run.code == 4 and "6:0: process" in run.err
    # A memory size of 0 is none: N/A, null.
    run = smi("-q", "memory.total", "-f", "json", machine="failing_reads.toml")
    assert json.loads(run.out)[1]["memory.total"] is None, run.out


@pytest.mark.parametrize("arguments, code, message, machine", [
    (["-q", "id,bogus"], 2, "unknown field 'bogus'", None),
    (["-q", "id,,node"], 2, "empty field name", None),
    (["-q", "id,"], 2, "empty field name", None),  # a trailing comma
    (["--id", "3:0abc"], 2, "--id '3:0abc': the index after ':' must be a whole number from 0",
     None),
    (["--id", "9:0"], 2, "'9' is no target type; the types are 1 orvek, 2 veltara, "
     "3 orvek-pcie, 4 veltara-reserved, 5 veltara-kind0, 6 veltara-kind1", None),
    (["--id", "3:7"], 3, "no device 3:7 (orvek-pcie): orvek-pcie has 2 device(s) here, 3:0 to 3:1",
     None),
    (["--id", "orvek:0"], 3, "no device 1:0 (orvek): the Orvek devices here are 3:0 "
     "(orvek-pcie, /dev/orvek0), 3:1 (orvek-pcie, /dev/orvek1)", None),
    (["--id", "4"], 3, "no device at position 4: there are 4 device(s), 0 to 3", None),
    (["--id", "3-0"], 3, "no device '3-0'", None),
    (["--frobnicate"], 2, "--frobnicate", None),
    (["-q", "id", "-f", "xml"], 2, "crvmon-smi: --format: got 'xml'; takes table, csv or json",
     None),
    (["-q", "id", "-f", "2"], 2, "got '2'", None),  # a format by its number
    (["-l", "0"], 2, "--loop: got '0'; takes a number of seconds from 0.05 to 86400", None),
    (["-l", "1", "-c", "x"], 2, "--count: got 'x'", None),
    (["--count", "2"], 2, "--count needs --loop", None),
    (["--details", "--processes"], 2, "choose one", None),
    (["--set-extra-pmic", "3:0=7"], 2, "ID 0-3", None),
    (["--set-extra-pmic", "3:9=1"], 3, "3:9", None),
    (["--set-extra-pmic", "6:0=1"], 4, "6:0: cannot select extra PMIC 1", None),
    ([], 2, "cannot simulate", "../test_smi_cli.py"),
    ([], 3, "Failed to initialize - No driver installed\ncrvmon-smi: no device found",
     "no_devices.toml"),
    (["--timeout", "2", "-q", "id", "-f", "json"], 5, "initialisation did not finish within 2 s",
     "busy_service.toml"),
])
def test_each_error_ends_with_its_code_and_a_clear_message_and_no_table(
        arguments, code, message, machine):
    run = smi(*arguments, machine=machine or "two_families.toml")
    assert (run.code, run.out) == (code, ""), run.err
    assert message in run.err


@pytest.mark.parametrize("machine", ["no_devices.toml", "two_families.toml"])
def test_a_script_reading_json_of_a_missing_device_still_gets_a_list(machine):
    run = smi("-q", "id", "-f", "json", "--id", "3:7", machine=machine)
    assert (run.code, run.out) == (3, "[]\n"), run.err


def test_top_into_a_pipe_writes_frames_of_plain_lines():
    run = smi("--simulate", "top", "--count", "2", "--loop", "0.1", machine=None)
    assert run.code == 0, run.err
    assert "\x1b" not in run.out and "\r" not in run.out
    assert sum("/dev/orvek0" in line for line in run.out.splitlines()) == 2
