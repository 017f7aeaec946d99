"""A graphics device the driver takes away, simulated in the running program (its test mode reads
the fault to simulate from a file): the windows draw again, the decoder decodes again, the camera
gets pictures again, the loss is logged, and nothing keeps the old device alive."""
import os
import re

import pytest

import orvane
import screen
from journey import PANEL_SIZE, Phone, main_window, panel_drawn
from pcdouble import clips
from viewer import Viewer

CODE = "123456"
LOST = r"Se perdió el dispositivo gráfico \((0x[0-9a-f]{8})\): lo hago de nuevo"
REMOVED, RECREATE_TARGET = "0x887a0005", "0x8899000c"
FREED = r"Prueba: el dispositivo gráfico anterior quedó liberado"


@pytest.fixture(autouse=True)
def display():
    if not os.environ.get("DISPLAY"):
        pytest.skip("needs the X display of scripts/test")


def preview(window):
    """The main window's picture area, as on screen now."""
    return screen.grab().region(*window.at(40, 70), *window.at(340, 240))


def counts(log):
    """Pictures decoded and written to the camera, from the newest second's line."""
    m = None
    for line in log.lines("estado "):
        m = re.search(r" decodificados=(\d+) a_camara=(\d+)", line) or m
    return (int(m.group(1)), int(m.group(2))) if m else (0, 0)


def count_lines(log, pattern):
    return sum(1 for line in log.log() if re.fullmatch(pattern, line))


class Streaming:
    """The program in test mode with its window shown, a fault file, and the phone stand-in streaming
    720p30 to it; what the test started is stopped on leaving."""

    def __init__(self, tmp_path, seconds, fault_text=None):
        self.fault = tmp_path / "falla.txt"
        if fault_text:
            self.fault.write_text(fault_text)
        self.tmp_path, self.seconds = tmp_path, seconds
        self.log = orvane.Log(str(tmp_path / "orvane.log"))
        self.phone = self.viewer = None

    def __enter__(self):
        self.proc = orvane.start("--prueba", "--registro", orvane.windows_path(self.log.log_path), "--salir-tras",
                                 str(self.seconds), "--codigo", CODE, "--simular-falla",
                                 orvane.windows_path(self.fault))
        return self

    def window_and_phone(self):
        port = self.log.wait_listening(timeout=60)
        main = screen.wait_for(main_window, 20)
        assert main, "no window"
        screen.move(5, 5)
        self.phone = Phone(port, str(self.tmp_path), "--code", CODE, "--clip",
                           os.path.join(clips(), "clip-720p30.h264"), "--width", "1280", "--height", "720",
                           "--fps", "30", "--seconds", str(self.seconds - 10))
        return main

    def __exit__(self, *exc):
        if self.phone:
            self.phone.stop()
        if self.proc.poll() is None:
            self.proc.terminate()
        self.proc.wait(timeout=20)
        if self.viewer:
            self.viewer.proc.kill()


def test_a_lost_device_is_made_again_for_the_windows_the_decoder_and_the_camera(clean_settings, tmp_path):
    with Streaming(tmp_path, 120) as run:
        log, fault = run.log, run.fault
        main = run.window_and_phone()
        phone = run.phone
        viewer = run.viewer = Viewer("--width", "1280", "--height", "720", "--seconds", "100")
        assert log.wait_line(r"demora ms .* vista=[0-9.]+/[0-9.]+ .*", timeout=30), "the picture was shown"

        def recovered(step, losses, reason=REMOVED):
            """The fault `step` simulated: lost once, back on screen, in the decoder and the camera."""
            keyframes = len([c for c in phone.commands() if c.get("cmd") == "keyframe"])
            fault.write_text(step)
            assert orvane.wait_for(lambda: count_lines(log, LOST) == losses, 10), (step, log.log()[-20:])
            assert [m.group(1) for m in map(lambda l: re.fullmatch(LOST, l), log.log()) if m][-1] == reason
            assert orvane.wait_for(lambda: count_lines(log, r"Dispositivo gráfico nuevo listo") == losses, 10), \
                (step, log.log()[-30:])
            assert orvane.wait_for(lambda: count_lines(log, FREED) == losses, 10), \
                (f"{step}: something still holds the old device", log.log()[-30:])
            # The phone is asked for a key frame, and the decoder and the camera go on.
            assert phone.wait_command("keyframe", after=keyframes), step
            decoded, camera = counts(log)
            assert orvane.wait_for(lambda: counts(log)[0] >= decoded + 30 and counts(log)[1] >= camera + 30, 8), \
                (step, decoded, camera, counts(log))
            # Drawn again: the moving picture changes on screen.
            first = preview(main)
            assert screen.wait_for(lambda: preview(main) != first, 3), f"{step}: the window no longer draws"

        recovered("presentacion", 1)
        recovered("dibujo", 2, RECREATE_TARGET)
        recovered("decodificacion", 3)
        # The next two new devices cannot be made: tried again each second, not in a loop.
        recovered("presentacion sin-dispositivo 2", 4)
        assert count_lines(log, r"No se pudo crear el dispositivo gráfico: lo intento de nuevo cada segundo") == 1
        # Made again at a later tick (the loss and the tick after it both fail), counted in the
        # program's own one-second lines: not in a loop, and not left for later.
        lines = log.log()
        lost = max(i for i, l in enumerate(lines) if re.fullmatch(LOST, l))
        made = max(i for i, l in enumerate(lines) if l == "Dispositivo gráfico nuevo listo")
        ticks = [l for l in lines[lost:made] if l.startswith("estado ")]
        assert 1 <= len(ticks) <= 2, lines[lost:made + 1]

        # The panel too draws again.
        screen.click(*screen.tray_icon())
        panel = screen.wait_for(lambda: screen.window_of_size("Orvane", *PANEL_SIZE), 5)
        assert panel, "the panel opened"
        recovered("dibujo", 5, RECREATE_TARGET)
        region = (*panel.at(20, 60), *panel.at(280, 200))
        first = screen.grab().region(*region)
        assert screen.wait_for(lambda: screen.grab().region(*region) != first, 3), "the panel no longer draws"

        # The camera was never left without pictures for long, by the viewer's own clock.
        times = [s["qpc"] / 1e6 for _, s in viewer.samples() if s["ymean"] != 16.0]
        assert times and max(b - a for a, b in zip(times, times[1:])) < 2.5


