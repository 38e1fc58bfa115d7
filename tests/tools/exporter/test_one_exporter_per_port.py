"""One exporter per port: a second crvmon-exporter on the port the first serves on, by the same
address or by the wildcard one, fails at once with exit code 3 and a message naming the port,
and the first serves on."""
import signal
import subprocess

import pytest

from served_program import get


@pytest.mark.parametrize("address", ["127.0.0.1", "0.0.0.0"])
def test_a_second_exporter_on_a_taken_port_fails_at_once(serve, exporter_command, address,
                                                         monkeypatch, tmp_path):
    # No simulation: an exporter serves without devices, and the port is all that matters.
    monkeypatch.setenv("CRVMON_OBJECT_ROOT", str(tmp_path))
    first = serve("crvmon-exporter", lambda port: exporter_command + [
        "--listen", f"127.0.0.1:{port}"], "/healthz", stop_signal=signal.SIGINT)
    second = subprocess.run(exporter_command + ["--listen", f"{address}:{first.port}"],
                            stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60)
    assert second.returncode == 3, second.stdout + second.stderr
    assert f"port {first.port} is taken" in second.stderr
    assert get(first.url("/healthz"))[0] == "ok\n"
