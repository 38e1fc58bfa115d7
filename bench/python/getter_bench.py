#!/usr/bin/env python3
"""The temperature getter through the Python package beside the same getter from C, on an Orvek
card (eleven register reads through the driver a call) and a Veltara device (one host-service
command a call), in one process and one run; then Device.snapshot() of each.

    bench/python/getter_bench.py [BUILD_DIR] [--calls N] [--rounds N]

BUILD_DIR (default build/linux) holds bin/libcrvmon.so, bin/crvmon-sim and
bin/libcrvmon_bench_getter.so (cmake --build --preset linux --target
crvmon_bench_getter). Rounds alternate C and Python; each figure is the median
of the rounds, and the ratio is Python's per-call time over C's.
"""

import argparse
import ctypes
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

SOURCE = Path(__file__).resolve().parents[2]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("build", nargs="?", default=str(SOURCE / "build/linux"))
    parser.add_argument("--calls", type=int, default=500, help="calls per round")
    parser.add_argument("--rounds", type=int, default=15)
    args = parser.parse_args()
    build = Path(args.build).resolve()

    root = tempfile.mkdtemp(prefix="crvmon-bench-")
    os.environ["CRVMON_OBJECT_ROOT"] = root
    os.environ["CRVMON_LIBRARY"] = str(build / "bin/libcrvmon.so")
    sys.path.insert(0, str(SOURCE / "python"))
    import crvmon

    sim = subprocess.Popen([str(build / "bin/crvmon-sim")], stdout=subprocess.PIPE, text=True)
    try:
        if sim.stdout.readline().strip() != "ready":
            sys.exit("crvmon-sim did not start")
        crvmon.init()
        # Loaded after the package's library, so that it binds to that instance.
        c_side = ctypes.CDLL(str(build / "bin/libcrvmon_bench_getter.so"))
        c_side.crvmon_bench_temperature.restype = ctypes.c_double
        c_side.crvmon_bench_temperature.argtypes = [ctypes.c_int, ctypes.c_int, ctypes.c_int]

        print(f"crvmon {crvmon.__version__}, {args.rounds} rounds of {args.calls} calls, "
              f"medians")
        print(f"{'getter':34} {'C us/call':>10} {'Python us/call':>15} {'ratio':>7}")
        for device in (crvmon.Device(3, 0), crvmon.Device(6, 0)):
            c_times, py_times = [], []
            for _ in range(args.rounds + 1):  # the first round warms up
                seconds = c_side.crvmon_bench_temperature(device.target, device.index,
                                                          args.calls)
                if seconds < 0:
                    sys.exit("the C side failed: not the library instance the package uses")
                c_times.append(seconds)
                start = time.perf_counter()
                for _ in range(args.calls):
                    device.temperature
                py_times.append(time.perf_counter() - start)
            c = statistics.median(c_times[1:]) / args.calls * 1e6
            py = statistics.median(py_times[1:]) / args.calls * 1e6
            name = f"temperature, {device.id} {device.family}"
            print(f"{name:34} {c:10.2f} {py:15.2f} {py / c:7.3f}")

        print()
        print(f"{'snapshot (every value)':34} {'ms':>10}")
        for device in crvmon.devices():
            times = []
            for _ in range(args.rounds + 1):
                start = time.perf_counter()
                device.snapshot()
                times.append(time.perf_counter() - start)
            name = f"{device.id} {device.family}"
            print(f"{name:34} {statistics.median(times[1:]) * 1e3:10.3f}")
        crvmon.shutdown()
    finally:
        sim.terminate()
        sim.wait(timeout=20)
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
