"""devcloud and the POSIX agent binary as child processes, for the Python
end-to-end tests: devcloud on free loopback ports in a folder of its own, the
agent with its device root, run folder and simulated VPN script in another.

The binaries come from the environment (set by ctest): LUMIVO_DEVCLOUD and
LUMIVO_AGENT.
"""

import json
import os
import re
import shutil
import signal
import socket
import ssl
import subprocess
import tempfile
import threading
import time
import http.client
import urllib.parse

DEVCLOUD = os.environ.get("LUMIVO_DEVCLOUD", "")
AGENT = os.environ.get("LUMIVO_AGENT", "")


def wait_for(what, predicate, timeout=20.0, interval=0.2):
    """The first true value of predicate(), or AssertionError after timeout."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("timed out after %.0f s waiting for %s" % (timeout, what))
        time.sleep(interval)


def host_interfaces():
    """The host's network interfaces as the kernel names them, loopback left out."""
    return {name for _, name in socket.if_nameindex() if name != "lo"}


class Exchange:
    """One HTTP request and its answer as a client saw them."""

    def __init__(self, method, path, request_headers, request_body, status, reply_body,
                 reply_type):
        self.method, self.path = method, path
        self.request_headers, self.request_body = request_headers, request_body
        self.status, self.reply_body, self.reply_type = status, reply_body, reply_type


class Devcloud:
    def __init__(self, *options):
        self.folder = tempfile.mkdtemp(prefix="lumivo-devcloud-")
        self.exchanges = []  # every call made through raw() and device_call()
        self.token = ""
        self.process = subprocess.Popen(
            [DEVCLOUD, "--port", "0", "--operator-port", "0", "--data-dir", self.folder] +
            list(options), stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        line = self.process.stdout.readline()
        device = re.search(r"https://[^ ]*?:(\d+)(/[^ ]*)", line)
        operator = re.search(r"operator (http://[^ ]*?)/?(?: |$)", line)
        if not device or not operator:
            self.stop()
            raise AssertionError("devcloud did not say where it listens: %r" % line)
        self.port = int(device.group(1))
        self.prefix = device.group(2)
        self.operator = operator.group(1).rstrip("/")
        self.connect_to = "localhost:8443:127.0.0.1:%d" % self.port
        token_file = os.path.join(self.folder, "operator-token")
        if os.path.exists(token_file):
            with open(token_file) as f:
                self.token = f.read().strip()

    def raw(self, method, path, body=None, token=None):
        """An operator call: (status, reply text, content type). JSON bodies only."""
        parts = urllib.parse.urlsplit(self.operator)
        connection = http.client.HTTPConnection(parts.hostname, parts.port, timeout=10)
        headers = {}
        data = None
        if body is not None:
            data = json.dumps(body)
            headers["Content-Type"] = "application/json"
        token = self.token if token is None else token
        if token:
            headers["Authorization"] = "Bearer " + token
        try:
            connection.request(method, path, body=data, headers=headers)
            answer = connection.getresponse()
            text = answer.read().decode("utf-8", "replace")
            self.exchanges.append(Exchange(method, path, headers, data or "", answer.status, text,
                                           answer.getheader("Content-Type", "")))
            return answer.status, text, answer.getheader("Content-Type", "")
        finally:
            connection.close()

    def call(self, method, path, body=None):
        """An operator call that must succeed; its JSON reply."""
        status, text, _ = self.raw(method, path, body)
        if status != 200:
            raise AssertionError("%s %s answered %d: %s" % (method, path, status, text))
        return json.loads(text) if text else None

    def device_call(self, method, path, body="", token=""):
        """A device call over TLS, sent as the agent sends it: (status, reply text)."""
        context = ssl.create_default_context()
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
        connection = http.client.HTTPSConnection("127.0.0.1", self.port, timeout=10,
                                                 context=context)
        headers = {"Content-Type": "application/x-www-form-urlencoded"}
        if token:
            headers["x-access-token"] = token
        try:
            connection.request(method, self.prefix + path, body=body.encode(), headers=headers)
            answer = connection.getresponse()
            text = answer.read().decode("utf-8", "replace")
            self.exchanges.append(Exchange(method, self.prefix + path, headers, body, answer.status,
                                           text, answer.getheader("Content-Type", "")))
            return answer.status, text
        finally:
            connection.close()

    def log(self):
        return self.call("GET", "/log")

    def device(self, device_id):
        for d in self.call("GET", "/devices"):
            if d["id"] == device_id:
                return d
        return None

    def request(self, request_id):
        for r in self.call("GET", "/requests"):
            if r["id"] == request_id:
                return r
        return None

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        for stream in (self.process.stdout, self.process.stderr):
            stream.close()
        shutil.rmtree(self.folder, ignore_errors=True)


class Agent:
    """The agent binary with -d against devcloud; its console lines collected."""

    def __init__(self, devcloud, *arguments, work=None, ras_script=""):
        self.work = work or tempfile.mkdtemp(prefix="lumivo-agent-")
        for folder in ("device/BOOT", "run"):
            os.makedirs(os.path.join(self.work, folder), exist_ok=True)
        self.ras_script = os.path.join(self.work, "ras-script")
        self.script(ras_script)
        self.lines = []
        environment = dict(os.environ,
                           LUMIVO_CONNECT_TO=devcloud.connect_to,
                           LUMIVO_DEVICE_ROOT=os.path.join(self.work, "device"),
                           LUMIVO_RUNTIME_DIR=os.path.join(self.work, "run"),
                           LUMIVO_RAS_SCRIPT=self.ras_script)
        self.process = subprocess.Popen([AGENT, "-d"] + list(arguments), env=environment,
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for raw in self.process.stdout:
            self.lines.append(raw.decode("latin-1").rstrip("\n"))

    def script(self, text):
        """Sets the simulated VPN's outcomes (read again at every RAS call)."""
        with open(self.ras_script, "w") as f:
            f.write(text)

    def device_id(self):
        """The id the agent stored after enrolling, or 0."""
        try:
            with open(os.path.join(self.work, "device", "BOOT", "env.json")) as f:
                return json.load(f).get("id", 0)
        except (OSError, ValueError):
            return 0

    def wait_for_line(self, text, timeout=20.0, after=0):
        """Index of the first line equal to text from index `after` on."""
        def seen():
            for i in range(after, len(self.lines)):
                if self.lines[i] == text:
                    return i + 1
            return 0
        return wait_for("the agent's line %r (it wrote %r)" % (text, self.lines[-20:]),
                        seen, timeout) - 1

    def stop(self):
        """Ends the agent with SIGTERM (its clean shutdown); its exit status."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=15)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.reader.join(5)
        self.process.stdout.close()
        return self.process.returncode

    def remove(self):
        self.stop()
        shutil.rmtree(self.work, ignore_errors=True)
