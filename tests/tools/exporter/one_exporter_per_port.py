"""One exporter per port: a second crvmon-exporter on the port the first serves on, by the same
address or by the wildcard one, fails at once with exit code 3 and a message naming the port,
and the first serves on.
Usage: one_exporter_per_port.py EXPORTER [EMULATOR...]   (under Wine: the emulator command)"""
import os
import signal
import subprocess
import sys
import tempfile

from served_program import Server, get


def main():
    command = sys.argv[2:] + [sys.argv[1]]
    failures = []
    with tempfile.TemporaryFile("w+") as log, tempfile.TemporaryDirectory() as root:
        # No simulation: an exporter serves without devices, and the port is all that matters.
        os.environ["CRVMON_OBJECT_ROOT"] = root
        first = Server("crvmon-exporter", lambda port: command + ["--listen", f"127.0.0.1:{port}"],
                       "/healthz", log)
        try:
            for address in ("127.0.0.1", "0.0.0.0"):
                second = subprocess.run(command + ["--listen", f"{address}:{first.port}"],
                                        stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                        timeout=60)
                if second.returncode != 3 or f"port {first.port} is taken" not in second.stderr:
                    failures.append(f"a second exporter on {address}:{first.port} exited "
                                    f"{second.returncode}: {second.stdout}{second.stderr}")
            body, _ = get(first.url("/healthz"))
            if body != "ok\n":
                failures.append(f"the first exporter answers {body!r}")
        finally:
            # Ctrl+C, which a Windows program under Wine sees as such.
            first.process.send_signal(signal.SIGINT)
            first.process.wait(timeout=60)
    for failure in failures:
        print(f"FAIL: {failure}")
    if not failures:
        print("ok: a second exporter on the port of the first fails with exit code 3, naming it")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
