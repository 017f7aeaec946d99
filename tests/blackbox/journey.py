"""A person's first session with Orvane, played with the mouse and the keyboard
on the real program under Wine: pair the phone stand-in by the code of the
QR code on screen, watch, pause, change the quality, focus and blur, mirror,
open the panel from the tray and quit. Each step leaves a screenshot and what
was seen from outside; the tests check those, and `scripts/try` runs it by hand.

    python3 tests/blackbox/journey.py OUT_DIR
"""
import json
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import orvane  # noqa: E402
import screen  # noqa: E402

MAIN_SIZE = (380, 560)
PANEL_SIZE = (300, 312)

# Controls of the main window, in DIPs.
CLOSE = (353, 21)
MORE = (273, 21)
PAUSE = (225, 525)          # "Pausar" / "Seguir"
DISCONNECT = (340, 525)
QUALITY_PILL = (340, 317)
CELL_1080P = (259, 358)
MANUAL_FOCUS = (317, 361)
BLUR_Y = 443                # the blur slider's track runs from 97 to 313
MIRROR_ROW = (245, 112)
MIRROR_KNOB = (338, 112)
MIC_SWITCH = (318, 68)
CAMERA_ROW = (141, 134, 307, 178)  # the "Orvane Cam" row's text: white when the camera is ready, else grey
PENDING_ROW = (190, 509)    # the "Conectar" row of the newest waiting phone
# Controls of the panel, in DIPs.
PANEL_LAST = (242, 254)     # "Cortar" / "Salir"
PANEL_OPEN_ACCENT = (90, 244)  # the "Abrir" button's accent, clear of its text

GREEN, GREY = 0x3DDC84, 0x9AA0AA


def panel_drawn(panel):
    return screen.colour_near(panel.at(*PANEL_OPEN_ACCENT), 0xC8F04A, 3, 12) > 20


NOTICE = (190, 345)          # the notice's line under the pairing code
NOTICE_DOT = (30, 345)
NOTICE_ACTION = (294, 335, 357, 356)  # its action's words, right-aligned, in the accent


def notice_seen(window):
    """(red dot pixels, accent action pixels) of the notice under the pairing code."""
    shot = screen.grab()
    x, y = window.at(*NOTICE_DOT)
    left, top = window.at(*NOTICE_ACTION[:2])
    right, bottom = window.at(*NOTICE_ACTION[2:])
    return shot.count(x - 4, y - 4, x + 5, y + 5, 0xFF6B5E, 30), shot.count(left, top, right, bottom, 0xC8F04A, 40)


def main_window():
    return screen.window_of_size("Orvane", *MAIN_SIZE)


def camera_row_colours(window):
    """Pixels of the "Orvane Cam" row of the open more menu drawn white (ready) and grey (not)."""
    shot = screen.grab()
    left, top = window.at(*CAMERA_ROW[:2])
    right, bottom = window.at(*CAMERA_ROW[2:])
    return shot.count(left, top, right, bottom, 0xF2F3F5, 40), shot.count(left, top, right, bottom, 0x9AA0AA, 16)


class Phone:
    """The phone stand-in in the background; what it received is read while it runs."""

    def __init__(self, port, out_dir, *args):
        self.started = time.monotonic()
        self.out_path = os.path.join(out_dir, f"phone-{time.monotonic_ns()}.jsonl")
        self.err_path = self.out_path + ".err"
        with open(self.out_path, "w") as out, open(self.err_path, "w") as err:
            self.proc = subprocess.Popen([orvane.PHONE_SIM, "--port", str(port), *args], stdout=out, stderr=err)

    def frames(self):
        with open(self.out_path) as f:
            return [json.loads(line) for line in f if line.strip().endswith("}")]

    def commands(self):
        return [json.loads(f["payload"]) for f in self.frames() if f["type"] == "Command"]

    def command_frames(self):
        return [(f["t"], json.loads(f["payload"])) for f in self.frames() if f["type"] == "Command"]

    def welcomed(self):
        return any(f["type"] == "Welcome" for f in self.frames())

    def wait_command(self, cmd, timeout=8, after=0):
        return screen.wait_for(lambda: [c for c in self.commands()[after:] if c.get("cmd") == cmd], timeout)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
        self.proc.wait(timeout=10)


