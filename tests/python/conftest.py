"""The simulated machine the Python tests read: crvmon-sim serving scenario.toml under an object
root of its own, found by the library the package loads ($CRVMON_LIBRARY, set by CTest)."""

import os
import shutil
import signal
import subprocess
import tempfile
import time
from pathlib import Path

import pytest

HERE = Path(__file__).resolve().parent
SCENARIO = HERE / "scenario.toml"


def die_with_parent():
    # The simulator ends with the test run however it ends, a time-out's SIGKILL too.
    import ctypes

    try:
        ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG
    except (OSError, AttributeError):
        pass


class Simulator:
    """crvmon-sim serving a scenario under a fresh object root until stopped."""

    def __init__(self, scenario=SCENARIO):
        self.root = tempfile.mkdtemp(prefix="crvmon-pytest-")
        self.log = open(Path(self.root) / "sim.log", "w+")
        env = dict(os.environ, CRVMON_OBJECT_ROOT=self.root)
        self.process = subprocess.Popen(
            [os.environ["CRVMON_SIM"], str(scenario)],  # set by CTest
            env=env,
            stdout=subprocess.PIPE,
            stderr=self.log,
            text=True,
            preexec_fn=die_with_parent,
        )
        # "ready" once it serves; a loaded machine can take seconds to start its threads.
        line = self.process.stdout.readline()
        if line.strip() != "ready":
            self.log.seek(0)
            raise RuntimeError(f"crvmon-sim did not start: {line!r} {self.log.read()}")
        # The Veltara devices' activity window is the last second: until it is full, their
        # busy shares are below the scenario's.
        time.sleep(1.2)

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(timeout=20)
        finally:
            self.log.close()
            shutil.rmtree(self.root, ignore_errors=True)


@pytest.fixture(scope="session")
def machine():
    """The simulated machine, with the library initialised on it for the whole run."""
    import crvmon

    simulator = Simulator()
    os.environ["CRVMON_OBJECT_ROOT"] = simulator.root
    crvmon.init()
    yield simulator
    crvmon.shutdown()
    simulator.stop()


@pytest.fixture
def devices(machine):
    import crvmon

    return {d.id: d for d in crvmon.devices()}
