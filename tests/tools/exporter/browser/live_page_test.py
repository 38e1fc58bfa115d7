#!/usr/bin/env python3
"""crvmon-exporter's live page (GET /) rendered by headless Chromium, read back from its DOM.

Usage: live_page_test.py EXPORTER CASE, CASE one of
  simulated  the page on the exporter's built-in simulated machine: devices, values, N/A,
             processes and charts;
  gone       the page served, every /api/v1/devices connection dropped: the error line shows;
  hostile    the first /api/v1/devices answer a 503, the next ones hand-made JSON with markup in
             its strings and values of the wrong types: the error line clears, the strings show
             as text, the wrong values as N/A.
Exits 77 (skipped) when Chromium is not installed.
"""
import http.server
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request
from html.parser import HTMLParser

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from served_program import die_with_parent, free_port, start_exporter  # noqa: E402

SKIP = 77
VOID = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "source",
        "track", "wbr"}


class Element:
    def __init__(self, tag, attrs, parent):
        self.tag, self.attrs, self.parent, self.children = tag, dict(attrs), parent, []

    def text(self):
        return "".join(c if isinstance(c, str) else c.text() for c in self.children)

    def all(self, tag=None, **attrs):
        """Descendants with this tag and these attribute values (True: present at all)."""
        found = []
        for child in self.children:
            if isinstance(child, str):
                continue
            if (tag is None or child.tag == tag) and all(
                    (name.replace("_", "-") in child.attrs) if want is True
                    else child.attrs.get(name.replace("_", "-")) == want
                    for name, want in attrs.items()):
                found.append(child)
            found += child.all(tag, **attrs)
        return found

    def one(self, tag=None, **attrs):
        found = self.all(tag, **attrs)
        if len(found) != 1:
            raise AssertionError(f"expected one <{tag} {attrs}>, found {len(found)}")
        return found[0]

    def cells(self):
        return {td.attrs.get("data-field"): td.text() for td in self.all("td")}


class Dom(HTMLParser):
    def __init__(self, html):
        super().__init__(convert_charrefs=True)
        self.root = self.current = Element("#document", {}, None)
        self.feed(html)
        self.close()

    def handle_starttag(self, tag, attrs):
        element = Element(tag, attrs, self.current)
        self.current.children.append(element)
        if tag not in VOID:
            self.current = element

    def handle_startendtag(self, tag, attrs):
        self.current.children.append(Element(tag, attrs, self.current))

    def handle_endtag(self, tag):
        node = self.current
        while node.parent is not None and node.tag != tag:
            node = node.parent
        if node.parent is not None:
            self.current = node.parent

    def handle_data(self, data):
        self.current.children.append(data)


def render(chromium, url, budget_ms):
    with tempfile.TemporaryDirectory() as profile:
        run = subprocess.run(
            [chromium, "--headless", "--no-sandbox", "--disable-gpu", f"--user-data-dir={profile}",
             f"--virtual-time-budget={budget_ms}", "--dump-dom", url],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=90, text=True,
            preexec_fn=die_with_parent)
    if run.returncode != 0 or "<html" not in run.stdout:
        raise RuntimeError(f"chromium exited {run.returncode}: {run.stderr[-2000:]}")
    return Dom(run.stdout).root


class Stub(http.server.ThreadingHTTPServer):
    """Serves the exporter's page at / and, at /api/v1/devices, whatever `answer(n)` says for
    the n-th request (0-based): (status, body), or None to drop the connection unanswered."""

    def __init__(self, page, answer):
        self.page, self.answer, self.requests = page, answer, 0
        super().__init__(("127.0.0.1", 0), StubHandler)
        threading.Thread(target=self.serve_forever, daemon=True).start()

    def url(self, path):
        return f"http://127.0.0.1:{self.server_address[1]}{path}"


class StubHandler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        if self.path == "/":
            return self.reply(200, self.server.page, "text/html; charset=utf-8")
        if self.path != "/api/v1/devices":
            return self.reply(404, b"not found\n", "text/plain")
        n, self.server.requests = self.server.requests, self.server.requests + 1
        answer = self.server.answer(n)
        if answer is None:
            self.close_connection = True
            return
        self.reply(answer[0], answer[1], "application/json")

    def reply(self, status, body, content_type):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def check_simulated(dom, expect):
    devices = {tr.attrs["data-device"]: tr.cells()
               for tr in dom.one("table", id="devices").all("tr", data_device=True)}
    expect(sorted(devices) == ["3:0", "3:1", "5:0", "6:0"], f"device rows: {sorted(devices)}")
    scenario = {  # id: node, family, temperature, power
        "3:0": ("/dev/orvek0", "Orvek", "47 °C", "30.0 W"),
        "3:1": ("/dev/orvek1", "Orvek", "58 °C", "81.3 W"),
        "5:0": ("/dev/veltara-usb1", "Veltara", "41 °C", "N/A"),
        "6:0": ("/dev/veltara-usb0", "Veltara", "47 °C", "N/A"),
    }
    for id, (node, family, temperature, power) in scenario.items():
        cells = devices.get(id, {})
        got = (cells.get("node"), cells.get("family"), cells.get("temperature"), cells.get("power"))
        expect(got == (node, family, temperature, power), f"{id}: {got}")
    expect(devices.get("3:0", {}).get("memory") == "4.0 GiB / 16.0 GiB",
           f"3:0 memory: {devices.get('3:0')}")
    expect(devices.get("6:0", {}).get("fan") == "N/A", f"6:0 fan: {devices.get('6:0')}")
    for id, cells in devices.items():
        for field, text in cells.items():
            expect(text and not text.startswith("-") and "null" not in text and "NaN" not in text,
                   f"{id} {field}: {text!r}")
        expect(cells.get("utilization", "").endswith(" %") and cells.get("clock", "").endswith(
            " MHz"), f"{id}: utilisation and clock {cells}")

    processes = sorted((tr.attrs["data-device"], tr.attrs["data-pid"])
                       for tr in dom.one("table", id="processes").all("tr", data_pid=True))
    expect(processes == [("5:0", "6020"), ("6:0", "4120"), ("6:0", "4188")],
           f"process rows: {processes}")

    charts = {f.attrs["data-device"]: f for f in dom.all("figure", data_device=True)}
    expect(sorted(charts) == sorted(scenario), f"charts: {sorted(charts)}")
    for id, figure in charts.items():
        for series in ("utilization", "temperature"):
            points = figure.one("polyline", **{"class": series}).attrs.get("points", "").split()
            # The budget spans at least two refreshes: a line, not a lone point.
            expect(len(points) >= 2, f"{id} {series} chart points: {points}")
    expect(dom.one(id="error").attrs.get("hidden") is not None, "error line shown")
    expect(any(a.attrs.get("href") == "/metrics" for a in dom.all("a")), "no link to /metrics")


