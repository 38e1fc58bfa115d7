"""crvmon-exporter's live page (GET /) rendered by headless Chromium, read back from its DOM: on
the exporter's built-in simulated machine; served by a stub whose /api/v1/devices drops every
connection; and by a stub that answers a 503 first, then hand-made JSON with markup in its
strings and values of the wrong types."""
import http.server
import json
import socket
import subprocess
import tempfile
import threading
import time
import lxml.html
import pytest

from served_program import die_with_parent, get

def one(node, xpath):
    found = node.xpath(xpath)
    assert len(found) == 1, f"expected one {xpath}, found {len(found)}"
    return found[0]


def cells_of(tr):
    return {td.get("data-field"): td.text_content() for td in tr.iter("td")}


def render(chromium, url, budget_ms):
    with tempfile.TemporaryDirectory() as profile:
        run = subprocess.run(
            [chromium, "--headless", "--no-sandbox", "--disable-gpu", f"--user-data-dir={profile}",
             f"--virtual-time-budget={budget_ms}", "--dump-dom", url],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=90, text=True,
            preexec_fn=die_with_parent)
    if run.returncode != 0 or "<html" not in run.stdout:
        raise RuntimeError(f"chromium exited {run.returncode}: {run.stderr[-2000:]}")
    return lxml.html.document_fromstring(run.stdout)


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


@pytest.fixture
def chromium(installed):
    return installed("chromium", "chromium-browser")


@pytest.fixture
def stub(exporter):
    """stub(answer): a Stub serving the exporter's page, shut down at the end of the test."""
    page = get(exporter.url("/"))[0].encode()
    stubs = []
    yield lambda answer: stubs.append(Stub(page, answer)) or stubs[-1]
    for server in stubs:
        server.shutdown()
        server.server_close()


def device_rows(dom):
    return {tr.get("data-device"): cells_of(tr)
            for tr in dom.xpath('//table[@id="devices"]//tr[@data-device]')}


def test_shows_the_simulated_machine(chromium, exporter):
    dom = render(chromium, exporter.url("/"), 5000)
    devices = device_rows(dom)
    scenario = {  # id: node, family, temperature, power
        "3:0": ("/dev/orvek0", "Orvek", "47 °C", "30.0 W"),
        "3:1": ("/dev/orvek1", "Orvek", "58 °C", "81.3 W"),
        "5:0": ("/dev/veltara-usb1", "Veltara", "41 °C", "N/A"),
        "6:0": ("/dev/veltara-usb0", "Veltara", "47 °C", "N/A"),
    }
    assert {id: (cells.get("node"), cells.get("family"), cells.get("temperature"),
                 cells.get("power")) for id, cells in devices.items()} == scenario
    assert devices["3:0"].get("memory") == "4.0 GiB / 16.0 GiB"
    assert devices["6:0"].get("fan") == "N/A"
    for id, cells in devices.items():
        for field, text in cells.items():
            assert text and not text.startswith("-") and "null" not in text and "NaN" not in text, (
                f"{id} {field}: {text!r}")
        assert cells.get("utilization", "").endswith(" %"), cells
        assert cells.get("clock", "").endswith(" MHz"), cells

    # A fleet's tabs tell their machines apart.
    assert one(dom, "//title").text_content() == f"{socket.gethostname()} · crvmon"
    assert one(dom, '//*[@id="host"]').text_content() == socket.gethostname()

    # The simulated pids are named by the scenario, not by this machine's processes.
    processes = sorted((tr.get("data-device"), tr.get("data-pid"), cells_of(tr)["name"])
                       for tr in dom.xpath('//table[@id="processes"]//tr[@data-pid]'))
    assert processes == [("5:0", "6020", "vision-pipeline"), ("6:0", "4120", "inference-server"),
                         ("6:0", "4188", "batch-embed")]

    charts = {f.get("data-device"): f for f in dom.xpath("//figure[@data-device]")}
    assert sorted(charts) == sorted(scenario)
    for id, figure in charts.items():
        # One scale per quantity: percent and degrees each on a panel of their own.
        for series, unit in (("utilization", "%"), ("temperature", "°C")):
            panel = figure.xpath(f'.//svg[.//polyline[@class="{series}"]]')
            assert len(panel) == 1, f"{id}: {series} not on a panel of its own"
            labels = [t.text_content() for t in panel[0].xpath(".//text")]
            assert labels and all(label.endswith(" " + unit) for label in labels), labels
    assert one(dom, '//*[@id="error"]').get("hidden") is not None, "error line shown"
    assert dom.xpath('//a[@href="/metrics"]'), "no link to /metrics"


