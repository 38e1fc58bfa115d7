"""crvmon-exporter --web.config.file: HTTPS and basic auth as an operator configures them, with a
throw-away certificate authority made by openssl and bcrypt hashes made by libxcrypt (through
Python's crypt): what a client without TLS, without a password, with a wrong one or without a
client certificate gets; a file that changes while the exporter runs; files refused at start;
and a real Prometheus server scraping over HTTPS with basic auth."""
import base64
import http.client
import json
import os
import signal
import ssl
import subprocess
import time
import urllib.error
import urllib.request
import warnings

import pytest

from served_program import free_port, get, prometheus_query

with warnings.catch_warnings():
    warnings.simplefilter("ignore", DeprecationWarning)
    import crypt


def file_argument(path):
    """A path as the exporter takes it: under Wine, on the drive that maps this machine's root."""
    return ("Z:" if os.environ.get("CRVMON_EMULATOR") else "") + str(path)


def bcrypt(password):
    return crypt.crypt(password, crypt.mksalt(crypt.METHOD_BLOWFISH))


def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, capture_output=True, timeout=60)


@pytest.fixture
def pki(tmp_path):
    """A CA, a server certificate for 127.0.0.1 and a client certificate, both signed by it."""
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=test CA",
            "-keyout", "ca.key", "-out", "ca.crt", cwd=tmp_path)
    for name, extension in (("server", "subjectAltName=IP:127.0.0.1"),
                            ("client", "extendedKeyUsage=clientAuth")):
        openssl("req", "-newkey", "rsa:2048", "-nodes", "-subj", f"/CN={name}", "-keyout",
                f"{name}.key", "-out", f"{name}.csr", cwd=tmp_path)
        (tmp_path / f"{name}.ext").write_text(extension + "\n")
        openssl("x509", "-req", "-in", f"{name}.csr", "-CA", "ca.crt", "-CAkey", "ca.key",
                "-CAcreateserial", "-days", "2", "-extfile", f"{name}.ext", "-out", f"{name}.crt",
                cwd=tmp_path)
    return tmp_path


def web_config(directory, users=None, **tls):
    lines = []
    if tls:
        lines.append("tls_server_config:")
        lines += [f"  {key}: {value}" for key, value in tls.items()]
    if users:
        lines.append("basic_auth_users:")
        lines += [f"  {user}: {bcrypt(password)}" for user, password in users.items()]
    path = directory / "web.yml"
    path.write_text("\n".join(lines) + "\n")
    return path


class Client:
    def __init__(self, port, pki, certificate=None):
        self.base = f"https://127.0.0.1:{port}"
        self.context = ssl.create_default_context(cafile=str(pki / "ca.crt"))
        if certificate:
            self.context.load_cert_chain(pki / f"{certificate}.crt", pki / f"{certificate}.key")

    def status(self, path, user=None, password=None):
        """The answer's status and WWW-Authenticate header."""
        request = urllib.request.Request(self.base + path)
        if user is not None:
            token = base64.b64encode(f"{user}:{password}".encode()).decode()
            request.add_header("Authorization", "Basic " + token)
        try:
            with urllib.request.urlopen(request, timeout=10, context=self.context) as response:
                return response.status, response.read().decode()
        except urllib.error.HTTPError as e:
            return e.code, e.headers.get("WWW-Authenticate")


def start_exporter(exporter_command, config, log, pki):
    """The exporter on a free port, once it answers over HTTPS."""
    port = free_port()
    process = subprocess.Popen(exporter_command + [
        "--simulate", "--listen", f"127.0.0.1:{port}", "--web.config.file", file_argument(config)],
        stdin=subprocess.DEVNULL, stdout=log, stderr=log)
    client = Client(port, pki, "client")
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline and process.poll() is None:
        try:
            client.status("/healthz")
            return process, port
        except OSError:
            time.sleep(0.1)
    process.kill()
    raise RuntimeError("the exporter did not serve HTTPS")


@pytest.fixture
def running(exporter_command, tmp_path):
    """running(config, pki): (process, port) of the exporter serving with this file, its output in
    tmp_path/exporter.log; stopped (exit 0) at the end."""
    started = []
    with open(tmp_path / "exporter.log", "w+") as log:
        yield lambda config, pki: started.append(
            start_exporter(exporter_command, config, log, pki)) or started[-1]
        for process, _ in started:
            process.send_signal(signal.SIGINT)  # Ctrl+C, which Wine passes on too
            assert process.wait(timeout=30) == 0
        log.seek(0)
        print(log.read())


def until(check, what):
    """Waits for check(); a connection refused while the exporter swaps its server is a no."""
    deadline = time.monotonic() + 30
    while True:
        try:
            if check():
                return
        except OSError:
            pass
        assert time.monotonic() < deadline, what
        time.sleep(0.2)


