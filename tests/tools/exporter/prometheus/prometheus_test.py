#!/usr/bin/env python3
"""crvmon-exporter with Prometheus's own tools, and the files of docs/prometheus.

Usage: prometheus_test.py CASE DOCS_DIR [EXPORTER], CASE one of
  rules    promtool check rules on alerts.yml, and promtool test rules with alerts_test.yml;
  config   promtool check config on prometheus.yml;
  metrics  a scraped /metrics page through promtool check metrics, and every metric the alerts
           and the dashboard name in it (the page's values are checked in process, by
           exporter_http_test.cpp);
  server   a real Prometheus server scraping the exporter every second: the scenario's values,
           up, the alerting rules loaded and quiet, every dashboard query answered.
Exits 77 (skipped) when the prometheus package is not installed.
"""
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.parse
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from served_program import Server, get, start_exporter  # noqa: E402

SKIP = 77
HERE = os.path.dirname(os.path.abspath(__file__))
TEMPERATURES = {"/dev/orvek0": 47, "/dev/orvek1": 58, "/dev/veltara-usb1": 41,
                "/dev/veltara-usb0": 47}
ALERTS = {"CrvmonExporterDown", "CrvmonNoDevice", "CrvmonDeviceGone", "CrvmonReadErrors",
          "CrvmonDeviceHot"}


def dashboard_queries(docs):
    with open(os.path.join(docs, "grafana-dashboard.json"), encoding="utf-8") as f:
        dashboard = json.load(f)
    variables = {v["name"] for v in dashboard["templating"]["list"]}
    if not {"instance", "datasource"} <= variables:
        raise AssertionError(f"dashboard variables: {sorted(variables)}")
    return [t["expr"] for p in dashboard["panels"] for t in p.get("targets", [])]


def case_rules(docs, expect):
    for command in (["promtool", "check", "rules", os.path.join(docs, "alerts.yml")],
                    ["promtool", "test", "rules", "alerts_test.yml"]):
        run = subprocess.run(command, cwd=HERE, capture_output=True, text=True, timeout=60)
        print(run.stdout + run.stderr)
        expect(run.returncode == 0, f"{' '.join(command[:3])} exited {run.returncode}")


def case_config(docs, expect):
    run = subprocess.run(["promtool", "check", "config", os.path.join(docs, "prometheus.yml")],
                         capture_output=True, text=True, timeout=60)
    print(run.stdout + run.stderr)
    expect(run.returncode == 0, f"promtool check config exited {run.returncode}")


def case_metrics(docs, exporter, expect):
    page, content_type = get(exporter.url("/metrics"))
    expect(content_type.startswith("text/plain; version=0.0.4"), f"Content-Type {content_type}")
    run = subprocess.run(["promtool", "check", "metrics"], input=page, capture_output=True,
                         text=True, timeout=60)
    expect(run.returncode == 0, f"promtool check metrics: {run.stdout}{run.stderr}")

    families = set(re.findall(r"^# TYPE (\S+) ", page, re.M))
    with open(os.path.join(docs, "alerts.yml"), encoding="utf-8") as f:
        named = set(re.findall(r"\bcrvmon_[a-z_]+", f.read()))
    named |= {m for q in dashboard_queries(docs) for m in re.findall(r"\bcrvmon_[a-z_]+", q)}
    expect(named and named <= families, f"unknown metrics in docs: {sorted(named - families)}")


def case_server(docs, exporter, log, expect):
    folder = tempfile.mkdtemp(prefix="crvmon-prometheus-")
    try:
        config = os.path.join(folder, "prometheus.yml")
        with open(config, "w") as f:
            f.write("global: {scrape_interval: 1s, evaluation_interval: 1s}\n"
                    f"rule_files: [{json.dumps(os.path.join(docs, 'alerts.yml'))}]\n"
                    "scrape_configs:\n"
                    "  - job_name: crvmon\n"
                    f"    static_configs: [{{targets: ['127.0.0.1:{exporter.port}']}}]\n")
        prometheus = Server("prometheus", lambda port: [
            "prometheus", f"--config.file={config}", f"--storage.tsdb.path={folder}/data",
            f"--web.listen-address=127.0.0.1:{port}"], "/-/ready", log)
        try:
            query = lambda q: json.loads(get(prometheus.url(
                "/api/v1/query?" + urllib.parse.urlencode({"query": q})))[0])["data"]["result"]
            queries = [q.replace("$instance", ".*").replace("$__rate_interval", "1m")
                       for q in dashboard_queries(docs)]
            problems = ["nothing asked yet"]
            deadline = time.monotonic() + 60
            while problems and time.monotonic() < deadline:
                time.sleep(0.5)
                problems = []
                temperatures = {r["metric"].get("node"): float(r["value"][1])
                                for r in query("crvmon_temperature_celsius")}
                if temperatures != TEMPERATURES:
                    problems.append(f"temperatures by node: {temperatures}")
                up = [r["value"][1] for r in query('up{job="crvmon"}')]
                if up != ["1"]:
                    problems.append(f'up{{job="crvmon"}}: {up}')
                rules = [r for g in json.loads(get(prometheus.url("/api/v1/rules"))[0])["data"][
                    "groups"] for r in g["rules"] if r["type"] == "alerting"]
                states = {r["name"]: (r["health"], r["state"]) for r in rules}
                # Evaluated without error, and none pending or firing on a healthy machine.
                if states != {name: ("ok", "inactive") for name in ALERTS}:
                    problems.append(f"alerting rules: {states}")
                for q in queries:
                    try:
                        if not query(q):
                            problems.append(f"no answer to dashboard query {q}")
                    except urllib.error.HTTPError as e:
                        problems.append(f"dashboard query {q} refused: {e.read().decode()}")
            for problem in problems:
                expect(False, problem)
            if problems:
                print("targets:", get(prometheus.url("/api/v1/targets"))[0])
        finally:
            code = prometheus.stop()
            expect(code == 0, f"prometheus exited {code} on SIGTERM")
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def main():
    cases = ("rules", "config", "metrics", "server")
    if len(sys.argv) < 3 or sys.argv[1] not in cases or (sys.argv[1] in cases[2:]) != (
            len(sys.argv) == 4):
        sys.exit(__doc__)
    case, docs = sys.argv[1], sys.argv[2]
    for tool in ("promtool", "prometheus") if case == "server" else ("promtool",):
        if not shutil.which(tool):
            print(f"SKIPPED: {tool} is not installed (Debian package prometheus; "
                  "scripts/install-deps.sh tools installs it)")
            return SKIP
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("stopped by SIGTERM"))

    failures = []

    def expect(condition, message):
        if not condition:
            failures.append(message)

    if case == "rules":
        case_rules(docs, expect)
    elif case == "config":
        case_config(docs, expect)
    else:
        with tempfile.TemporaryFile("a+") as log:
            exporter = start_exporter(sys.argv[3], log)
            try:
                if case == "metrics":
                    case_metrics(docs, exporter, expect)
                else:
                    case_server(docs, exporter, log, expect)
            finally:
                code = exporter.stop()
                expect(code == 0, f"the exporter exited {code} on SIGTERM")
                if failures:
                    log.seek(0)
                    print("output of the servers:\n" + log.read()[-20000:])
    for failure in failures:
        print("FAILED:", failure)
    print(f"{case}: {'FAILED' if failures else 'passed'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
