"""A small PC written from the protocol description alone, to test the
phone stand-in against: it listens, reads frames and answers as told."""
import json
import os
import socket
import struct
import subprocess
import threading
import time

HELLO, WELCOME, DENY, CONFIG, VIDEO, COMMAND, STATUS, PING, PONG = 1, 2, 3, 4, 16, 32, 33, 48, 49
UNDER_WINE = bool(os.environ.get("ORVANE_PHONE_SIM_WINE"))
ROOT = os.environ.get("ORVANE_ROOT", os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))


def sim_path(path):
    """A file path as the stand-in sees it (Wine maps the Linux root to Z:)."""
    path = os.path.abspath(str(path))
    return "Z:" + path.replace("/", "\\") if UNDER_WINE else path


def clips():
    out = subprocess.run([os.path.join(ROOT, "tools", "make-clips")], capture_output=True, text=True, check=True)
    return out.stdout.strip()


def frame(kind, payload=b""):
    if isinstance(payload, str):
        payload = payload.encode()
    return struct.pack(">IB", len(payload) + 1, kind) + payload


class Peer:
    """One accepted connection, read frame by frame."""

    def __init__(self, conn):
        self.conn = conn
        self.conn.settimeout(10)

    def read_exact(self, n):
        data = b""
        while len(data) < n:
            chunk = self.conn.recv(n - len(data))
            if not chunk:
                raise ConnectionError("closed")
            data += chunk
        return data

    def read(self):
        (length,) = struct.unpack(">I", self.read_exact(4))
        assert 1 <= length <= 0x400000, length
        kind = self.read_exact(1)[0]
        return kind, self.read_exact(length - 1)

    def read_until(self, kind, timeout=10.0, keep=None):
        """Frames up to and including the first of `kind`; pings are answered."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            k, p = self.read()
            if keep is not None:
                keep.append((k, p))
            if k == PING:
                self.send(PONG, p)
            if k == kind:
                return p
        raise TimeoutError(kind)

    def send(self, kind, payload=b""):
        self.conn.sendall(frame(kind, payload))

    def close(self):
        try:
            self.conn.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.conn.close()


class PcDouble:
    def __init__(self):
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(4)
        self.listener.settimeout(15)
        self.port = self.listener.getsockname()[1]

    def accept(self):
        conn, _ = self.listener.accept()
        return Peer(conn)

    def close(self):
        self.listener.close()


class Sim:
    """The phone stand-in as a child process; its stdout lines are collected."""

    def __init__(self, exe, port, *args):
        command = [exe, "--port", str(port), *args]
        if UNDER_WINE:
            command.insert(0, os.path.join(ROOT, "scripts", "wine"))
        self.proc = subprocess.Popen(command, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True)
        self.lines = []
        self.thread = threading.Thread(target=self._collect, daemon=True)
        self.thread.start()

    def _collect(self):
        for line in self.proc.stdout:
            self.lines.append(json.loads(line.rstrip("\r\n")))

    def wait(self, timeout=20):
        code = self.proc.wait(timeout=timeout)
        self.thread.join(timeout=5)
        return code, self.proc.stderr.read()