class Journey:
    def __init__(self, out_dir, clip_dir):
        self.out = out_dir
        os.makedirs(out_dir, exist_ok=True)
        for old in os.listdir(out_dir):
            if old.endswith((".png", ".jsonl", ".err")):
                os.remove(os.path.join(out_dir, old))
        self.clips = clip_dir
        self.step = 0
        self.seen = {}
        self.app_log = orvane.Log(os.path.join(out_dir, "orvane.log"))
        if os.path.exists(self.app_log.log_path):
            os.remove(self.app_log.log_path)
        self.proc = None
        self.phone = None

    # ---- helpers ----

    def main(self):
        return main_window()

    def panel(self):
        return screen.window_of_size("Orvane", *PANEL_SIZE)

    def shot(self, name):
        time.sleep(0.4)  # the next render has happened
        self.step += 1
        shot = screen.grab()
        shot.save(os.path.join(self.out, f"{self.step:02d}-{name}.png"))
        return shot

    def click(self, point):
        screen.click(*self.main().at(*point))

    def main_region(self, shot, left, top, right, bottom):
        w = self.main()
        return shot.region(*w.at(left, top), *w.at(right, bottom))

    # ---- the steps ----

    def start(self):
        # A first session: no settings from an earlier run.
        settings = os.path.join(orvane.appdata_folder(), "orvane-prueba.ini")
        if os.path.exists(settings):
            os.remove(settings)
        self.proc = orvane.start("--prueba", "--registro", orvane.windows_path(self.app_log.log_path),
                                 "--salir-tras", "300")
        self.port = self.app_log.wait_listening(timeout=60)
        w = screen.wait_for(self.main, timeout=20)
        assert w, "the main window did not show: " + repr(screen.windows("Orvane"))
        self.seen["main"] = w
        self.seen["screen"] = screen.screen_size()
        # The pointer, wherever an earlier program left it, stays off the window.
        screen.move(self.seen["screen"][0] - 5, 5)
        # Wine maps the window a moment before its first picture arrives.
        self.seen["qr"] = screen.wait_for(lambda: screen.read_qr(screen.grab(), w.rect), 15)
        # No frame: the window's own dark background reaches its very edges. Under Xvfb the window
        # may be unmapped for a moment just after its first picture; a frame would never go away.
        right, bottom = w.left + w.width - 1, w.top + w.height - 1

        def edges():
            shot = screen.grab()
            return [shot.pixel(x, y) for x, y in ((w.left, w.top + 40), (w.left + w.width // 2, w.top),
                                                  (right, w.top + 300), (w.left + w.width // 2, bottom))]

        screen.wait_for(lambda: edges() == [(11, 12, 14)] * 4, 5)
        self.seen["edge_pixels"] = edges()
        self.shot("inicio")

    def hover(self):
        before = self.main_region(screen.grab(), 333, 5, 373, 37)
        screen.move(*self.main().at(*CLOSE))
        changed = screen.wait_for(lambda: self.main_region(screen.grab(), 333, 5, 373, 37) != before, 3)
        self.shot("hover-cerrar")
        screen.move(*self.main().at(190, 470))
        restored = screen.wait_for(lambda: self.main_region(screen.grab(), 333, 5, 373, 37) == before, 3)
        self.seen["hover"] = (bool(changed), bool(restored))

    def pair_by_qr(self):
        code = re.search(r"[?&]code=(\d{6})", self.seen["qr"] or "").group(1)
        c = self.clips
        self.phone = Phone(self.port, self.out, "--code", code, "--token-file", os.path.join(self.out, "token"),
                           "--clip", os.path.join(c, "clip-720p30.h264"), "--width", "1280", "--height", "720",
                           "--fps", "30", "--clip-720p", os.path.join(c, "clip-720p30.h264"),
                           "--clip-1080p", os.path.join(c, "clip-1080p30.h264"),
                           "--caps", "720p=30,60;1080p=30,60;4K=30", "--focus-modes", "face,auto,manual",
                           "--seconds", "240")
        self.seen["welcomed"] = screen.wait_for(self.phone.welcomed, 15)
        # The picture reached the screen: the window recorded its display delay.
        self.seen["shown"] = self.app_log.wait_line(r"demora ms .* vista=[0-9.]+/[0-9.]+ .*", timeout=20)
        self.shot("en-vivo")

    def mismatched_click(self):
        before = len(self.phone.commands())
        w = self.main()
        screen.press(*w.at(*PAUSE))
        time.sleep(0.2)
        screen.release(*w.at(*DISCONNECT))
        time.sleep(1.0)
        self.seen["mismatch_commands"] = self.phone.commands()[before:]
        self.seen["mismatch_still_connected"] = self.phone.proc.poll() is None and not [
            l for l in self.app_log.log() if l.startswith("Se desconectó")]

    def pause_and_resume(self):
        before = len(self.phone.commands())
        icon = screen.tray_icon()
        self.seen["tray_green_before_pause"] = screen.colour_near(icon, GREEN)
        self.click(PAUSE)
        self.seen["pause"] = self.phone.wait_command("pause", after=before)
        self.seen["tray_grey"] = screen.wait_for(lambda: screen.colour_near(icon, GREY), 3)
        self.seen["tray_green_while_paused"] = screen.colour_near(icon, GREEN)
        self.shot("pausa")
        self.click(PAUSE)
        self.seen["resume"] = self.phone.wait_command("resume", after=before)
        self.seen["tray_green"] = screen.wait_for(lambda: screen.colour_near(icon, GREEN), 3)

    def change_quality(self):
        before = len(self.phone.commands())
        self.click(QUALITY_PILL)
        self.shot("menu-calidad")
        self.click(CELL_1080P)
        self.seen["quality"] = self.phone.wait_command("quality", after=before)
        self.seen["config_1080p"] = self.app_log.wait_line(r"CONFIG h264 1920x1080@30", timeout=10)
        screen.key(self.main(), "Escape")
        time.sleep(1.5)
        self.shot("calidad-1080p")

    def focus_and_blur(self):
        before = len(self.phone.commands())
        self.click(MANUAL_FOCUS)
        self.seen["focus"] = self.phone.wait_command("focus", after=before)
        w = self.main()
        start = time.monotonic()
        screen.press(*w.at(97, BLUR_Y))
        for i in range(1, 31):
            screen.move(*w.at(97 + 7 * i, BLUR_Y))
            time.sleep(0.03)
        screen.release(*w.at(253, BLUR_Y))
        self.seen["drag_seconds"] = time.monotonic() - start
        time.sleep(1.0)
        self.seen["blur_commands"] = [c for c in self.phone.command_frames()[before:] if c[1].get("cmd") == "blur"]
        self.shot("foco-y-fondo")

    def mirror(self):
        knob = self.main().at(*MIRROR_KNOB)
        self.click(MORE)
        # The menu is open when the microphone's switch (on) shows.
        mic = self.main().at(*MIC_SWITCH)
        self.seen["more_menu"] = screen.wait_for(lambda: screen.colour_near(mic, 0xC8F04A, 3, 12) > 20, 5)
        self.seen["camera_row"] = camera_row_colours(self.main())
        t0 = time.monotonic()
        self.click(MIRROR_ROW)
        # The switch's knob moves right: its place turns from the track to white.
        self.seen["mirror_on"] = screen.wait_for(lambda: screen.colour_near(knob, 0xF2F3F5, 3, 12) > 20, 5)
        self.seen["mirror_seconds"] = time.monotonic() - t0
        self.shot("espejo")
        screen.key(self.main(), "Escape")

    def panel_from_tray(self):
        self.seen["panel"] = panel = self.open_panel()
        self.shot("panel")
        screen.key(panel, "Escape")
        self.seen["panel_after_escape"] = screen.wait_for(lambda: self.panel() is None, 3)

    def disconnect(self):
        self.click(DISCONNECT)
        self.seen["disconnected"] = self.app_log.wait_line(r"Se desconectó .*", timeout=10)
        self.seen["report"] = self.app_log.wait_line(r"DEMORA TOTAL \(al cortar\) vista: .*", timeout=5)
        self.seen["phone_ended"] = screen.wait_for(lambda: self.phone.proc.poll() is not None, 10)
        # The window shows a new pairing code.
        self.seen["new_qr"] = screen.wait_for(lambda: screen.read_qr(screen.grab(), self.main().rect), 10)
        self.shot("desconectado")

    def open_panel(self):
        # One click: a second one would hide a click that opens the panel and closes it at once.
        screen.click(*screen.tray_icon())
        panel = screen.wait_for(self.panel, 3)
        if panel:
            # Drawn: the "Abrir" button's accent.
            self.seen["panel_drawn"] = screen.wait_for(lambda: panel_drawn(panel), 5)
        return panel

    def quit_from_panel(self):
        panel = self.open_panel()
        self.shot("panel-sin-celu")
        assert panel, "the panel did not open from the tray"
        screen.click(*panel.at(*PANEL_LAST))  # "Salir"
        try:
            self.seen["exit_code"] = self.proc.wait(timeout=15)
        except subprocess.TimeoutExpired:
            self.seen["exit_code"] = None

    def run(self):
        try:
            for step in (self.start, self.hover, self.pair_by_qr, self.mismatched_click, self.pause_and_resume,
                         self.change_quality, self.focus_and_blur, self.mirror, self.panel_from_tray,
                         self.disconnect, self.quit_from_panel):
                step()
        finally:
            if self.phone:
                self.phone.stop()
            if self.proc and self.proc.poll() is None:
                self.proc.kill()
        return self.seen


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(orvane.ROOT, "build", "try")
    seen = Journey(out, os.environ.get("ORVANE_CLIPS", os.path.join(orvane.ROOT, "build", "clips"))).run()
    for name, value in seen.items():
        print(f"{name}: {value}")
    print(f"screenshots in {out}")
