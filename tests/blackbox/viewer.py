"""The Frame Server stand-in (cam-viewer) pulling the camera DLL's pictures in a process of its own."""
import json
import os
import subprocess
import threading
import time

import orvane

VIEWER = os.path.join(orvane.BIN, "cam-viewer.exe")
DLL = orvane.windows_path(os.path.join(orvane.BIN, "OrvaneCam.dll"))


class Viewer:
    """The stand-in, its output read as it comes, each line with the moment it arrived."""

    def __init__(self, *args):
        self.proc = subprocess.Popen([orvane.WINE, VIEWER, "--dll", DLL, *args], env=orvane.env(),
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.lines = []
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.proc.stdout:
            self.lines.append((time.monotonic(), line))

    def wait(self, timeout=60):
        code = self.proc.wait(timeout=timeout)
        self.reader.join(timeout=5)
        return code, self.proc.stderr.read()

    def samples(self):
        """(arrival, sample) for each sample."""
        return [(t, json.loads(line)) for t, line in self.lines if '"sample"' in line]
