""""--captura": states of the interface drawn from sample data into PNG files, checked by size,
by pixels at their places and by reading the QR code back."""
import json
import os
import subprocess

import pytest

import orvane

SAMPLE_ADDRESS = "orvane://pc?host=192.168.0.23&port=47800&code=735104&id=3f2a9c1e-7b4d-4e8a-9c61-2f0c8d4e5b17"


def capture(path, *args):
    code, _ = orvane.run("--captura", orvane.windows_path(path), *args)
    return code


class Picture:
    def __init__(self, path):
        info = json.loads(subprocess.run(["ffprobe", "-v", "error", "-show_entries", "stream=width,height", "-of",
                                          "json", str(path)], capture_output=True, text=True, check=True).stdout)
        self.width, self.height = info["streams"][0]["width"], info["streams"][0]["height"]
        self.rgba = subprocess.run(["ffmpeg", "-loglevel", "error", "-i", str(path), "-f", "rawvideo", "-pix_fmt",
                                    "rgba", "-"], capture_output=True, check=True).stdout

    def at(self, x, y):
        i = (int(y) * self.width + int(x)) * 4
        return tuple(self.rgba[i:i + 4])

    def rgb(self, x, y):
        r, g, b, _ = self.at(x, y)
        return r << 16 | g << 8 | b


@pytest.mark.parametrize("args,size", [
    ([], (380, 560)),
    (["--estado", "conectado", "--calidad", "4K@30", "--pedido", "1080p@60", "--menu", "--hover", "31"], (380, 560)),
    (["--estado", "pausa", "--mas", "--hover", "3", "--foco", "manual", "--foco-valor", "2"], (380, 560)),
    (["--estado", "conectado", "--foco", "auto", "--caras", "0", "--fondo", "-1", "--sin-foco"], (380, 560)),
    (["--estado", "pendiente", "--hover", "100", "--escala", "1.25"], (475, 700)),
    (["--escala", "2"], (760, 1120)),
    (["--estado", "icono", "--escala", "2"], (64, 64)),
    (["--estado", "bandeja", "--escala", "1.5"], (450, 468)),
    (["--escala", "0"], (380, 560)),
    (["--escala", "-2"], (380, 560)),
    (["--escala", "abc"], (380, 560)),
])
def test_every_kind_is_drawn_at_its_size(tmp_path, args, size):
    out = tmp_path / "shot.png"
    assert capture(out, *args) == 0
    p = Picture(out)
    assert (p.width, p.height) == size


@pytest.mark.parametrize("scale", [1, 2])
def test_the_qr_code_reads_back_and_the_waiting_state_is_where_it_belongs(tmp_path, scale):
    out = tmp_path / "esperando.png"
    assert capture(out, "--escala", str(scale)) == 0
    read = subprocess.run(["zbarimg", "-q", "--raw", str(out)], capture_output=True, text=True)
    assert read.stdout.strip() == SAMPLE_ADDRESS
    p = Picture(out)
    s = scale
    assert p.at(0, 0)[3] == 0, "outside the rounded frame stays transparent"
    assert p.rgb(190 * s, 400 * s) == 0x0B0C0E, "window background"
    assert p.rgb(117 * s, 170 * s) == 0xF2F3F5, "the QR card's quiet zone"
    assert p.rgb(190 * s, 40.5 * s) == 0x1A1C20, "header separator"


def test_a_waiting_phone_gets_its_row_and_hover_plates_show(tmp_path):
    out = tmp_path / "pendiente.png"
    assert capture(out, "--estado", "pendiente", "--hover", "2") == 0
    p = Picture(out)
    assert p.rgb(30, 500) == 0x16181C, "the pending phone's card"
    assert p.rgb(40, 500) == 0x1F2228, "its icon tile"
    assert p.rgb(336, 8) == 0xC42B1C, "the hovered close button"
    assert p.rgb(296, 8) != 0x1F2228, "the minimize button is not hovered"


