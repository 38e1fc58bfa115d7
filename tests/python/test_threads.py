"""Python threads reading devices at once: what the library must not overlap waits, the rest
runs side by side."""

import threading
import time
from concurrent.futures import ThreadPoolExecutor

import crvmon
from crvmon import _library


class Overlaps:
    """Stands in front of a getter: records, per device, the most calls in it at once, each
    call held a few milliseconds so that overlapping calls meet."""

    def __init__(self, real, events=None):
        self.real, self.events = real, events
        self.inside, self.most = {}, {}
        self.guard = threading.Lock()

    def __call__(self, target, index, *args):
        key = (int(target), index)
        with self.guard:
            self.inside[key] = self.inside.get(key, 0) + 1
            self.most[key] = max(self.most.get(key, 0), self.inside[key])
        if self.events is not None:
            self.events.append("read begins")
        time.sleep(0.005)
        try:
            return self.real(target, index, *args)
        finally:
            with self.guard:
                self.inside[key] -= 1
            if self.events is not None:
                self.events.append("read ends")


def test_calls_on_one_orvek_card_wait_for_each_other_and_veltara_reads_do_not(
    devices, monkeypatch
):
    functions = _library.library().functions
    spy = Overlaps(functions["crvmonGetTemperature"])
    monkeypatch.setitem(functions, "crvmonGetTemperature", spy)
    processes = Overlaps(functions["crvmonGetProcessInfos"])
    monkeypatch.setitem(functions, "crvmonGetProcessInfos", processes)
    start = threading.Barrier(8)

    def read(device):
        start.wait()
        for _ in range(5):
            assert device.temperature is not None
            device.process_infos

    with ThreadPoolExecutor(max_workers=8) as pool:
        for job in [pool.submit(read, devices[d]) for d in ["3:0", "3:0", "3:0", "3:0",
                                                             "6:0", "6:0", "6:0", "6:0"]]:
            job.result()
    assert spy.most[(3, 0)] == 1
    assert processes.most[(6, 0)] == 1  # two snapshots at once would mix at the host service
    assert spy.most[(6, 0)] > 1


def test_shutdown_waits_for_reads_in_flight(devices, monkeypatch):
    functions = _library.library().functions
    events = []
    monkeypatch.setitem(functions, "crvmonGetTemperature",
                        Overlaps(functions["crvmonGetTemperature"], events))
    real_shutdown = functions["crvmonShutdown"]

    def shutdown():
        events.append("shutdown")
        return real_shutdown()

    monkeypatch.setitem(functions, "crvmonShutdown", shutdown)
    card = devices["3:0"]
    reader = threading.Thread(target=lambda: card.temperature)
    reader.start()
    while not events:
        time.sleep(0.0005)
    crvmon.shutdown()
    reader.join()
    crvmon.init()
    assert events == ["read begins", "read ends", "shutdown"]
