"""The phone's picture through Orvane.exe and the shared block to the camera DLL, pulled by the
Frame Server stand-in (cam-viewer) in a process of its own, as a camera application would see it."""
import json
import math
import os
import re
import subprocess
import time

import pytest

import orvane
from orvane import Running
from pcdouble import clips
from viewer import Viewer

SIM = orvane.PHONE_SIM
CODE = "123456"


@pytest.fixture(scope="module")
def clip():
    return os.path.join(clips(), "clip-720p30.h264")


def phone(port, clip, seconds, out, *args):
    return subprocess.Popen([SIM, "--port", str(port), "--clip", clip, "--seconds", str(seconds), *args],
                            stdout=out, stderr=subprocess.DEVNULL)


def reference_frames(clip, size):
    """ffmpeg's decode of the clip at the camera's size, luma only, in the studio range it was coded in."""
    raw = subprocess.run(["ffmpeg", "-loglevel", "error", "-i", clip, "-vf", f"scale={size[0]}:{size[1]}:flags=bilinear",
                          "-pix_fmt", "yuv420p", "-f", "rawvideo", "-"], capture_output=True, check=True).stdout
    n = size[0] * size[1]
    return [raw[i:i + n] for i in range(0, len(raw) - n * 3 // 2 + 1, n * 3 // 2)]


def luma_psnr(a, b):
    se = sum((x - y) * (x - y) for x, y in zip(a, b))
    return math.inf if se == 0 else 10 * math.log10(255 * 255 * len(a) / se)


def best_match(sample_luma, frames):
    """The clip frame the sample shows (the stream loops), and the PSNR against it."""
    rough = min(range(len(frames)), key=lambda i: sum(abs(x - y) for x, y in
                                                     zip(sample_luma[::97], frames[i][::97])))
    return rough, luma_psnr(sample_luma, frames[rough])


def test_the_phones_picture_comes_out_of_the_camera_only_while_somebody_pulls(clean_settings, tmp_path, clip):
    app = Running(tmp_path, "--codigo", CODE, seconds=40)
    with open(tmp_path / "phone.jsonl", "w") as out:
        streaming = phone(app.port, clip, 14, out, "--code", CODE)
        assert app.wait_line(r"Nadie mira la imagen: dejo de decodificar")
        assert app.wait_line(r"estado .* conectado=1 .* decodificados=0 .*")

        def pull(width, height, seconds, index, path):
            v = Viewer("--width", str(width), "--height", str(height), "--seconds", str(seconds),
                       "--raw", f"{index}:{orvane.windows_path(path)}")
            code, err = v.wait()
            assert code == 0, err
            return v

        raw, small = tmp_path / "cam720.raw", tmp_path / "cam360.raw"
        v720 = pull(1280, 720, 3, 60, raw)
        assert app.find(r"Memoria de Orvane Cam abierta \(Global\)")
        assert app.find(r"Alguien mira la imagen: pido cuadro clave")
        v360 = pull(640, 360, 2, 45, small)
        streaming.wait(timeout=30)

    got = [json.loads(line) for line in open(tmp_path / "phone.jsonl")]
    assert '{"cmd":"keyframe"}' in [f.get("payload") for f in got if f["type"] == "Command"]
    shown = [s for _, s in v720.samples() if s["ymean"] != 16.0]
    # The block is opened within a second, then the next key frame is awaited.
    assert len(shown) >= 45, "pictures within 1.5 s of the camera starting"
    assert all(s["width"] == 1280 and s["height"] == 720 for _, s in v720.samples())

    # Equal size: the decoded picture as it is.
    frame, psnr = best_match(raw.read_bytes()[:1280 * 720], reference_frames(clip, (1280, 720)))
    assert psnr >= 40.0, (frame, psnr)
    # The camera asked for 640x360: the program converts to that size.
    assert all(s["width"] == 640 for _, s in v360.samples())
    frame, psnr = best_match(small.read_bytes()[:640 * 360], reference_frames(clip, (640, 360)))
    assert psnr >= 30.0, (frame, psnr)
    # Pictures go to the camera within a few milliseconds of being decoded.
    delays = [re.search(r" decodificado=([0-9.]+)/[0-9.]+ camara=([0-9.]+)/", line) for line in app.lines("demora ms")]
    delays = [(float(m.group(1)), float(m.group(2))) for m in delays if m and float(m.group(2)) >= 0]
    assert delays and all(c - d < 10.0 for d, c in delays), delays


def test_the_camera_turns_black_when_the_phone_leaves_and_when_the_program_ends(clean_settings, tmp_path, clip):
    app = Running(tmp_path, "--codigo", CODE, seconds=14)
    v = Viewer("--width", "1280", "--height", "720", "--seconds", "16")
    assert app.wait_line(r"Memoria de Orvane Cam abierta \(Global\)", timeout=20)
    token = str(tmp_path / "token")
    first = phone(app.port, clip, 3, subprocess.DEVNULL, "--code", CODE, "--token-file", token)
    first.wait(timeout=20)
    left = time.monotonic()
    assert app.wait_line(r"Se desconectó iPhone de prueba")
    time.sleep(max(0.0, left + 5.0 - time.monotonic()))
    # Back with its token, and still streaming when the program ends.
    back = time.monotonic()
    second = phone(app.port, clip, 30, subprocess.DEVNULL, "--token-file", token)
    assert app.proc.wait(timeout=30) == 0
    ended = time.monotonic()
    code, err = v.wait()
    assert code == 0, err
    second.wait(timeout=20)
    at = [(t, s["ymean"] != 16.0) for t, s in v.samples()]
    assert any(shown for t, shown in at if t < left), "the first phone was seen"
    assert not any(shown for t, shown in at if left + 3.0 < t < back), "black within 3 s of the phone leaving"
    assert any(shown for t, shown in at if back < t < ended - 0.5), "the phone was seen again"
    assert not any(shown for t, shown in at if t > ended + 0.3), "black once the program is gone"
