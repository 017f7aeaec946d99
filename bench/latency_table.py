"""The latency table: Orvane.exe under Wine, fed by the phone stand-in and read by the camera stand-in
(cam-viewer pulling 1280x720 samples), for each stream size and both stream forms (access units as the
phone sends them, and each followed by an access unit delimiter). Prints, from the program's own log,
the average and 95th percentile of each stage, the decoder's own decode time, the program's share
("camara" - "decodificado") and CPU use, then whether the goals hold. Exit code 1 when one does not."""
import argparse
import os
import platform
import re
import statistics
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "blackbox"))
import orvane  # noqa: E402
from pcdouble import clips  # noqa: E402
from viewer import Viewer  # noqa: E402

CODE = "123456"
STAGES = ("llegada", "decodificado", "camara")
# The first seconds hold the pairing, the first key frame and the decoder's start.
WARM_UP_SECONDS = 3
# Goals on this machine: a terminated unit is decoded for its own input, and the program's own work
# after decoding (the camera's conversion and scale) stays small.
HELD_MARGIN_MS = 3.0
SHARE_GOAL_MS = {"720p30": 0.5, "1080p30": 2.5}


class Case:
    def __init__(self, size, terminated):
        self.size = size
        self.terminated = terminated
        self.width, self.height = {"720p30": (1280, 720), "1080p30": (1920, 1080)}[size]

    @property
    def form(self):
        return "terminated" if self.terminated else "as sent"

    @property
    def name(self):
        return f"{self.size} {self.form}"


def numbers(pattern, lines):
    found = []
    for line in lines:
        m = re.search(pattern, line)
        if m:
            found.append(tuple(float(g) for g in m.groups()))
    return found


def run_case(case, seconds, work, clip_folder):
    """One streaming session; returns the figures read from the program's log."""
    log = orvane.Log(os.path.join(work, case.name.replace(" ", "-") + ".log"))
    if os.path.exists(log.log_path):
        os.remove(log.log_path)
    # The program and the viewer end by themselves, so nothing else running in the prefix is disturbed.
    program = orvane.start("--prueba", "--oculta", "--registro", orvane.windows_path(log.log_path), "--codigo", CODE,
                           "--salir-tras", str(seconds + 20))
    try:
        port = log.wait_listening(120)
        viewer = Viewer("--width", "1280", "--height", "720", "--seconds", str(seconds + 10))
        sim = [orvane.PHONE_SIM, "--port", str(port), "--code", CODE,
               "--clip", os.path.join(clip_folder, f"clip-{case.size}.h264"),
               "--width", str(case.width), "--height", str(case.height), "--fps", "30", "--seconds", str(seconds)]
        if case.terminated:
            sim.append("--aud-after")
        subprocess.run(sim, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=seconds + 60, check=True)
        if not log.wait_line(r"DEMORA TOTAL \(al cortar\) camara: .*", timeout=20):
            raise RuntimeError(f"{case.name}: no report at the disconnect; log: {log.log_path}")
        program.wait(timeout=60)
        viewer.wait(timeout=60)
    except BaseException:
        orvane.stop_all()
        raise

    totals = {}
    for stage in STAGES:
        m = log.find(rf"DEMORA TOTAL \(al cortar\) {stage}: prom=([0-9.]+) ms p95=([0-9.]+) ms .*")
        if not m:
            raise RuntimeError(f"{case.name}: no '{stage}' in the report; log: {log.log_path}")
        totals[stage] = (float(m.group(1)), float(m.group(2)))
    # Per second, once the stream has settled; the last second may be cut by the disconnect.
    seconds_rows = numbers(r"llegada=([0-9.]+)/\S+ decodificado=([0-9.]+)/\S+ camara=([0-9.]+)/",
                           log.lines("demora ms"))[WARM_UP_SECONDS:-1]
    states = numbers(r"cpu=([0-9.]+)% .* conectado=1 .* dec=([0-9.]+)ms", log.lines("estado"))
    states = [s for s in states if s[1] > 0][WARM_UP_SECONDS:-1]
    if not seconds_rows or not states:
        raise RuntimeError(f"{case.name}: too few delay or state lines; log: {log.log_path}")
    held = [d - a for a, d, _ in seconds_rows]
    share = [c - d for _, d, c in seconds_rows]
    return {
        "totals": totals,
        "held": statistics.mean(held),
        "share": statistics.mean(share),
        "share_worst": max(share),
        "decode": statistics.mean(s[1] for s in states),
        "cpu": statistics.mean(s[0] for s in states),
    }


def machine():
    model = ""
    try:
        with open("/proc/cpuinfo") as f:
            model = next((line.split(":", 1)[1].strip() for line in f if line.startswith("model name")), "")
    except OSError:
        pass
    wine = subprocess.run(["wine", "--version"], capture_output=True, text=True, check=False).stdout.strip()
    return f"{model}, {os.cpu_count()} CPUs, {platform.system()} {platform.release()}, {wine}"


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--seconds", type=int, default=30, help="streaming time of each case (default 30)")
    args = parser.parse_args()
    cases = [Case(size, terminated) for size in ("720p30", "1080p30") for terminated in (False, True)]
    results = {}
    # The logs stay for a look after the run (build/ is not committed).
    work = os.path.join(orvane.ROOT, "build", "latency")
    os.makedirs(work, exist_ok=True)
    clip_folder = clips()
    for case in cases:
        print(f"... {case.name}: {args.seconds} s, log in {work}", file=sys.stderr, flush=True)
        results[case.name] = run_case(case, args.seconds, work, clip_folder)

    print(f"Orvane.exe (Windows build) under Wine, {args.seconds} s per case, the camera pulled at 1280x720")
    print(f"Machine: {machine()}")
    print("Times in ms from the phone's capture. Each stage: avg / p95 over the whole session, from the program's")
    print("report at the disconnect (each stage over the pictures that reached it). The differences, the decode time")
    print(f"and CPU: from the program's lines of each second, after the first {WARM_UP_SECONDS} s.")
    print()
    print("| stream | units | llegada | decodificado | camara | decode time | decodificado − llegada "
          "| program's share (camara − decodificado), avg / worst second | CPU (both cores) |")
    print("|---|---|---|---|---|---|---|---|---|")
    for case in cases:
        r = results[case.name]
        stages = " | ".join("%.1f / %.1f" % r["totals"][s] for s in STAGES)
        print(f"| {case.size} | {case.form} | {stages} | {r['decode']:.1f} | {r['held']:.1f} "
              f"| {r['share']:.2f} / {r['share_worst']:.2f} | {r['cpu']:.1f} % |")
    print()
    failed = False
    for case in cases:
        r = results[case.name]
        checks = [(f"program's share {r['share']:.2f} ms <= {SHARE_GOAL_MS[case.size]} ms",
                   r["share"] <= SHARE_GOAL_MS[case.size])]
        if case.terminated:
            limit = r["decode"] + HELD_MARGIN_MS
            checks.append((f"no picture held: decodificado − llegada {r['held']:.1f} ms <= decode time + "
                           f"{HELD_MARGIN_MS:.0f} = {limit:.1f} ms", r["held"] <= limit))
        for text, ok in checks:
            print(f"{'goal met' if ok else 'GOAL MISSED'}: {case.name}: {text}")
            failed |= not ok
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