def test_a_device_lost_while_the_windows_are_hidden_is_made_again_and_the_panel_draws(clean_settings, tmp_path):
    # Started hidden, as with Windows: nothing is drawn, yet the tick notices the loss.
    fault = tmp_path / "falla.txt"
    log = orvane.Log(str(tmp_path / "orvane.log"))
    proc = orvane.start("--prueba", "--oculta", "--registro", orvane.windows_path(log.log_path), "--salir-tras",
                        "60", "--simular-falla", orvane.windows_path(fault))
    try:
        log.wait_listening(timeout=60)
        fault.write_text("dispositivo")
        lost = log.wait_line(LOST, timeout=20)
        assert lost and lost.group(1) == REMOVED, log.log()[-10:]
        assert log.wait_line(r"Dispositivo gráfico nuevo listo", timeout=20), log.log()[-10:]
        assert log.wait_line(FREED, timeout=20), "something still holds the lost device"
        screen.click(*screen.wait_for(screen.tray_icon, 20))
        panel = screen.wait_for(lambda: screen.window_of_size("Orvane", *PANEL_SIZE), 5)
        assert panel, "the panel did not open"
        assert screen.wait_for(lambda: panel_drawn(panel), 5), "the panel shown after the loss was not drawn"
    finally:
        proc.kill()


@pytest.mark.parametrize("fault, device", [
    # No hardware adapter at all: WARP.
    ("sin-hardware", r"D3D11 por hardware falló \(0x887a0004\), uso WARP"),
    # Only video support refused (virtual machines, remote sessions): the hardware device without it.
    ("sin-video", r"D3D11 por hardware con video falló \(0x80070057\): lo intento sin video"),
])
def test_with_a_lesser_device_the_program_comes_up_and_decodes(clean_settings, tmp_path, fault, device):
    # Read once, before the first device is made.
    with Streaming(tmp_path, 60, fault_text=fault) as run:
        main = run.window_and_phone()
        assert run.log.find(device), run.log.log()[:20]
        assert (run.log.find(r"D3D11 por hardware falló .*") is None) == (fault == "sin-video")
        assert orvane.wait_for(lambda: counts(run.log)[0] >= 30, 20), run.log.log()[-10:]
        first = preview(main)
        assert screen.wait_for(lambda: preview(main) != first, 3), "the picture is not drawn"


def test_a_crash_is_logged_with_its_code_place_and_call_chain(clean_settings, tmp_path):
    with Streaming(tmp_path, 60) as run:
        try:
            run.log.wait_listening(timeout=60)
            run.fault.write_text("excepcion")
            crash = run.log.wait_line(r"Falla: excepción 0xc0000005 en (\S+)\+0x[0-9a-f]+ \(hilo \d+\)", 10)
            assert crash, run.log.log()[-10:]
            # The chain reaches back into the program's own code, and stops at the thread's first frame.
            assert orvane.wait_for(lambda: any(re.fullmatch(r"  desde Orvane\.exe\+0x[0-9a-f]+", line)
                                               for line in run.log.log()), 5), run.log.log()[-30:]
            chain = [line for line in run.log.log() if line.startswith("  desde ")]
            assert all(re.fullmatch(r"  desde [^+ ]+\.(exe|dll)\+0x[0-9a-f]{1,8}", line) for line in chain), chain
        finally:
            # Wine's debugger takes the crashed process over; it goes with the prefix's processes.
            orvane.stop_all()


def test_an_exit_held_by_a_stalled_session_thread_waits_five_seconds_and_ends_cleanly(clean_settings, tmp_path):
    """A session thread that does not end (its decoder stalled for a minute) holds the exit 5 s and
    no longer: the program says so and ends with 0, leaving what that thread still uses to the
    process's end."""
    with Streaming(tmp_path, 20) as run:
        run.window_and_phone()
        log = run.log
        assert log.wait_line(r"estado .* conectado=1 .*", timeout=20)
        run.fault.write_text("cuelgue 60")
        assert log.wait_line(r"Prueba: falla simulada \(cuelgue 60\)", timeout=10)
        assert run.proc.wait(timeout=60) == 0
        assert log.find(r"Un hilo de la conexión sigue ocupado tras 5 s: salgo sin cerrar el video"), log.log()[-5:]
        assert not log.find(r"Falla: .*"), "nothing crashed on the way out"