def test_https_with_basic_auth_and_a_file_changed_while_running(running, pki):
    config = web_config(pki, {"prometheus": "first secret"}, cert_file="server.crt",
                        key_file="server.key")
    process, port = running(config, pki)
    client = Client(port, pki)
    with pytest.raises((OSError, http.client.HTTPException)):  # no plain HTTP beside HTTPS
        get(f"http://127.0.0.1:{port}/healthz", timeout=5)
    assert client.status("/healthz") == (200, "ok\n")  # probes need no password
    for path in ("/metrics", "/api/v1/devices", "/"):
        status, challenge = client.status(path)
        assert status == 401 and challenge.startswith("Basic realm="), (path, challenge)
        assert client.status(path, "prometheus", "wrong")[0] == 401
        assert client.status(path, "nobody", "first secret")[0] == 401
    status, page = client.status("/metrics", "prometheus", "first secret")
    assert status == 200 and 'crvmon_temperature_celsius{family="Orvek"' in page

    web_config(pki, {"prometheus": "second secret"}, cert_file="server.crt",
               key_file="server.key")
    until(lambda: client.status("/metrics", "prometheus", "second secret")[0] == 200,
          "the changed file was not read again")
    assert client.status("/metrics", "prometheus", "first secret")[0] == 401
    if not os.environ.get("CRVMON_EMULATOR"):  # Windows has no SIGHUP
        reread = lambda: (pki / "exporter.log").read_text().count("read --web.config.file again")
        before = reread()
        process.send_signal(signal.SIGHUP)
        until(lambda: reread() > before, "SIGHUP did not read the file again")


def test_a_client_certificate_is_required_and_checked(running, pki, tmp_path):
    # A certificate of another authority, which the exporter must not take.
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=other",
            "-keyout", "other.key", "-out", "other.crt", cwd=pki)
    config = web_config(pki, cert_file="server.crt", key_file="server.key",
                        client_ca_file="ca.crt", client_auth_type="RequireAndVerifyClientCert")
    _, port = running(config, pki)
    assert Client(port, pki, "client").status("/metrics")[0] == 200
    for stranger in (None, "other"):
        with pytest.raises((ssl.SSLError, ConnectionError, urllib.error.URLError)):
            Client(port, pki, stranger).status("/metrics")


BAD_FILES = [  # (what is wrong, the file, what the message says)
    ("not YAML", "tls_server_config: [\n", "not YAML"),
    ("unknown key", "tls_server_config:\n  cert: server.crt\n", "unknown key 'cert'"),
    ("not bcrypt", "basic_auth_users:\n  prometheus: plain-text\n", "is not a bcrypt hash"),
    ("missing file", "tls_server_config:\n  cert_file: none.crt\n  key_file: server.key\n",
     "cannot read"),
    ("not a certificate", "tls_server_config:\n  cert_file: server.key\n  key_file: server.key\n",
     "does not hold a PEM certificate"),
    ("another key", "tls_server_config:\n  cert_file: server.crt\n  key_file: client.key\n",
     "does not match the key"),
    ("unchecked CA", "tls_server_config:\n  cert_file: server.crt\n  key_file: server.key\n"
                     "  client_ca_file: ca.crt\n", "does not check client certificates"),
]


@pytest.mark.parametrize("text,message", [c[1:] for c in BAD_FILES], ids=[c[0] for c in BAD_FILES])
def test_a_bad_file_stops_the_exporter_at_start(exporter_command, pki, text, message):
    config = pki / "bad.yml"
    config.write_text(text)
    argument = file_argument(config)
    run = subprocess.run(exporter_command + [
        "--simulate", "--listen", f"127.0.0.1:{free_port()}", "--web.config.file", argument],
        stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60)
    assert run.returncode == 2, run.stderr
    assert f"--web.config.file {argument}: " in run.stderr and message in run.stderr, run.stderr
    assert "serving" not in run.stderr


def test_prometheus_scrapes_over_https_with_basic_auth(prometheus, running, pki):
    config = web_config(pki, {"prometheus": "scrape secret"}, cert_file="server.crt",
                        key_file="server.key")
    _, port = running(config, pki)
    server = prometheus(
        "global: {scrape_interval: 1s}\n"
        "scrape_configs:\n"
        "  - job_name: crvmon\n"
        "    scheme: https\n"
        f"    tls_config: {{ca_file: {json.dumps(str(pki / 'ca.crt'))}}}\n"
        "    basic_auth: {username: prometheus, password: scrape secret}\n"
        f"    static_configs: [{{targets: ['127.0.0.1:{port}']}}]\n")
    until(lambda: len(prometheus_query(server, "crvmon_temperature_celsius")) == 4,
          f"no temperatures scraped: {get(server.url('/api/v1/targets'))[0]}")
