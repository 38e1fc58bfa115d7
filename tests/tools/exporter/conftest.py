"""What the exporter's Python tests share: the exporter and other programs serving HTTP (a
Prometheus server), started on a free port and stopped however the test ends. CTest names the
exporter in CRVMON_EXPORTER and, under Wine, the command that runs it in CRVMON_EMULATOR."""

import os
import shlex
import shutil
import signal
import tempfile

import pytest

from served_program import Server


@pytest.fixture
def serve():
    """Starts a Server; at the end of the test stops each one started and fails the test unless
    it exited 0. Their output shows with a failing test."""
    started = []
    with tempfile.TemporaryFile("w+") as log:

        def start(name, command, ready, stop_signal=signal.SIGTERM):
            started.append(Server(name, command, ready, log, stop_signal))
            return started[-1]

        yield start
        codes = {server.name: server.stop() for server in reversed(started)}
        log.seek(0)
        print("output of the servers:\n" + log.read()[-20000:])
        assert all(code == 0 for code in codes.values()), f"exit codes: {codes}"


@pytest.fixture
def exporter_command():
    """The exporter's command line, without options."""
    return shlex.split(os.environ.get("CRVMON_EMULATOR", "")) + [os.environ["CRVMON_EXPORTER"]]


@pytest.fixture
def exporter(serve, exporter_command):
    """crvmon-exporter serving the built-in simulated machine."""
    return serve("crvmon-exporter", lambda port: exporter_command + [
        "--simulate", "--listen", f"127.0.0.1:{port}"], "/healthz")


@pytest.fixture
def installed():
    """installed(program, ...): the path of the first of these found, or the test is skipped."""

    def find(*programs):
        for program in programs:
            if shutil.which(program):
                return shutil.which(program)
        pytest.skip(f"{programs[0]} is not installed (scripts/install-deps.sh tools installs it)")

    return find


@pytest.fixture
def prometheus(installed, serve, tmp_path):
    """prometheus(configuration): a Prometheus server scraping as this YAML text says."""
    program = installed("prometheus")

    def start(configuration):
        config = tmp_path / "prometheus.yml"
        config.write_text(configuration)
        return serve("prometheus", lambda port: [
            program, f"--config.file={config}", f"--storage.tsdb.path={tmp_path}/data",
            f"--web.listen-address=127.0.0.1:{port}"], "/-/ready")

    return start
