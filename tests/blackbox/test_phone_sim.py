"""The phone stand-in against a PC double that speaks the protocol."""
import json
import os
import select
import struct
import subprocess
import time

import pytest

from pcdouble import (COMMAND, CONFIG, DENY, HELLO, PING, PONG, STATUS, VIDEO, WELCOME, PcDouble, Sim, clips, sim_path)

SIM = os.environ.get("ORVANE_PHONE_SIM")
TOKEN = "0123456789abcdef" * 4


@pytest.fixture(scope="module")
def clip_dir():
    return clips()


@pytest.fixture
def pc():
    double = PcDouble()
    yield double
    double.close()


def hello_of(pc, *args):
    sim = Sim(SIM, pc.port, *args)
    peer = pc.accept()
    kind, payload = peer.read()
    assert kind == HELLO
    return sim, peer, payload.decode()


def video_payloads(peer):
    """Every Video payload until the stand-in hangs up, its Pings answered on the way."""
    videos = []
    try:
        while True:
            k, p = peer.read()
            if k == PING:
                peer.send(PONG, p)
            if k == VIDEO:
                videos.append(p)
    except ConnectionError:
        pass
    return videos


def welcome(peer, token=TOKEN):
    peer.send(WELCOME, json.dumps({"pc": "PC", "id": "x", "token": token}, separators=(",", ":")))


def test_hello_carries_the_asked_fields_and_the_token_is_kept_for_next_time(pc, tmp_path):
    token_file = tmp_path / "token"
    sim, peer, text = hello_of(pc, "--device", "Quon \"1\"", "--model", "iPhone15,2", "--code", "123456",
                               "--token-file", sim_path(token_file), "--seconds", "1")
    assert json.loads(text) == {"v": 1, "device": "Quon \"1\"", "model": "iPhone15,2", "code": "123456"}
    welcome(peer)
    assert sim.wait()[0] == 0
    assert token_file.read_text().strip() == TOKEN
    assert sim.lines[0]["type"] == "Welcome" and json.loads(sim.lines[0]["payload"])["token"] == TOKEN
    peer.close()

    sim, peer, text = hello_of(pc, "--token-file", sim_path(token_file), "--seconds", "1")
    assert json.loads(text)["token"] == TOKEN
    assert "code" not in json.loads(text)
    welcome(peer)
    assert sim.wait()[0] == 0
    peer.close()


@pytest.mark.parametrize("args,expected", [
    (["--no-v", "--no-device"], {"model": "iPhone15,2"}),
    (["--v", "\"1\"", "--code", ""], {"v": "1", "device": "iPhone de prueba", "model": "iPhone15,2", "code": ""}),
    (["--v", "2", "--token", "malo"], {"v": 2, "device": "iPhone de prueba", "model": "iPhone15,2", "token": "malo"}),
])
def test_hello_can_leave_out_or_spoil_fields(pc, args, expected):
    sim, peer, text = hello_of(pc, *args, "--seconds", "1")
    assert json.loads(text) == expected
    peer.send(DENY, '{"reason":"version"}')
    code, err = sim.wait(timeout=40)
    assert code == 3
    assert "DENY version" in err
    peer.close()


def test_deny_is_a_distinct_exit_and_no_token_is_written(pc, tmp_path):
    token_file = tmp_path / "token"
    sim, peer, _ = hello_of(pc, "--code", "000000", "--token-file", sim_path(token_file))
    peer.send(DENY, '{"reason":"code"}')
    code, err = sim.wait(timeout=40)
    assert code == 3 and "DENY code" in err
    assert not token_file.exists()
    peer.close()


def test_waiting_for_approval_the_phone_pings_and_the_pc_may_answer(pc):
    sim, peer, _ = hello_of(pc, "--seconds", "4")
    k, p = peer.read()
    assert k == PING and len(p) == 8
    time.sleep(1.2)
    welcome(peer)
    assert peer.read_until(CONFIG)
    assert sim.wait()[0] == 0
    peer.close()


