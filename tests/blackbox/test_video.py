"""The video pipeline's pictures against ffmpeg's decode of the same clip."""
import os
import re
import subprocess
import json

import pytest

import orvane
from pcdouble import clips

PROBE = os.path.join(orvane.BIN, "video-probe.exe")


@pytest.fixture(scope="module")
def clip_dir():
    return clips()


def probe(*args):
    out = subprocess.run([orvane.WINE, PROBE, *args], env=orvane.env(), capture_output=True, text=True,
                         timeout=120)
    assert out.returncode == 0, out.stderr
    return json.loads(out.stdout.strip().splitlines()[-1])


def reference(clip, index, path, extra=""):
    """ffmpeg's decode of picture `index`, read as BT.709 studio range like the program does,
    with the chroma interpolated."""
    chain = (f"select=eq(n\\,{index}),scale=in_color_matrix=bt709:in_range=tv:out_range=pc:"
             f"flags=bicubic+full_chroma_int+accurate_rnd{extra},format=bgra")
    subprocess.run(["ffmpeg", "-loglevel", "error", "-y", "-i", clip, "-vf", chain, "-frames:v", "1", path],
                   check=True)


def psnr(a, b):
    out = subprocess.run(["ffmpeg", "-i", a, "-i", b, "-lavfi", "[0:v]format=rgb24[x];[1:v]format=rgb24[y];[x][y]psnr",
                          "-f", "null", "-"], capture_output=True, text=True)
    m = re.search(r"average:([0-9.]+|inf)", out.stderr)
    assert m, out.stderr
    return float(m.group(1))


def png_info(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "stream=width,height,pix_fmt", "-of", "json",
                          path], capture_output=True, text=True, check=True)
    return json.loads(out.stdout)["streams"][0]


def alpha_is_opaque(path):
    raw = subprocess.run(["ffmpeg", "-loglevel", "error", "-i", path, "-vf", "format=rgba,alphaextract",
                          "-f", "rawvideo", "-pix_fmt", "gray", "-"], capture_output=True, check=True).stdout
    return len(raw) > 0 and min(raw) == 255


def test_snapshot_is_the_31st_picture_at_display_size(clip_dir, tmp_path):
    clip = os.path.join(clip_dir, "clip-1080p30.h264")
    snap = tmp_path / "cuadro.png"
    log = tmp_path / "probe.log"
    result = probe("--clip", orvane.windows_path(clip), "--width", "1920", "--height", "1080",
                   "--snapshot", orvane.windows_path(snap), "--log", orvane.windows_path(log))
    assert result["coded"] == [1920, 1088] and result["display"] == [1920, 1080]
    info = png_info(str(snap))
    assert (info["width"], info["height"]) == (1920, 1080)
    assert alpha_is_opaque(str(snap))
    ref = str(tmp_path / "ref.png")
    reference(clip, 30, ref)
    same = psnr(str(snap), ref)
    assert same >= 35.0
    for other in (29, 31):
        reference(clip, other, ref)
        assert psnr(str(snap), ref) < same - 3.0, f"the snapshot is picture 30, not {other}"
    text = log.read_bytes().decode("utf-8")
    assert text.count("Cuadro decodificado guardado (1920x1080) en PNG: ok") == 1


def test_mirror_flips_the_snapshot(clip_dir, tmp_path):
    clip = os.path.join(clip_dir, "clip-720p60.h264")
    snap = tmp_path / "espejo.png"
    probe("--clip", orvane.windows_path(clip), "--width", "1280", "--height", "720", "--fps", "60",
          "--snapshot", orvane.windows_path(snap), "--mirror", "--frames", "40")
    ref = str(tmp_path / "ref.png")
    reference(clip, 30, ref, ",hflip")
    flipped = psnr(str(snap), ref)
    assert flipped >= 35.0
    reference(clip, 30, ref)
    assert psnr(str(snap), ref) < flipped - 3.0


def test_snapshot_needs_more_than_30_decoded_pictures(clip_dir, tmp_path):
    clip = os.path.join(clip_dir, "clip-720p30.h264")
    snap = tmp_path / "nunca.png"
    result = probe("--clip", orvane.windows_path(clip), "--width", "1280", "--height", "720",
                   "--snapshot", orvane.windows_path(snap), "--frames", "30")
    assert result["decoded"] <= 30
    assert not snap.exists()


def test_unwritable_snapshot_path_logs_error_and_decoding_goes_on(clip_dir, tmp_path):
    clip = os.path.join(clip_dir, "clip-720p30.h264")
    log = tmp_path / "probe.log"
    result = probe("--clip", orvane.windows_path(clip), "--width", "1280", "--height", "720",
                   "--snapshot", orvane.windows_path(tmp_path / "no-existe" / "x.png"),
                   "--log", orvane.windows_path(log))
    assert result["decoded"] >= 55
    assert "Cuadro decodificado guardado (1280x720) en PNG: ERROR" in log.read_bytes().decode("utf-8")
