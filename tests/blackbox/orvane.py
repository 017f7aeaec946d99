"""Drives the real Windows programs under Wine for the black-box tests."""
import glob
import os
import socket
import subprocess
import time

ROOT = os.environ.get("ORVANE_ROOT", os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))
BIN = os.environ.get("ORVANE_BIN", os.path.join(ROOT, "build", "windows", "bin"))
WINE = os.path.join(ROOT, "scripts", "wine")
PREFIX = os.environ.get("ORVANE_WINEPREFIX", os.path.join(ROOT, "build", "wineprefix"))
EXE = os.path.join(BIN, "Orvane.exe")
# The phone stand-in built for this machine.
PHONE_SIM = os.environ.get("ORVANE_PHONE_SIM_NATIVE",
                           os.path.join(ROOT, "build", "native", "tools", "phone-sim", "phone-sim"))


def env():
    e = dict(os.environ)
    e["ORVANE_WINEPREFIX"] = PREFIX
    return e


def windows_path(path):
    """The Wine path of a Linux file (drive Z: is the Linux root)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def prefix_user():
    """The Windows user of the prefix (its folder under C:\\users)."""
    return os.path.normpath(appdata_folder()).split(os.sep)[-4]


def appdata_folder():
    """The program's settings folder in the prefix's roaming AppData."""
    users = glob.glob(os.path.join(PREFIX, "drive_c", "users", "*", "AppData", "Roaming"))
    users = [u for u in users if "/Public/" not in u]
    assert users, "the Wine prefix has no roaming AppData folder"
    return os.path.join(users[0], "Orvane")


def start(*args, exe=EXE, via=()):
    """`via`: a command that runs the program, such as `SmallSendBuffers.enter`."""
    return subprocess.Popen([*via, WINE, exe, *args], env=env(), stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)


class SmallSendBuffers:
    """A loopback network of its own (root only) whose TCP send buffers are `size` bytes, so that a peer that
    stops reading fills the sender's side at once. Wine makes its sockets in its server: the prefix's server
    is ended first, and the first Wine program run through `enter` starts the next one in there. Programs that
    talk TCP with it run through `enter` too."""

    def __init__(self, size=4096):
        stop_all()
        self.holder = subprocess.Popen(["unshare", "-n", "sleep", "infinity"])
        try:
            own = os.readlink("/proc/self/ns/net")
            # Until unshare has made the new network, entering the holder's would enter this one.
            assert wait_for(lambda: os.readlink(f"/proc/{self.holder.pid}/ns/net") != own, timeout=5)
            self.enter = ["nsenter", "-t", str(self.holder.pid), "-n"]
            subprocess.run([*self.enter, "ip", "link", "set", "lo", "up"], check=True)
            subprocess.run([*self.enter, "sysctl", "-q", "-w", f"net.ipv4.tcp_wmem={size} {size} {size}"],
                           check=True)
        except BaseException:
            self.holder.kill()
            raise

    def close(self):
        stop_all()  # the Wine server in there, and its programs
        self.holder.kill()
        self.holder.wait()


def copy_program(folder):
    """Orvane.exe and OrvaneCam.dll copied into a folder of the prefix (a Windows path under C:);
    returns the copy of the program."""
    import shutil
    target = os.path.join(PREFIX, "drive_c", *folder.split("\\")[1:])
    os.makedirs(target, exist_ok=True)
    for name in ("Orvane.exe", "OrvaneCam.dll"):
        shutil.copy(os.path.join(BIN, name), os.path.join(target, name))
    return os.path.join(target, "Orvane.exe")


def remove_copy(folder):
    import shutil
    shutil.rmtree(os.path.join(PREFIX, "drive_c", *folder.split("\\")[1:]), ignore_errors=True)


# Where the installer puts the program: the only place it registers its camera from.
INSTALLED = "C:\\Program Files\\Orvane"


def run(*args, timeout=60, exe=EXE):
    """Runs the program to its end; returns (exit code, seconds taken)."""
    t0 = time.monotonic()
    p = start(*args, exe=exe)
    code = p.wait(timeout=timeout)
    return code, time.monotonic() - t0


CAMERA_KEY = r"HKLM\Software\Classes\CLSID\{7C1E5A2B-4D3F-4B8E-9A61-2F0C8D4E5B17}"


def reg(*args):
    """`wine reg` in the project's prefix: (exit code, output without CRs)."""
    out = subprocess.run(["wine", "reg", *args], env={**env(), "WINEPREFIX": PREFIX}, capture_output=True,
                         text=True, check=False)
    return out.returncode, out.stdout.replace("\r", "")


def stop_all():
    subprocess.run(["wineserver", "-k"], env={**env(), "WINEPREFIX": PREFIX}, check=False)
    time.sleep(0.5)


def wait_for(predicate, timeout=30.0, step=0.1):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    return predicate()


def read_text(path):
    try:
        with open(path, "rb") as f:
            return f.read().decode("utf-8")
    except FileNotFoundError:
        return None


def port_accepts(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=1.0):
            return True
    except OSError:
        return False


def visible_windows(name):
    r = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name],
                       capture_output=True, text=True, check=False)
    return r.stdout.split()


def log_seconds(line):
    """The seconds since midnight of a raw log line's time stamp."""
    h, m, s = line[:12].split(":")
    return int(h) * 3600 + int(m) * 60 + float(s)


class Log:
    """The program's log file, read again at each look, without the time stamps."""

    def __init__(self, path):
        self.log_path = path

    def log(self):
        text = read_text(self.log_path) or ""
        return [line[13:] for line in text.replace("\r\n", "\n").split("\n") if line]

    def find(self, pattern):
        import re
        for line in self.log():
            m = re.fullmatch(pattern, line)
            if m:
                return m
        return None

    def lines(self, prefix):
        return [line for line in self.log() if line.startswith(prefix)]

    def wait_line(self, pattern, timeout=15):
        return wait_for(lambda: self.find(pattern), timeout=timeout)

    def wait_listening(self, timeout=30):
        """The port the program listens on, once it says so."""
        line = self.wait_line(r"Escuchando en [0-9.]+:(\d+) \(PC .*\)", timeout=timeout)
        assert line, "the program did not start listening: " + str(self.log())
        return int(line.group(1))


class Running(Log):
    """Orvane.exe in test mode with a log, as a phone on this machine finds it."""

    def __init__(self, tmp_path, *args, seconds=40, exe=EXE, via=()):
        super().__init__(str(tmp_path / "orvane.log"))
        self.proc = start("--prueba", "--oculta", "--registro", windows_path(self.log_path),
                          "--salir-tras", str(seconds), *args, exe=exe, via=via)
        self.port = self.wait_listening()