def test_odd_input_still_draws_and_an_unwritable_path_is_code_four(tmp_path):
    plain = tmp_path / "plain.png"
    assert capture(plain) == 0
    unknown = tmp_path / "unknown.png"
    assert capture(unknown, "--estado", "xyz") == 0
    assert Picture(unknown).rgba == Picture(plain).rgba, "an unknown state draws the waiting state"
    not_an_image = tmp_path / "cuadro.txt"
    not_an_image.write_text("no es una imagen")
    without = tmp_path / "without.png"
    assert capture(without, "--estado", "conectado") == 0
    with_text = tmp_path / "with.png"
    assert capture(with_text, "--estado", "conectado", "--cuadro", orvane.windows_path(not_an_image)) == 0
    assert Picture(with_text).rgba == Picture(without).rgba, "a file that is not a picture is drawn as no picture"
    assert capture(tmp_path / "no-existe" / "x.png") == 4
    # A scale no picture can be made at: no target, code two, no file.
    for scale in ("1000", "1e30"):
        huge = tmp_path / f"huge-{scale}.png"
        assert capture(huge, "--escala", scale) == 2
        assert not huge.exists()
    # Drawing that fails (simulated in test mode): code three, no file.
    fault = tmp_path / "falla.txt"
    fault.write_text("dibujo")
    failed = tmp_path / "failed.png"
    assert capture(failed, "--prueba", "--simular-falla", orvane.windows_path(fault)) == 3
    assert not failed.exists() and not fault.exists()


def test_the_connected_states_controls_and_menus_are_where_they_belong(tmp_path):
    live = tmp_path / "conectado.png"
    assert capture(live, "--estado", "conectado", "--hover", "7") == 0
    p = Picture(live)
    assert p.rgb(19, 265) == 0xFF4438, "EN VIVO"
    assert p.rgb(20, 300) == 0x16181C, "settings card"
    assert p.rgb(190, 338.5) == 0x23262C, "card separator"
    assert p.rgb(100, 66) == 0x262B33, "the sample scene's plate"
    assert p.rgb(60, 100) == 0x3B4452, "its picture on the wall"
    assert p.rgb(190, 256) == 0x0B0C0E, "nothing of the scene below the preview"
    assert p.rgb(362, 509) != 0x1F2228, "the hovered disconnect button is lighter than its face"

    paused = tmp_path / "pausa.png"
    assert capture(paused, "--estado", "pausa", "--mas") == 0
    p = Picture(paused)
    assert p.rgb(19, 265) == 0x3A3E46, "EN PAUSA"
    assert p.rgb(130, 60) == 0x16181C, "the more menu's body"
    assert p.rgb(255, 8) == 0x1F2228, "the more button's plate while its menu is open"

    menu = tmp_path / "menu.png"
    assert capture(menu, "--estado", "conectado", "--menu", "--sin-foco") == 0
    p = Picture(menu)
    # The pill is right-aligned at 357; the menu hangs below it, 196 wide, its wells inside.
    wells = [x for x in range(150, 380) if p.rgb(x, 340 + 20) == 0x0B0C0E]
    assert wells, "the quality menu's first well"


def test_the_panel_shows_the_badge_buttons_and_load_in_their_places(tmp_path):
    out = tmp_path / "bandeja.png"
    assert capture(out, "--estado", "bandeja", "--escala", "2") == 0
    p = Picture(out)
    assert p.rgb(284 * 2, 20 * 2) == 0xFF4438, "EN VIVO, right edge at 286"
    assert p.rgb(16 * 2, 240 * 2) == 0xC8F04A, "Abrir"
    assert p.rgb(284 * 2, 240 * 2) == 0x1F2228, "Cortar"
    assert p.rgb(17.5 * 2, 217 * 2) == 0x3DDC84, "the live dot"
    assert p.rgb(150 * 2, 100 * 2) != 0x0B0C0E, "the sample scene in the preview"
