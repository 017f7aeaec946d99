"""The windows as a person meets them: the real Orvane.exe under Wine and Xvfb,
driven with xdotool, seen through screenshots and through what the phone
stand-in receives."""
import json
import math
import os
import re
import subprocess
import time

import pytest

import orvane
import screen
from journey import CLOSE, GREEN, MANUAL_FOCUS, MIC_SWITCH, MORE, PANEL_LAST, PANEL_SIZE, PAUSE, PENDING_ROW, \
    Journey, Phone, main_window, panel_drawn
from pcdouble import clips


@pytest.fixture(scope="module")
def clip_dir():
    return clips()


@pytest.fixture(autouse=True)
def display():
    if not os.environ.get("DISPLAY"):
        pytest.skip("needs the X display of scripts/test")


def test_a_person_pairs_watches_steers_and_quits(clean_settings, tmp_path, clip_dir):
    seen = Journey(str(tmp_path / "try"), clip_dir).run()
    width, height = seen["screen"]

    # Centred, and the client area is the whole window: no frame anywhere.
    main = seen["main"]
    assert (main.left, main.top) == ((width - 380) // 2, (height - 560) // 2)
    assert seen["edge_pixels"] == [(11, 12, 14)] * 4, "a frame or an undrawn border around the window"
    assert re.fullmatch(r"orvane://pc\?host=[0-9.]+&port=\d+&code=\d{6}&id=[0-9a-f-]{36}", seen["qr"])
    assert seen["hover"] == (True, True), "hovering the close button paints its plate, leaving clears it"

    # Paired by the code read off the screen, and the picture is shown.
    assert seen["welcomed"] and seen["shown"]
    assert seen["mismatch_commands"] == [] and seen["mismatch_still_connected"], \
        "a press on one button released on another ran something"

    assert seen["pause"] == [{"cmd": "pause"}]
    assert seen["tray_grey"] and not seen["tray_green_while_paused"], "the tray icon stays green while paused"
    assert seen["resume"] == [{"cmd": "resume"}] and seen["tray_green"]

    white, grey = seen["camera_row"]
    assert grey > 40 and white < 5, f"no system library here, no camera: its name is grey ({white} white, {grey} grey)"

    assert seen["quality"] == [{"cmd": "quality", "res": "1080p", "fps": 30}]
    assert seen["config_1080p"]
    assert seen["focus"] == [{"cmd": "focus", "mode": "manual", "value": 0.5}]

    # The drag: thinned while moving, then the final value once more on release.
    blur = seen["blur_commands"]
    assert blur[0][1]["value"] == 0.0, "the press sends at once"
    assert blur[-1][1]["value"] == 0.75, "the release sends the final position"
    moving = blur[:-1]
    assert 3 <= len(moving) <= seen["drag_seconds"] / 0.08 + 2, blur
    # Seen where they arrive: the session's sender thread writes them, so one
    # may leave a little late and the next on time; on average, though, they
    # keep the pace (unthinned, they would follow the mouse, every 30 ms).
    gaps = [(b[0] - a[0]) / 1000 for a, b in zip(moving, moving[1:])]
    assert sum(gaps) / len(gaps) > 65, f"requests closer than the 80 ms pace allows: {gaps}"
    settings = orvane.read_text(os.path.join(clean_settings, "orvane-prueba.ini"))
    assert "fondo=0.75\n" in settings.replace("\r\n", "\n") and "calidad=1080p@30" in settings

    assert seen["more_menu"] and seen["mirror_on"]

    # The panel: bottom right of the work area, 14 px from its edges at 96 DPI.
    panel = seen["panel"]
    assert (panel.left, panel.top) == (width - 14 - PANEL_SIZE[0], height - 14 - PANEL_SIZE[1])
    assert seen["panel_after_escape"]
    assert seen["panel_drawn"], "the panel opened without a phone was not drawn"

    # "Desconectar": the session's delay totals, and a fresh code on screen.
    assert seen["disconnected"] and seen["report"] and seen["phone_ended"]
    assert seen["new_qr"] and seen["new_qr"] != seen["qr"]
    assert seen["exit_code"] == 0, "the panel's Salir did not end the program"
    assert len([f for f in os.listdir(tmp_path / "try") if f.endswith(".png")]) == 11


def start_with_window(tmp_path, *args, seconds=90):
    log = orvane.Log(str(tmp_path / "orvane.log"))
    proc = orvane.start("--prueba", "--registro", orvane.windows_path(log.log_path), "--salir-tras", str(seconds),
                        *args)
    return proc, log, log.wait_listening(timeout=60)


def test_conectar_lets_a_waiting_phone_in_and_the_tray_menu_opens_the_window(clean_settings, tmp_path, clip_dir):
    proc, j, port = start_with_window(tmp_path)
    try:
        main = screen.wait_for(main_window, 20)
        assert main
        phone = Phone(port, str(tmp_path), "--clip", os.path.join(clip_dir, "clip-720p30.h264"),
                      "--width", "1280", "--height", "720", "--fps", "30", "--seconds", "30")
        assert j.wait_line(r"HELLO de .*", timeout=10)
        button = main.at(*PENDING_ROW)
        # The right end of the "Conectar" button, past its text.
        edge = main.at(337, PENDING_ROW[1])
        assert screen.wait_for(lambda: screen.colour_near(edge, 0xC8F04A, 2, 12) > 15, 10), \
            "no Conectar row for the waiting phone"
        assert not phone.welcomed()
        screen.click(*button)
        assert screen.wait_for(phone.welcomed, 10), "Conectar did not let the phone in"

        # Hidden to the tray with the minimise button, back with the tray menu.
        screen.click(*main.at(313, 21))
        assert screen.wait_for(lambda: main_window() is None, 5)
        assert screen.wait_for(lambda: screen.colour_near(screen.tray_icon(), GREEN), 5)
        menu = screen.tray_menu()
        assert menu, "the tray's menu did not show"
        # Connected: "Abrir Orvane", "Cortar", a separator, "Salir".
        assert menu.height > 55
        screen.click(menu.left + 30, menu.top + 10)
        assert screen.wait_for(main_window, 5), "Abrir Orvane did not show the window"

        # Explorer restarts: the old taskbar's icons go with it, the new one announces itself, and
        # ours is back, in the live state's colour.
        assert shell("--quitar") == 0
        assert screen.wait_for(lambda: screen.tray_icon() is None, 5), "the icon was not taken away"
        assert shell("--anunciar") == 0
        assert screen.wait_for(lambda: screen.colour_near(screen.tray_icon() or (0, 0), GREEN), 5), \
            "no icon after TaskbarCreated"
        phone.stop()
    finally:
        proc.kill()


def shell(action):
    """The shell's stand-in: "--quitar" takes our tray icon away, "--anunciar" sends TaskbarCreated."""
    return subprocess.run([orvane.WINE, os.path.join(orvane.BIN, "shell-standin.exe"), action], env=orvane.env(),
                          capture_output=True, timeout=30, check=False).returncode


def hover_answered(main, within):
    """The close button's plate shows when hovered and goes when left, each within `within` s."""
    def plate():
        return screen.grab().region(*main.at(333, 5), *main.at(373, 37))
    before = plate()
    screen.move(*main.at(*CLOSE))
    shown = screen.wait_for(lambda: plate() != before, within, step=0.05)
    screen.move(*main.at(190, 470))
    gone = screen.wait_for(lambda: plate() == before, within, step=0.05)
    return bool(shown and gone)


def test_a_phone_that_stops_reading_never_freezes_the_window(clean_settings, tmp_path, clip_dir):
    proc, j, port = start_with_window(tmp_path, "--codigo", "123456")
    try:
        main = screen.wait_for(main_window, 20)
        assert main
        clip = os.path.join(clip_dir, "clip-720p30.h264")
        token = str(tmp_path / "token")
        deaf = Phone(port, str(tmp_path), "--code", "123456", "--token-file", token, "--clip", clip,
                     "--seconds", "40", "--deaf-after", "3")
        assert screen.wait_for(deaf.welcomed, 20)
        # Deaf from 3 s on, flooding the program with large Pings: its Pongs back up within a second.
        assert j.wait_line(r"estado .* conectado=1 .*", timeout=10)
        time.sleep(max(0.0, 4.5 - (time.monotonic() - deaf.started)))
        deaf_at = time.monotonic()
        rounds_from = len(raw_log(j))
        # Pause and resume, manual focus: requests to a phone that does not read, while its
        # connection backs up and after. The window answers all along: each hover is drawn (the
        # ceiling is for the screenshots on a busy machine), and the program's own one-second
        # lines keep coming, which a UI thread waiting up to 2 s on the phone's socket would stop.
        answered = []
        for i in range(10):
            screen.click(*main.at(*(MANUAL_FOCUS if i % 3 == 2 else PAUSE)))
            answered.append(hover_answered(main, 5.0))
        assert all(answered), f"the window stopped answering: {answered}"
        ticks = [orvane.log_seconds(l) for l in raw_log(j)[rounds_from:] if l[13:].startswith("estado ")]
        assert len(ticks) >= 3 and max(b - a for a, b in zip(ticks, ticks[1:])) < 1.9, ticks
        # The phone is cut off within the send limit.
        cut = j.wait_line(r"El celu no lee lo que le mando: se corta", timeout=10)
        assert cut, j.log()[-8:]
        assert j.wait_line(r"Se desconectó .*", timeout=5)
        assert time.monotonic() - deaf_at < 30
        # The program goes on: the phone gets in again (the code changed when its session ended).
        nxt = Phone(port, str(tmp_path), "--token-file", token, "--clip", clip, "--seconds", "10")
        assert screen.wait_for(nxt.welcomed, 20), "a new phone after the cut"
        assert hover_answered(main, 5.0)
        nxt.stop()
        deaf.stop()
    finally:
        proc.kill()


def raw_log(log):
    """The log's lines with their time stamps."""
    return [l for l in (orvane.read_text(log.log_path) or "").replace("\r\n", "\n").split("\n") if l]


def live_badge(main):
    """The connected view's "EN VIVO" badge is drawn."""
    return screen.colour_near(main.at(24, 273), 0xFF4438, 4, 20) > 10


def more_menu_open(main):
    """The more menu shows its microphone switch (on, green)."""
    return screen.colour_near(main.at(*MIC_SWITCH), 0xC8F04A, 3, 12) > 20


def test_the_menus_close_when_the_phone_goes(clean_settings, tmp_path, clip_dir):
    proc, j, port = start_with_window(tmp_path, "--codigo", "123456")
    try:
        main = screen.wait_for(main_window, 20)
        assert main
        clip, token = os.path.join(clip_dir, "clip-720p30.h264"), str(tmp_path / "token")
        first = Phone(port, str(tmp_path), "--code", "123456", "--token-file", token, "--clip", clip, "--seconds", "30")
        assert screen.wait_for(first.welcomed, 20)
        assert j.wait_line(r"estado .* conectado=1 .*", timeout=10)
        screen.click(*main.at(*MORE))
        assert screen.wait_for(lambda: more_menu_open(main), 5)
        assert live_badge(main)
        first.stop()  # the phone goes
        assert j.wait_line(r"Se desconectó .*", timeout=20)
        assert screen.wait_for(lambda: not live_badge(main), 10), "the no-phone view was drawn"
        back = Phone(port, str(tmp_path), "--token-file", token, "--clip", clip, "--seconds", "10")
        assert screen.wait_for(back.welcomed, 20)
        # Connected again and drawn: a menu still open would be drawn in that same frame.
        assert screen.wait_for(lambda: live_badge(main), 10)
        assert not more_menu_open(main), "the menu came back open with the next phone"
        back.stop()
    finally:
        proc.kill()


def test_the_microphone_sends_nothing_escape_alone_does_nothing_and_the_panels_cortar_ends_the_session(
        clean_settings, tmp_path, clip_dir):
    proc, j, port = start_with_window(tmp_path, "--codigo", "123456")
    try:
        main = screen.wait_for(main_window, 20)
        assert main
        phone = Phone(port, str(tmp_path), "--code", "123456", "--clip", os.path.join(clip_dir, "clip-720p30.h264"),
                      "--seconds", "40")
        assert screen.wait_for(phone.welcomed, 20)
        assert j.wait_line(r"estado .* conectado=1 .*", timeout=10)
        before = len(phone.commands())

        # The microphone switch is the PC's own: the phone hears nothing of it. What the PC sends
        # next ("Pausar") arrives after anything the switch might have sent, on the same connection.
        screen.click(*main.at(*MORE))
        assert screen.wait_for(lambda: more_menu_open(main), 5)
        screen.click(*main.at(*MIC_SWITCH))
        assert screen.wait_for(lambda: not more_menu_open(main), 3), "the switch turned off"
        screen.key(main, "Escape")
        assert screen.wait_for(lambda: screen.colour_near(main.at(*MIC_SWITCH), 0x9AA0AA, 3, 12) == 0, 3)
        screen.click(*main.at(*PAUSE))
        assert phone.wait_command("pause", after=before)
        assert phone.commands()[before:] == [{"cmd": "pause"}]

        # Escape with nothing open: the window stays, the phone too ("Seguir", clicked after it, is
        # the sign that the key was handled).
        screen.key(main, "Escape")
        screen.click(*main.at(*PAUSE))
        assert phone.wait_command("resume", after=before)
        assert main_window() and j.find(r"Se desconectó .*") is None
        # (A resumed stream starts from a key frame the PC asks for.)
        assert [c for c in phone.commands()[before:] if c != {"cmd": "keyframe"}] == [{"cmd": "pause"}, {"cmd": "resume"}]

        screen.click(*screen.tray_icon())
        panel = screen.wait_for(panel_window, 3)
        assert panel, "the panel did not open from the tray"
        assert screen.wait_for(lambda: panel_drawn(panel), 5), "the panel was not drawn"

        # The panel's quality menu opens upwards; a click beside it, on "Cortar", only closes it.
        screen.click(*panel.at(*PANEL_PILL))
        assert screen.wait_for(lambda: panel_menu_open(panel), 5), "the panel's quality menu did not open"
        screen.click(*panel.at(*PANEL_LAST))
        assert screen.wait_for(lambda: not panel_menu_open(panel), 5), "the click beside the menu did not close it"

        # Now "Cortar" ends the session (had the click above reached it, this one would be "Salir"); the
        # program goes on.
        screen.click(*panel.at(*PANEL_LAST))
        assert j.wait_line(r"Se desconectó .*", timeout=10), "Cortar did not end the session"
        ended = len(j.log())
        assert screen.wait_for(lambda: phone.proc.poll() is not None, 10)
        # A second's line after the session ended: the program went on.
        assert orvane.wait_for(lambda: [l for l in j.log()[ended:] if re.fullmatch(r"estado .* conectado=0 .*", l)],
                               10)
        assert proc.poll() is None, "the program ended with the session"
    finally:
        proc.kill()


PANEL_PILL = (160, 217)  # the quality pill after a phone name of about 100 DIP


def panel_menu_open(panel):
    """The panel's quality menu, above the pill: the strip of its body between its two rows."""
    shot = screen.grab()
    left, top = panel.at(100, 156)
    right, bottom = panel.at(276, 160)
    return shot.count(left, top, right, bottom, 0x16181C, 4) > 400


def panel_window():
    return screen.window_of_size("Orvane", *PANEL_SIZE)


def clipboard():
    out = subprocess.run(["xclip", "-selection", "clipboard", "-o"], capture_output=True, text=True, timeout=10)
    return out.stdout if out.returncode == 0 else None


def copied_shown(main):
    """The camera row's check mark (the name was just copied), in the accent colour."""
    return screen.colour_near(main.at(331, 156), 0xC8F04A, 8, 16) > 10


def test_the_tray_menu_the_tray_click_and_the_copied_camera_name(clean_settings, tmp_path, clip_dir):
    proc, j, port = start_with_window(tmp_path, "--codigo", "123456", seconds=600)
    try:
        main = screen.wait_for(main_window, 20)
        assert main

        def menu_height():
            menu = screen.tray_menu()
            assert menu, "the tray's menu did not show"
            screen.click(menu.left + 30, menu.top + 10)  # "Abrir Orvane": the window is already open
            assert screen.wait_for(lambda: not [w for w in screen.windows("") if w.id == menu.id], 3)
            return menu.height

        # No phone: "Abrir Orvane", a separator, "Salir"; with one, "Cortar" too: one item more.
        alone = menu_height()
        # Streams until the test stops it, however long the fifty clicks below take.
        phone = Phone(port, str(tmp_path), "--code", "123456", "--clip", os.path.join(clip_dir, "clip-720p30.h264"),
                      "--seconds", "600")
        assert screen.wait_for(phone.welcomed, 20)
        assert j.wait_line(r"estado .* conectado=1 .*", timeout=10)
        connected = menu_height()
        assert 12 <= connected - alone <= 32, (alone, connected)

        # One click on the icon opens the panel, the next one closes it, and it stays closed; the
        # panel is drawn each time it shows (on Windows a swap chain made anew for the same window
        # can fail while the old one is still being destroyed).
        for opened in range(25):
            screen.click(*screen.tray_icon())
            panel = screen.wait_for(panel_window, 5)
            assert panel, f"click {2 * opened + 1} did not open the panel"
            # Looked up again each time: the panel is placed anew when it opens, maybe after it shows.
            assert screen.wait_for(lambda: (p := panel_window()) and panel_drawn(p), 5), \
                f"the panel shown {opened + 1} times was not drawn"
            time.sleep(0.5)  # not a double click
            screen.click(*screen.tray_icon())
            assert screen.wait_for(lambda: panel_window() is None, 5), "the click on the icon left the panel open"
            time.sleep(0.5)
        # A hover drawn on the main window comes after that click was handled.
        assert hover_answered(screen.wait_for(main_window, 5), 5.0)
        assert panel_window() is None, "the click that closed the panel opened it again"

        # The more menu's camera row: the name on the clipboard, the check mark for 1.5 s.
        main = screen.wait_for(main_window, 5)
        assert main
        screen.click(*main.at(*MORE))
        assert screen.wait_for(lambda: more_menu_open(main), 5)
        assert not copied_shown(main)
        screen.click(*main.at(200, 156))
        clicked = time.monotonic()
        assert screen.wait_for(lambda: copied_shown(main), 5, step=0.05), "no copied mark"
        assert screen.wait_for(lambda: clipboard() == "Orvane Cam", 5), clipboard()
        assert screen.wait_for(lambda: not copied_shown(main), 10, step=0.05), "the copied mark stayed"
        # Shown for 1.6 s by the program's timer: never gone sooner, whatever the load (which only makes
        # the test see it later).
        assert time.monotonic() - clicked >= 1.3
        assert more_menu_open(main)
        phone.stop()
    finally:
        proc.kill()


def preview_colours(main):
    """Distinct colours in the main window's preview area: a picture has many, the waiting text few."""
    shot = screen.grab()
    left, top = main.at(17, 57)
    right, bottom = main.at(363, 253)
    return len({shot.pixel(x, y) for y in range(top, bottom, 3) for x in range(left, right, 3)})


def test_a_window_shown_by_a_second_copy_shows_the_picture(clean_settings, tmp_path, clip_dir):
    log = orvane.Log(str(tmp_path / "orvane.log"))
    # Normal mode: the hand-over to the running copy is not made in test mode.
    first = orvane.start("--oculta", "--codigo", "123456", "--registro", orvane.windows_path(log.log_path),
                         "--salir-tras", "40")
    try:
        port = log.wait_listening(timeout=60)
        phone = Phone(port, str(tmp_path), "--code", "123456", "--clip", os.path.join(clip_dir, "clip-720p30.h264"),
                      "--seconds", "30")
        assert screen.wait_for(phone.welcomed, 20)
        assert log.wait_line(r"estado .* conectado=1 .*", timeout=10)
        assert main_window() is None
        code, _ = orvane.run()
        assert code == 0
        main = screen.wait_for(main_window, 10)
        assert main, "the second copy did not show the running one's window"
        # A key frame's round trip and a first decode: well within 8 s, but never without the preview.
        assert screen.wait_for(lambda: preview_colours(main) > 200, 8), "no picture in the window it showed"
        phone.stop()
    finally:
        first.kill()


def test_conectar_on_a_middle_phones_row_lets_that_phone_in_and_no_other(clean_settings, tmp_path, clip_dir):
    """Three phones wait; the rows show the last two. "Conectar" on the upper row lets in the second
    phone: neither the oldest nor the newest, so a fault that takes either end of the list shows."""
    proc, j, port = start_with_window(tmp_path)
    try:
        main = screen.wait_for(main_window, 20)
        assert main
        clip = os.path.join(clip_dir, "clip-720p30.h264")
        phones = {}
        for name in ("Uno", "Dos", "Tres"):
            phones[name] = Phone(port, str(tmp_path), "--device", name, "--clip", clip, "--seconds", "30")
            assert j.wait_line(rf"HELLO de {name} .*", timeout=10)
        # The newest at the bottom, the one before it above (row ids 100 + index in the whole list).
        upper = main.at(337, PENDING_ROW[1] - 64)
        assert screen.wait_for(lambda: screen.colour_near(upper, 0xC8F04A, 2, 12) > 15, 10), "no second row"
        screen.click(*main.at(PENDING_ROW[0], PENDING_ROW[1] - 64))
        assert screen.wait_for(phones["Dos"].welcomed, 10), "the phone of that row was not let in"
        # The program's next second has passed since: whatever one click lets in is in by then.
        welcomed = len(j.log())
        assert orvane.wait_for(lambda: [l for l in j.log()[welcomed:] if l.startswith("estado ")], 10)
        assert [l for l in j.log() if l.startswith("WELCOME a")] == ["WELCOME a Dos"], j.log()
        assert not phones["Uno"].welcomed() and not phones["Tres"].welcomed(), "another phone got in too"
        for phone in phones.values():
            phone.stop()
    finally:
        proc.kill()


def png_pixels(path):
    info = json.loads(subprocess.run(["ffprobe", "-v", "error", "-show_streams", "-of", "json", path],
                                     capture_output=True, text=True, check=True).stdout)["streams"][0]
    raw = subprocess.run(["ffmpeg", "-loglevel", "error", "-i", path, "-f", "rawvideo", "-pix_fmt", "rgb24", "-"],
                         capture_output=True, check=True).stdout
    return screen.Shot(info["width"], info["height"], raw)


def clock(line):
    h, m, s = line[:12].split(":")
    return int(h) * 3600 + int(m) * 60 + float(s)


def test_live_capture_draws_the_main_window_with_the_phone_picture(clean_settings, tmp_path, clip_dir):
    out = tmp_path / "vivo.png"
    proc, j, port = start_with_window(tmp_path, "--oculta", "--codigo", "123456",
                                      "--captura-en-vivo", orvane.windows_path(str(out)))
    try:
        phone = Phone(port, str(tmp_path), "--code", "123456", "--clip", os.path.join(clip_dir, "clip-720p30.h264"),
                      "--width", "1280", "--height", "720", "--fps", "30", "--seconds", "20")
        assert j.wait_line(r"Captura en vivo .*: ok", timeout=30), j.log()[-5:]
        phone.stop()
    finally:
        proc.kill()
    raw = (orvane.read_text(j.log_path) or "").replace("\r\n", "\n").split("\n")
    first = next(l for l in raw if "Decodificador listo" in l)
    taken = next(l for l in raw if "Captura en vivo" in l)
    assert clock(taken) - clock(first) >= 4.0, "captured before the picture had run 4 s"
    shot = png_pixels(str(out))
    assert (shot.width, shot.height) == (380, 560)
    # The preview area (17..363 x 57..253) holds the clip's picture, letter-boxed to 346x195 from
    # y=57: one of ffmpeg's pictures of the clip, read as the program reads it, matches it closely
    # (some of the clip's pictures are nearly flat, so counting colours proves nothing).
    clip = os.path.join(clip_dir, "clip-720p30.h264")
    raw = subprocess.run(["ffmpeg", "-loglevel", "error", "-i", clip, "-vf",
                          "scale=346:195:in_color_matrix=bt709:in_range=tv:out_range=pc,format=rgb24",
                          "-f", "rawvideo", "-"], capture_output=True, check=True).stdout
    size = 346 * 195 * 3
    frames = [raw[i:i + size] for i in range(0, len(raw) - size + 1, size)]
    points = [(x, y) for x in range(24, 356, 8) for y in range(64, 246, 8)]
    got = [shot.pixel(x, y) for x, y in points]

    def error(frame):
        want = [frame[((y - 57) * 346 + x - 17) * 3:((y - 57) * 346 + x - 17) * 3 + 3] for x, y in points]
        return sum(sum((a - b) ** 2 for a, b in zip(g, w)) for g, w in zip(got, want)) / (3 * len(points))

    best = min(error(f) for f in frames)
    psnr = 10 * math.log10(255 * 255 / max(best, 1e-9))
    assert psnr > 24, f"the preview is not the phone's picture (PSNR {psnr:.1f} dB against the best frame)"
    assert shot.pixel(190, 20) == (11, 12, 14), "the title bar of the window"
