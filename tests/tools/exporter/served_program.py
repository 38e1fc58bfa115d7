"""Programs serving HTTP for the exporter's tests (conftest.py starts them): started on a free
port, waited for, and stopped by a signal."""
import ctypes
import json
import signal
import socket
import subprocess
import time
import urllib.parse
import urllib.request


def die_with_parent():
    # Servers and browsers end with the test however it ends, a SIGKILL from the time-out too.
    try:
        ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG
    except (OSError, AttributeError):
        pass


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def get(url, timeout=10):
    with urllib.request.urlopen(url, timeout=timeout) as response:
        return response.read().decode(), response.headers.get("Content-Type", "")


def prometheus_query(prometheus, query):
    """The result of an instant query to a Prometheus server."""
    answer = get(prometheus.url("/api/v1/query?" + urllib.parse.urlencode({"query": query})))[0]
    return json.loads(answer)["data"]["result"]


class Server:
    """A program serving HTTP on a free port. `command(port)` gives its command line, `ready`
    the path that answers once it serves."""

    def __init__(self, name, command, ready, log, stop_signal):
        self.name, self.stop_signal = name, stop_signal
        for _ in range(5):  # another test may take the free port before the program binds it
            self.port = free_port()
            self.process = subprocess.Popen(command(self.port), stdout=log, stderr=log,
                                            preexec_fn=die_with_parent)
            deadline = time.monotonic() + 60
            while self.process.poll() is None and time.monotonic() < deadline:
                try:
                    get(self.url(ready), timeout=2)
                    return
                except OSError:
                    time.sleep(0.1)
            self.stop()
            log.seek(0)
            if "address already in use" not in log.read() and self.process.returncode != 3:
                raise RuntimeError(f"{name} did not serve on port {self.port}")
        raise RuntimeError(f"no free port {name} could listen on")

    def url(self, path):
        return f"http://127.0.0.1:{self.port}{path}"

    def stop(self):
        """Its exit code, once stop_signal (SIGINT: Ctrl+C under Wine) has ended it."""
        if self.process.poll() is None:
            self.process.send_signal(self.stop_signal)
            try:
                return self.process.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
                raise RuntimeError(f"{self.name} ignored signal {self.stop_signal} for 20 s")
        return self.process.returncode
