"""A hostile cloud service for the tests: a TLS server on a free loopback
port, with a self-signed certificate for another host name (which the agent
accepts, as it must), that answers each request with whatever the test's
handler picks: an ordinary reply, a reply that never ends, or one that
trickles a byte at a time. Every request is recorded as it arrived on the
wire, its head byte for byte.
"""

import os
import shutil
import socket
import ssl
import subprocess
import tempfile
import threading
import time

from processes import wait_for


class Request:
    def __init__(self, head, body):
        self.head = head  # the raw head, request line and header lines
        self.body = body
        self.at = time.monotonic()
        lines = head.decode("latin-1").split("\r\n")
        self.method, self.path = lines[0].split(" ")[:2]
        self.headers = []
        for line in lines[1:]:
            name, _, value = line.partition(":")
            self.headers.append((name.strip().lower(), value.strip()))

    def header(self, name):
        values = [value for key, value in self.headers if key == name]
        return values[0] if len(values) == 1 else values or None

    def __repr__(self):
        return "%s %s %r" % (self.method, self.path, self.headers)


# What a handler returns for a request.
def reply(status, body, reason="OK"):
    return ("reply", status, reason, body.encode("latin-1") if isinstance(body, str) else body)


def endless(status=200):
    """A close-delimited body that never ends."""
    return ("endless", status)


def trickle(data, pause):
    """The whole reply, head included, one byte every `pause` seconds."""
    return ("trickle", data.encode("latin-1"), pause)


def make_certificate(folder):
    """A self-signed certificate for another host name: cert.pem, key.pem."""
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=hostile.invalid", "-keyout", os.path.join(folder, "key.pem"),
                    "-out", os.path.join(folder, "cert.pem")],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


class HostilePeer:
    def __init__(self, handler):
        self.handler = handler
        self.requests = []
        self.streamed = []  # bytes written for each endless reply, once it ended
        self.stopping = threading.Event()
        self.folder = tempfile.mkdtemp(prefix="lumivo-hostile-")
        # LUMIVO_TEST_TLS: a folder with cert.pem and key.pem made beforehand,
        # for a machine without the openssl program.
        made = os.environ.get("LUMIVO_TEST_TLS") or self.folder
        cert = os.path.join(made, "cert.pem")
        key = os.path.join(made, "key.pem")
        if made == self.folder:
            make_certificate(made)
        self.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self.context.load_cert_chain(cert, key)
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.listener.settimeout(0.2)
        self.port = self.listener.getsockname()[1]
        # The agent's built-in URL names localhost:8443; its connections come here.
        self.connect_to = "localhost:8443:127.0.0.1:%d" % self.port
        threading.Thread(target=self._accept, daemon=True).start()

    def stop(self):
        self.stopping.set()
        self.listener.close()
        shutil.rmtree(self.folder, ignore_errors=True)

    def wait_for(self, what, predicate, timeout):
        """The first true value of predicate(the requests so far)."""
        return wait_for(lambda: "the peer to see a %s; requests: %r" % (what, self.requests),
                        lambda: predicate(self.requests), timeout, 0.05)

    def _accept(self):
        while not self.stopping.is_set():
            try:
                connection, _ = self.listener.accept()
            except (socket.timeout, OSError):
                continue
            threading.Thread(target=self._serve, args=(connection,), daemon=True).start()

    def _serve(self, connection):
        try:
            connection.settimeout(10)
            tls = self.context.wrap_socket(connection, server_side=True)
            data = b""
            while b"\r\n\r\n" not in data and len(data) < 65536:
                piece = tls.recv(4096)
                if not piece:
                    return
                data += piece
            head, _, body = data.partition(b"\r\n\r\n")
            request = Request(head, body)
            length = int(request.header("content-length") or 0)
            while len(request.body) < length:
                piece = tls.recv(4096)
                if not piece:
                    break
                request.body += piece
            self.requests.append(request)
            self._answer(tls, self.handler(request))
        except (OSError, ssl.SSLError, ValueError):
            pass
        finally:
            connection.close()

    def _answer(self, tls, answer):
        kind = answer[0]
        if kind == "reply":
            _, status, reason, body = answer
            tls.sendall(b"HTTP/1.1 %d %s\r\nContent-Type: application/json\r\n"
                        b"Content-Length: %d\r\nConnection: close\r\n\r\n%s" %
                        (status, reason.encode(), len(body), body))
        elif kind == "endless":
            tls.settimeout(30)
            tls.sendall(b"HTTP/1.1 %d OK\r\nContent-Type: application/json\r\n"
                        b"Connection: close\r\n\r\n" % answer[1])
            block, sent = b'{"data":[' + b" " * 65527, 0
            try:
                while not self.stopping.is_set():
                    tls.sendall(block)
                    sent += len(block)
            finally:
                self.streamed.append(sent)
        elif kind == "trickle":
            _, data, pause = answer
            for byte in data:
                tls.sendall(bytes([byte]))
                if self.stopping.wait(pause):
                    return
