"""crvmon-exporter with Prometheus's own tools, and the files of docs/prometheus: the rules and the scrape configuration through promtool, a
scraped /metrics page through promtool with every metric the alerts and the dashboard name in it
(the page's values are checked in process, by exporter_http_test.cpp), and a real Prometheus
server scraping the exporter every second."""
import json
import os
import re
import subprocess
import time
import urllib.error

import pytest

from served_program import get, prometheus_query

HERE = os.path.dirname(os.path.abspath(__file__))
DOCS = os.path.join(HERE, "../../../../docs/prometheus")
TEMPERATURES = {"/dev/orvek0": 47, "/dev/orvek1": 58, "/dev/veltara-usb1": 41,
                "/dev/veltara-usb0": 47}
ALERTS = {"CrvmonExporterDown", "CrvmonNoDevice", "CrvmonDeviceGone", "CrvmonReadErrors",
          "CrvmonDeviceHot"}


def dashboard_queries(docs):
    with open(os.path.join(docs, "grafana-dashboard.json"), encoding="utf-8") as f:
        dashboard = json.load(f)
    variables = {v["name"] for v in dashboard["templating"]["list"]}
    assert {"instance", "datasource"} <= variables, f"dashboard variables: {sorted(variables)}"
    return [t["expr"] for p in dashboard["panels"] for t in p.get("targets", [])]


@pytest.fixture
def promtool(installed):
    return installed("promtool")


@pytest.mark.parametrize("command", [["check", "rules", os.path.join(DOCS, "alerts.yml")],
                                     ["test", "rules", "alerts_test.yml"],
                                     ["check", "config", os.path.join(DOCS, "prometheus.yml")]],
                         ids=["check_rules", "test_rules", "check_config"])
def test_the_docs_pass_promtool(promtool, command):
    run = subprocess.run([promtool] + command, cwd=HERE, capture_output=True, text=True,
                         timeout=60)
    assert run.returncode == 0, run.stdout + run.stderr


def metric_names(text):
    return set(re.findall(r"\bcrvmon_[a-z_]+", text))


def test_the_metrics_page_is_valid_and_has_every_metric_the_docs_name(promtool, exporter):
    page, content_type = get(exporter.url("/metrics"))
    assert content_type.startswith("text/plain; version=0.0.4")
    run = subprocess.run([promtool, "check", "metrics"], input=page, capture_output=True,
                         text=True, timeout=60)
    assert run.returncode == 0, run.stdout + run.stderr

    families = set(re.findall(r"^# TYPE (\S+) ", page, re.M))
    with open(os.path.join(DOCS, "alerts.yml"), encoding="utf-8") as f:
        named = metric_names(f.read())
    named |= {m for q in dashboard_queries(DOCS) for m in metric_names(q)}
    assert named and named <= families, f"unknown metrics in docs: {sorted(named - families)}"


def test_a_prometheus_server_scrapes_the_simulated_machine(prometheus, exporter):
    server = prometheus("global: {scrape_interval: 1s, evaluation_interval: 1s}\n"
                        f"rule_files: [{json.dumps(os.path.join(DOCS, 'alerts.yml'))}]\n"
                        "scrape_configs:\n"
                        "  - job_name: crvmon\n"
                        f"    static_configs: [{{targets: ['127.0.0.1:{exporter.port}']}}]\n")
    query = lambda q: prometheus_query(server, q)
    queries = [q.replace("$instance", ".*").replace("$__rate_interval", "1m")
               for q in dashboard_queries(DOCS)]
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
        rules = [r for g in json.loads(get(server.url("/api/v1/rules"))[0])["data"][
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
    if problems:
        print("targets:", get(server.url("/api/v1/targets"))[0])
    assert not problems
