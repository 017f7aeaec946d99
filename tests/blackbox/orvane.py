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


def env():
    e = dict(os.environ)
    e["ORVANE_WINEPREFIX"] = PREFIX
    return e


def windows_path(path):
    """The Wine path of a Linux file (drive Z: is the Linux root)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def appdata_folder():
    """The program's settings folder in the prefix's roaming AppData."""
    users = glob.glob(os.path.join(PREFIX, "drive_c", "users", "*", "AppData", "Roaming"))
    users = [u for u in users if "/Public/" not in u]
    assert users, "the Wine prefix has no roaming AppData folder"
    return os.path.join(users[0], "Orvane")


def start(*args):
    return subprocess.Popen([WINE, EXE, *args], env=env(), stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)


def run(*args, timeout=60):
    """Runs the program to its end; returns (exit code, seconds taken)."""
    t0 = time.monotonic()
    p = start(*args)
    code = p.wait(timeout=timeout)
    return code, time.monotonic() - t0


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