def test_opens_with_the_exporters_history_drawn(chromium, exporter):
    # The exporter reads every device at its start and every two seconds: wait for three reads.
    deadline = time.monotonic() + 30
    while True:
        history = json.loads(get(exporter.url("/api/v1/history"))[0])
        counts = [len(d["points"]) for d in history["devices"]]
        if len(counts) == 4 and min(counts) >= 3 or time.monotonic() > deadline:
            break
        time.sleep(0.5)
    assert history["interval_seconds"] == 2 and isinstance(history["now"], int)
    assert [d["id"] for d in history["devices"]] == ["3:0", "3:1", "5:0", "6:0"]
    assert min(counts) >= 3, f"points per device: {counts}"
    first = history["devices"][0]["points"][0]
    assert first[0] <= history["now"] and first[2] == 47, first  # [time, utilisation, 47 °C]
    # Less than one refresh of the page: what its charts hold came from the exporter.
    dom = render(chromium, exporter.url("/"), 500)
    for figure in dom.xpath("//figure[@data-device]"):
        for series in ("utilization", "temperature"):
            points = one(figure, f'.//polyline[@class="{series}"]').get("points", "").split()
            assert len(points) >= 3, f"{figure.get('data-device')} {series}: {points}"


def test_shows_an_error_while_the_exporter_is_gone(chromium, stub):
    gone = stub(lambda n: None)
    dom = render(chromium, gone.url("/"), 3000)
    error = one(dom, '//*[@id="error"]')
    assert error.get("hidden") is None, "error line hidden while the exporter is gone"
    assert "Cannot read /api/v1/devices" in error.text_content()
    assert not device_rows(dom)
    assert gone.requests >= 1, "the page never asked for the devices"


HOSTILE_NODE = '<img id="injected" src="x" onerror="document.title=\'pwned\'">'
HOSTILE = [
    {"id": "9:0", "family": "Veltara", "node": HOSTILE_NODE, "temperature.chip": None,
     "power.draw": None, "clocks.npu": None, "fan.duty": None, "memory.total": None,
     "memory.used": None, "utilization": None, "cores": None,
     "processes": [{"pid": 77, "name": "<b>worker</b>", "busy_percent": None,
                    "quantity": None, "amount": None},
                   "not a process"]},
    {"id": "9:1", "family": {"an": "object"}, "node": "</td><b>bold</b>", "temperature.chip":
     "hot", "power.draw": [1], "clocks.npu": True, "fan.duty": "35", "memory.total": 1024,
     "memory.used": "lots", "utilization": {}, "processes": {"pid": 1}},
    "not a device", None, 42,
]


# Written into the body by the browser: the laid-out width of each chart.
MEASURE = (b"<script>setInterval(() => { document.body.dataset.chartWidths = [...document."
           b"querySelectorAll('figure.chart')].map(f => f.getBoundingClientRect().width)"
           b".join(' '); }, 500);</script></body>")


def test_recovers_and_shows_hostile_json_as_text(chromium, stub):
    body = json.dumps(HOSTILE).encode()
    hostile = stub(lambda n: (503, b"{}") if n == 0 else (200, body))
    hostile.page = hostile.page.replace(b"</body>", MEASURE)
    dom = render(chromium, hostile.url("/"), 5000)
    assert hostile.requests >= 2, "the page did not retry after a 503"
    assert one(dom, '//*[@id="error"]').get("hidden") is not None, "error line not cleared"
    assert not dom.xpath('//*[@id="injected"] | //b'), "markup from the JSON was parsed"
    assert one(dom, "//title").text_content() == f"{socket.gethostname()} · crvmon", "title"
    rows = device_rows(dom)
    assert sorted(rows) == ["9:0", "9:1"]
    absent = dict.fromkeys(("temperature", "power", "clock", "fan", "utilization"), "N/A")
    assert rows["9:0"] == {"id": "9:0", "family": "Veltara", "node": HOSTILE_NODE, "memory": "N/A",
                           **absent}
    assert rows["9:1"] == {"id": "9:1", "family": "N/A", "node": "</td><b>bold</b>",
                           "memory": "N/A / 1.0 KiB", **absent}
    processes = [cells_of(tr) for tr in dom.xpath('//table[@id="processes"]//tr[@data-pid]')]
    assert processes == [{"device": "9:0", "pid": "77", "name": "<b>worker</b>", "busy": "N/A",
                          "quantity": "N/A", "amount": "N/A"}]
    assert len(dom.xpath("//figure[@data-device]")) == 2, "not one chart per device"
    # Charts of one width, however long the captions (9:0's node is long, 9:1's short).
    widths = one(dom, "//body").get("data-chart-widths", "").split()
    assert len(widths) == 2 and widths[0] == widths[1], widths
