"""Child processes for the Python test drivers: devcloud on free loopback ports
in a folder of its own, programs whose console lines a thread collects, the
POSIX agent with its device root, run folder and simulated VPN script (or
the host's real VPN stack) in a folder of its own, and waiting with a deadline.

The binaries come from the environment (set by ctest): LUMIVO_DEVCLOUD and
LUMIVO_AGENT.
"""

import http.client
import json
import os
import re
import shutil
import signal
import ssl
import subprocess
import tempfile
import threading
import time
import urllib.parse

DEVCLOUD = os.environ.get("LUMIVO_DEVCLOUD", "")
AGENT = os.environ.get("LUMIVO_AGENT", "")


class Failure(AssertionError):
    """A check that did not hold, or a wait that timed out."""


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_for(what, predicate, timeout=20.0, interval=0.2):
    """The first true value of predicate(), or Failure after timeout. `what` is
    a text, or a function that gives it at the time-out (to show the state then)."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure("timed out after %.0f s waiting for %s" %
                          (timeout, what() if callable(what) else what))
        time.sleep(interval)


def end(process, timeout):
    """Ends the process with SIGTERM, or kills it when it has not ended after
    timeout seconds; its exit status."""
    if process.poll() is None:
        process.send_signal(signal.SIGTERM)
        try:
            return process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
    return process.wait()


class Child:
    """A program whose console lines a thread collects (latin-1, the line feed
    taken off), with the time each came and a count of the bytes."""

    def __init__(self, command, journal=False, **popen):
        """journal: the program's output stands for the journal, as systemd
        names it in JOURNAL_STREAM (the device and inode of the pipe)."""
        self.lines = []
        self.times = []  # time.monotonic() when each line came
        self.output_bytes = 0
        popen.setdefault("stderr", subprocess.DEVNULL)
        read, write = os.pipe()
        if journal:
            info = os.fstat(write)
            popen["env"] = dict(popen.get("env", os.environ),
                                JOURNAL_STREAM="%d:%d" % (info.st_dev, info.st_ino))
        self.process = subprocess.Popen(command, stdout=write, **popen)
        os.close(write)
        self.process.stdout = os.fdopen(read, "rb")
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for raw in self.process.stdout:
            self.output_bytes += len(raw)
            self.times.append(time.monotonic())  # before the line: a line always has its time
            self.lines.append(raw.decode("latin-1").rstrip("\n"))

    def texts(self, start=0):
        """The lines from index start on, each cut to 200 characters, for messages."""
        return [line[:200] for line in self.lines[start:]]

    def wait_for_lines(self, wanted, timeout=20.0, start=0):
        """Waits for the lines in turn, from index start on; the index of the last."""
        def found():
            at = start
            for text in wanted:
                at = next((i + 1 for i in range(at, len(self.lines)) if self.lines[i] == text), 0)
                if not at:
                    return 0
            return at
        return wait_for(lambda: "the lines %r (from line %d on: %r)" %
                        (wanted, start, self.texts(start)), found, timeout, 0.05) - 1

    def wait_for_line(self, text, timeout=20.0, after=0):
        """Index of the first line equal to text from index `after` on."""
        return self.wait_for_lines([text], timeout, after)

    def _reap(self):
        """The last lines read; the pipe closed once the reader has all of them."""
        self.reader.join(5)
        if not self.reader.is_alive():
            self.process.stdout.close()

    def wait(self, timeout=30):
        """The exit status of a program that ends by itself; killed, and a
        Failure, when it has not ended after timeout seconds."""
        try:
            code = self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise Failure("the program did not end; its lines: %r" % self.texts())
        self._reap()
        return code

    def stop(self, timeout=15):
        """SIGTERM (the agent's clean shutdown), SIGKILL after timeout seconds;
        the exit status."""
        code = end(self.process, timeout)
        self._reap()
        return code

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self._reap()


class Exchange:
    """One HTTP request and its answer as a client saw them."""

    def __init__(self, method, path, request_headers, request_body, status, reply_body,
                 reply_type):
        self.method, self.path = method, path
        self.request_headers, self.request_body = request_headers, request_body
        self.status, self.reply_body, self.reply_type = status, reply_body, reply_type


class Devcloud:
    """devcloud on free loopback ports; its operator and device calls."""

    def __init__(self, *options):
        self.folder = tempfile.mkdtemp(prefix="lumivo-devcloud-")
        self.exchanges = []  # every call made through raw() and device_call()
        self.token = ""
        self.process = subprocess.Popen(
            [DEVCLOUD, "--port", "0", "--operator-port", "0", "--data-dir", self.folder] +
            list(options), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        line = self.process.stdout.readline()
        device = re.search(r"https://[^ ]*?:(\d+)(/[^ ]*)", line)
        operator = re.search(r"operator (http://[^ ]*?)/?(?: |$)", line)
        if not device or not operator:
            self.stop()
            raise Failure("devcloud did not say where it listens: %r" % line)
        self.port = int(device.group(1))
        self.prefix = device.group(2)
        self.operator = operator.group(1).rstrip("/")
        # "devcloud console http://HOST:PORT/?token=TOKEN": the console's address.
        self.console = self.process.stdout.readline().strip().rpartition(" ")[2]
        # The agent's built-in URL names localhost:8443; its connections go here instead.
        self.connect_to = "localhost:8443:127.0.0.1:%d" % self.port
        token_file = os.path.join(self.folder, "operator-token")
        if os.path.exists(token_file):
            with open(token_file) as f:
                self.token = f.read().strip()

    def raw(self, method, path, body=None, token=None):
        """An operator call: (status, reply text, content type). JSON bodies only;
        every call but a GET says so, as devcloud wants of every change."""
        parts = urllib.parse.urlsplit(self.operator)
        connection = http.client.HTTPConnection(parts.hostname, parts.port, timeout=10)
        headers = {}
        data = None
        if body is not None:
            data = json.dumps(body)
        if body is not None or method != "GET":
            headers["Content-Type"] = "application/json"
        token = self.token if token is None else token
        if token:
            headers["Authorization"] = "Bearer " + token
        return self._exchange(connection, method, path, headers, data)

    def call(self, method, path, body=None):
        """An operator call that must succeed; its JSON reply."""
        status, text, _ = self.raw(method, path, body)
        if status != 200:
            raise Failure("%s %s answered %d: %s" % (method, path, status, text))
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
        return self._exchange(connection, method, self.prefix + path, headers, body)[:2]

    def _exchange(self, connection, method, path, headers, body):
        """Sends the request (body None: none at all), keeps it with its answer:
        (status, reply text, content type)."""
        try:
            connection.request(method, path, headers=headers,
                               body=None if body is None else body.encode())
            answer = connection.getresponse()
            text = answer.read().decode("utf-8", "replace")
            reply_type = answer.getheader("Content-Type", "")
            self.exchanges.append(Exchange(method, path, headers, body or "", answer.status, text,
                                           reply_type))
            return answer.status, text, reply_type
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
        end(self.process, 10)
        self.process.stdout.close()
        shutil.rmtree(self.folder, ignore_errors=True)


class Agent(Child):
    """The POSIX agent binary with -d against devcloud, in a folder of its own."""

    def __init__(self, devcloud, *arguments, work=None, ras_script="", **popen):
        self.work = work or tempfile.mkdtemp(prefix="lumivo-agent-")
        for folder in ("device/BOOT", "run"):
            os.makedirs(os.path.join(self.work, folder), exist_ok=True)
        environment = dict(os.environ,
                           LUMIVO_CONNECT_TO=devcloud.connect_to,
                           LUMIVO_DEVICE_ROOT=os.path.join(self.work, "device"),
                           LUMIVO_RUNTIME_DIR=os.path.join(self.work, "run"))
        # ras_script None: the host's real VPN stack instead of the simulation.
        self.ras_script = None
        if ras_script is not None:
            self.ras_script = environment["LUMIVO_RAS_SCRIPT"] = os.path.join(self.work,
                                                                             "ras-script")
            self.script(ras_script)
        super().__init__([AGENT, "-d"] + list(arguments), env=environment, **popen)

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

    def remove(self):
        self.stop()
        shutil.rmtree(self.work, ignore_errors=True)
