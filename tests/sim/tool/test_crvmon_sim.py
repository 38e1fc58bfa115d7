"""crvmon-sim as a script uses it: "ready" once it serves, another process (crvmon-smi, through
the library) finds its devices, and a signal (Ctrl+C; on Linux also SIGTERM) ends it with code 0
and nothing of it left; a scenario it cannot use is refused, naming the key. CTest names the
programs in CRVMON_SIM and CRVMON_SMI, and under Wine the command that runs them in
CRVMON_EMULATOR."""

import os
import shlex
import signal
import subprocess
from pathlib import Path

import pytest

EMULATOR = shlex.split(os.environ.get("CRVMON_EMULATOR", ""))
DRIVE = "Z:" if EMULATOR else ""  # the Windows programs see this machine's files on drive Z:
EXAMPLE = Path(__file__).resolve().parents[3] / "sim/model/scenarios/example.toml"


@pytest.fixture
def environment(tmp_path):
    # On Linux the simulation's objects live under an object root of the test's own; under Wine
    # in the machine's namespace, which the tests that simulate take in turns.
    (tmp_path / "root").mkdir()
    return dict(os.environ, CRVMON_OBJECT_ROOT=str(tmp_path / "root"))


def run(environment, program, *arguments):
    return subprocess.run(EMULATOR + [os.environ[program], *arguments], env=environment,
                          stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120)


@pytest.mark.parametrize("stop, scenario, devices", [
    (signal.SIGTERM, [], 4),  # the built-in machine
    (signal.SIGINT, [f"{DRIVE}{EXAMPLE}"], 2),
])
def test_serves_other_processes_until_signalled_and_leaves_nothing(
        environment, stop, scenario, devices):
    if EMULATOR:
        stop = signal.SIGINT  # what Wine passes on as Ctrl+C
    sim = subprocess.Popen(EMULATOR + [os.environ["CRVMON_SIM"], *scenario], env=environment,
                           stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, text=True)
    try:
        # A loaded machine can take seconds to start the simulators' threads.
        assert sim.stdout.readline().strip() == "ready"
        listing = run(environment, "CRVMON_SMI", "-q", "node", "-f", "csv", "--no-header")
        assert listing.returncode == 0, listing.stderr
        assert len(listing.stdout.split()) == devices and "/dev/orvek0" in listing.stdout.split()
        sim.send_signal(stop)
        assert sim.wait(timeout=30) == 0
    finally:
        if sim.poll() is None:  # a simulation left serving would hold the machine's driver
            sim.send_signal(signal.SIGINT)
            try:
                sim.wait(timeout=30)
            except subprocess.TimeoutExpired:
                sim.kill()
    assert sim.stdout.read().strip() == "", "more than the ready line on standard output"
    gone = run(environment, "CRVMON_SMI")
    assert gone.returncode != 0 and "No driver installed" in gone.stdout + gone.stderr
    left = [p for p in Path(environment["CRVMON_OBJECT_ROOT"]).rglob("*") if p.is_socket()]
    assert not left, f"objects left: {left}"


def test_a_scenario_it_cannot_use_is_refused_naming_the_key(environment, tmp_path):
    bad = tmp_path / "bad.toml"
    bad.write_text('[[orvek]]\ntemperature = "hot"\n')
    refused = run(environment, "CRVMON_SIM", f"{DRIVE}{bad}")
    assert refused.returncode != 0 and "ready" not in refused.stdout
    assert "temperature" in refused.stderr