def test_streams_the_clip_as_access_units_at_its_rate(pc, clip_dir, tmp_path):
    clip = os.path.join(clip_dir, "clip-720p30.h264")
    sim, peer, _ = hello_of(pc, "--clip", sim_path(clip), "--fps", "30", "--seconds", "3.2")
    welcome(peer)
    frames = []
    config = json.loads(peer.read_until(CONFIG, keep=frames))
    assert config == {"codec": "h264", "width": 1280, "height": 720, "fps": 30}
    status = json.loads(peer.read_until(STATUS, keep=frames))
    assert status["caps"] == {"720p": [30, 60], "1080p": [30, 60], "4K": [30], "focus": ["face", "auto", "manual"],
                              "blur": True}
    videos = video_payloads(peer)
    assert sim.wait()[0] == 0
    # 3 s at 30 fps, so the 2 s clip looped once.
    assert 80 <= len(videos) <= 100, len(videos)
    stamps = [struct.unpack(">Q", v[:8])[0] for v in videos]
    assert stamps == sorted(stamps)
    span = (stamps[-1] - stamps[0]) / 1e6
    assert 2.5 < span < 3.3, span
    keys = [i for i, v in enumerate(videos) if v[8] & 1]
    assert keys[:4] == [0, 15, 30, 45], keys
    # The units are the clip's own pictures: ffmpeg decodes every one.
    stream = tmp_path / "got.h264"
    stream.write_bytes(b"".join(v[9:] for v in videos[:60]))
    count = subprocess.run(["ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                            "stream=nb_read_frames", "-of", "csv=p=0", str(stream)],
                           capture_output=True, text=True, check=True).stdout.strip()
    assert int(count) == 60
    assert stream.read_bytes() == open(clip, "rb").read(), "60 units at 30 fps are the whole clip"
    peer.close()


def test_aud_after_ends_each_unit_with_an_access_unit_delimiter(pc, clip_dir, tmp_path):
    clip = os.path.join(clip_dir, "clip-720p30.h264")
    sim, peer, _ = hello_of(pc, "--clip", sim_path(clip), "--fps", "30", "--seconds", "1.2", "--aud-after")
    welcome(peer)
    videos = [p[9:] for p in video_payloads(peer)]
    assert sim.wait()[0] == 0
    delimiter = b"\x00\x00\x00\x01\x09\xf0"
    assert len(videos) >= 20 and all(v.endswith(delimiter) for v in videos)
    # Without the delimiters, the clip's own units.
    assert b"".join(v[:-len(delimiter)] for v in videos[:30]).startswith(open(clip, "rb").read()[:1000])
    peer.close()


def test_sent_prints_each_video_frame_with_its_clip_unit_stamp_and_key_flag(pc, clip_dir):
    clip = os.path.join(clip_dir, "clip-720p30.h264")
    sim, peer, _ = hello_of(pc, "--clip", sim_path(clip), "--fps", "30", "--seconds", "2.6", "--sent")
    welcome(peer)
    videos = video_payloads(peer)
    assert sim.wait()[0] == 0
    sent = [line for line in sim.lines if line["type"] == "sent"]
    assert len(sent) == len(videos) > 60
    assert [s["clock"] for s in sent] == [struct.unpack(">Q", v[:8])[0] for v in videos]
    assert [s["key"] for s in sent] == [bool(v[8] & 1) for v in videos]
    # The 2 s clip's 60 units in order, then from the first again.
    assert [s["unit"] for s in sent] == [i % 60 for i in range(len(sent))]
    peer.close()


def test_answers_pings_with_the_same_payload_and_pings_every_second(pc, clip_dir):
    sim, peer, _ = hello_of(pc, "--seconds", "3.5")
    welcome(peer)
    probe = bytes(range(8)) + b"extra"
    peer.send(PING, probe)
    own_pings = 0
    pong = None
    try:
        while True:
            k, p = peer.read()
            if k == PONG:
                pong = p
            elif k == PING:
                own_pings += 1
                assert len(p) == 8
    except ConnectionError:
        pass
    assert pong == probe
    assert 3 <= own_pings <= 5
    sim.wait()
    ping_lines = [line for line in sim.lines if line["type"] == "Ping"]
    assert ping_lines and ping_lines[0]["hex"] == probe.hex()
    peer.close()


def commands_session(pc, clip_dir, *extra):
    clip = os.path.join(clip_dir, "clip-720p30.h264")
    sim, peer, _ = hello_of(pc, "--clip", sim_path(clip), "--seconds", "6", *extra)
    welcome(peer)
    peer.read_until(STATUS)
    return sim, peer


def next_of(peer, kind, timeout=5):
    return peer.read_until(kind, timeout=timeout)


def test_quality_switches_clip_when_one_is_given_and_reports_config(pc, clip_dir):
    sim, peer = commands_session(pc, clip_dir, "--clip-1080p", sim_path(os.path.join(clip_dir, "clip-1080p60.h264")))
    peer.send(COMMAND, '{"cmd":"quality","res":"1080p","fps":60}')
    assert json.loads(next_of(peer, CONFIG)) == {"codec": "h264", "width": 1920, "height": 1080, "fps": 60}
    first = next_of(peer, VIDEO)
    assert first[8] & 1, "the new clip starts with its key frame"
    peer.send(COMMAND, '{"cmd":"quality","res":"4K","fps":30}')
    assert json.loads(next_of(peer, CONFIG))["width"] == 1920, "no 4K clip: the phone keeps what it has"
    peer.close()
    sim.wait()
    assert [json.loads(line["payload"])["cmd"] for line in sim.lines if line["type"] == "Command"] == \
        ["quality", "quality"]


def test_pause_resume_keyframe_focus_and_blur(pc, clip_dir):
    sim, peer = commands_session(pc, clip_dir)
    peer.send(COMMAND, '{"cmd":"pause"}')
    assert json.loads(next_of(peer, STATUS)) == {"paused": True}
    quiet_until = time.monotonic() + 0.8
    seen = []
    peer.conn.settimeout(0.2)
    while time.monotonic() < quiet_until:
        try:
            k, p = peer.read()
            seen.append(k)
        except (TimeoutError, OSError):
            pass
    peer.conn.settimeout(10)
    # A frame or two may have been on the way when the pause arrived.
    assert seen.count(VIDEO) <= 2
    peer.send(COMMAND, '{"cmd":"resume"}')
    assert json.loads(next_of(peer, STATUS)) == {"paused": False}
    next_of(peer, VIDEO)
    next_of(peer, VIDEO)
    # Frames already waiting were sent before the command: read them first, so that at most the one
    # on its way can come before the key frame.
    while select.select([peer.conn], [], [], 0.005)[0]:
        peer.read()
    peer.send(COMMAND, '{"cmd":"keyframe"}')
    frames = []
    for _ in range(3):
        frames.append(next_of(peer, VIDEO))
    assert any(f[8] & 1 for f in frames[:2]), "the stream goes on from the next key frame"
    peer.send(COMMAND, '{"cmd":"focus","mode":"manual","value":0.250}')
    assert json.loads(next_of(peer, STATUS)) == {"focus": {"mode": "manual", "value": 0.25, "faces": 1}}
    peer.send(COMMAND, '{"cmd":"blur","value":0.75}')
    assert json.loads(next_of(peer, STATUS)) == {"blur": 0.75}
    peer.close()
    code, _ = sim.wait()
    assert code == 5, "the PC ended the connection"


def test_silent_phone_sends_nothing_after_its_time(pc, clip_dir):
    clip = os.path.join(clip_dir, "clip-720p30.h264")
    sim, peer, _ = hello_of(pc, "--clip", sim_path(clip), "--silent-after", "1", "--seconds", "3")
    welcome(peer)
    peer.conn.settimeout(1.5)
    last = time.monotonic()
    try:
        while True:
            peer.read()
            last = time.monotonic()
    except (TimeoutError, OSError):
        pass
    assert last < time.monotonic() - 1.0
    peer.close()
    sim.wait()