def check_gone(dom, stub, expect):
    error = dom.one(id="error")
    expect("hidden" not in error.attrs, "error line hidden while the exporter is gone")
    expect("Cannot read /api/v1/devices" in error.text(), f"error line: {error.text()!r}")
    expect(not dom.one("table", id="devices").all("tr", data_device=True), "device rows shown")
    expect(stub.requests >= 1, "the page never asked for the devices")


HOSTILE_NODE = '<img id="injected" src="x" onerror="document.title=\'pwned\'">'
HOSTILE = [
    {"id": "9:0", "family": "Veltara", "node": HOSTILE_NODE, "temperature.chip": None,
     "power.draw": None, "clocks.npu": None, "fan.duty": None, "memory.total": None,
     "memory.used": None, "utilization": None, "cores": None,
     "processes": [{"pid": 77, "busy_percent": None, "quantity": None, "amount": None},
                   "not a process"]},
    {"id": "9:1", "family": {"an": "object"}, "node": "</td><b>bold</b>", "temperature.chip":
     "hot", "power.draw": [1], "clocks.npu": True, "fan.duty": "35", "memory.total": 1024,
     "memory.used": "lots", "utilization": {}, "processes": {"pid": 1}},
    "not a device", None, 42,
]


def check_hostile(dom, stub, expect):
    expect(stub.requests >= 2, f"{stub.requests} requests: the page did not retry after a 503")
    expect(dom.one(id="error").attrs.get("hidden") is not None, "error line not cleared")
    expect(not dom.all(id="injected") and not dom.all("b"), "markup from the JSON was parsed")
    expect(dom.one("title").text() == "crvmon", "the page's title changed")
    rows = {tr.attrs["data-device"]: tr.cells()
            for tr in dom.one("table", id="devices").all("tr", data_device=True)}
    expect(sorted(rows) == ["9:0", "9:1"], f"device rows: {sorted(rows)}")
    first, second = rows.get("9:0", {}), rows.get("9:1", {})
    expect(first.get("node") == HOSTILE_NODE, f"9:0 node: {first.get('node')!r}")
    expect(second.get("node") == "</td><b>bold</b>", f"9:1 node: {second.get('node')!r}")
    for field in ("temperature", "power", "clock", "fan", "memory", "utilization"):
        expect(first.get(field) == "N/A", f"9:0 {field}: {first.get(field)!r}")
    for field in ("family", "temperature", "power", "clock", "fan", "utilization"):
        expect(second.get(field) == "N/A", f"9:1 {field}: {second.get(field)!r}")
    expect(second.get("memory") == "N/A / 1.0 KiB", f"9:1 memory: {second.get('memory')!r}")
    processes = [tr.cells() for tr in dom.one("table", id="processes").all("tr", data_pid=True)]
    expect(processes == [{"device": "9:0", "pid": "77", "busy": "N/A", "quantity": "N/A",
                          "amount": "N/A"}], f"process rows: {processes}")
    expect(len(dom.all("figure", data_device=True)) == 2, "not one chart per device")


def main():
    if len(sys.argv) != 3 or sys.argv[2] not in ("simulated", "gone", "hostile"):
        sys.exit(__doc__)
    program, case = sys.argv[1], sys.argv[2]
    chromium = shutil.which("chromium") or shutil.which("chromium-browser")
    if not chromium:
        print("SKIPPED: chromium is not installed (scripts/install-deps.sh tools installs it)")
        return SKIP
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("stopped by SIGTERM"))

    failures = []

    def expect(condition, message):
        if not condition:
            failures.append(message)

    with tempfile.TemporaryFile("a+") as log:
        exporter = start_exporter(program, log)
        stub = None
        try:
            if case == "simulated":
                check_simulated(render(chromium, exporter.url("/"), 5000), expect)
            else:
                page = urllib.request.urlopen(exporter.url("/"), timeout=10).read()
                if case == "gone":
                    stub = Stub(page, lambda n: None)
                    check_gone(render(chromium, stub.url("/"), 3000), stub, expect)
                else:
                    body = json.dumps(HOSTILE).encode()
                    stub = Stub(page, lambda n: (503, b"{}") if n == 0 else (200, body))
                    check_hostile(render(chromium, stub.url("/"), 5000), stub, expect)
        finally:
            if stub:
                stub.shutdown()
                stub.server_close()
            code = exporter.stop()
            if code != 0:
                failures.append(f"the exporter exited {code} on SIGTERM")
            if failures:
                log.seek(0)
                print("exporter's output:\n" + log.read())
    for failure in failures:
        print("FAILED:", failure)
    print(f"{case}: {'FAILED' if failures else 'passed'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
