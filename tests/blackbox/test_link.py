"""The real Orvane.exe under Wine with the phone stand-in and raw clients on loopback."""
import json
import os
import re
import shutil
import socket
import struct
import subprocess
import time

import pytest

import orvane
from orvane import Running
from pcdouble import Peer, clips, frame
from viewer import Viewer

SIM = orvane.PHONE_SIM
CODE = "123456"
DNSAPI = os.path.join(orvane.BIN, "..", "standin", "dnsapi.dll")
DNSAPI_SYSTEM32 = os.path.join(orvane.PREFIX, "drive_c", "windows", "system32", "dnsapi.dll")


@pytest.fixture(scope="module")
def clip_dir():
    return clips()


@pytest.fixture
def settings_file(clean_settings):
    return os.path.join(clean_settings, "orvane-prueba.ini")


def sim(port, *args, timeout=60):
    """Runs the stand-in to its end: (exit code, received frames, stderr)."""
    out = subprocess.run([SIM, "--port", str(port), *args], capture_output=True, text=True, timeout=timeout)
    frames = [json.loads(line) for line in out.stdout.splitlines() if line.strip()]
    return out.returncode, frames, out.stderr


def commands(frames):
    return [f["payload"] for f in frames if f["type"] == "Command"]


def raw_client(port):
    s = socket.create_connection(("127.0.0.1", port), timeout=5)
    return Peer(s)


def test_pairing_by_code_then_by_token_and_the_code_is_used_up(clean_settings, settings_file, tmp_path, clip_dir):
    app = Running(tmp_path, "--codigo", CODE)
    token_file = str(tmp_path / "token")
    clip = os.path.join(clip_dir, "clip-720p30.h264")
    code, frames, _ = sim(app.port, "--code", CODE, "--token-file", token_file, "--clip", clip, "--seconds", "2.5",
                          "--device", "Quon\n(1)")
    assert code == 0
    welcome = json.loads(frames[0]["payload"])
    assert frames[0]["type"] == "Welcome"
    assert re.fullmatch(r"[0-9a-f]{64}", welcome["token"])
    settings = orvane.read_text(settings_file)
    assert welcome["id"] in settings
    assert f"celu={welcome['token']}|Quon(1)\n" in settings, "the name is stored without its line break"
    assert open(token_file).read().strip() == welcome["token"]
    assert app.wait_line(r"Se desconectó Quon \(1\)")
    assert app.find(r"HELLO de Quon \(1\) \(iPhone15,2, 127\.0\.0\.1\) v=1 codigo=si token=no")
    assert app.find(r"WELCOME a Quon \(1\)")

    # The QR code shows the code it admits; once the session ended it shows
    # the new one, and no state message re-encodes an unchanged address.
    qr = orvane.wait_for(lambda: len(app.lines("QR: ")) == 2 and app.lines("QR: "), timeout=5)
    assert qr, app.lines("QR: ")
    assert f"&port={app.port}&code={CODE}&id={welcome['id']} (" in qr[0]
    assert "&code=" + CODE not in qr[1] and re.search(r"&code=\d{6}&id=", qr[1])

    # The code admitted one phone; the token admits it again.
    code, _, err = sim(app.port, "--code", CODE, "--seconds", "2")
    assert code == 3 and "DENY code" in err
    code, frames, _ = sim(app.port, "--token-file", token_file, "--seconds", "1.5")
    assert code == 0
    assert json.loads(frames[0]["payload"])["token"] == welcome["token"]
    assert settings_file and orvane.read_text(settings_file).count("celu=") == 1


@pytest.mark.parametrize("args,reason", [
    (["--v", "2", "--code", CODE], "version"),
    (["--no-v", "--code", CODE], "version"),
    (["--code", "000000"], "code"),
    (["--code", ""], "code"),
    (["--token", "f" * 64], "token"),
])
def test_denials_carry_their_reason(clean_settings, tmp_path, args, reason):
    app = Running(tmp_path, "--codigo", CODE)
    code, frames, err = sim(app.port, *args, "--seconds", "3")
    assert code == 3
    assert frames[0] == {"t": frames[0]["t"], "type": "Deny", "code": 3, "payload": json.dumps({"reason": reason},
                                                                                              separators=(",", ":"))}
    assert app.wait_line(rf"DENY \({reason}\) a iPhone de prueba")


def test_codigo_as_the_last_argument_keeps_the_drawn_code_and_an_empty_code_never_pairs(clean_settings, tmp_path):
    app = Running(tmp_path, "--codigo")  # nothing follows it
    qr = app.wait_line(r"QR: orvane://pc\?host=[0-9.]+&port=\d+&code=(\d*)&id=.*")
    assert qr and re.fullmatch(r"\d{6}", qr.group(1)), "the drawn code stays: " + str(qr and qr.group(0))
    code, frames, _ = sim(app.port, "--code", "", "--seconds", "3")
    assert code == 3 and json.loads(frames[0]["payload"]) == {"reason": "code"}
    code, _, _ = sim(app.port, "--code", qr.group(1), "--seconds", "1")
    assert code == 0, "the drawn code pairs"


def test_requests_nobody_answers_are_denied_after_two_minutes_and_free_their_places(clean_settings, tmp_path):
    app = Running(tmp_path, seconds=180)

    def ask(name):
        # Until the PC answers or ends the connection.
        return subprocess.Popen([SIM, "--port", str(app.port), "--device", name, "--seconds", "0"],
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)

    waiting = []
    for i in range(8):
        waiting.append(ask(f"Espera{i}"))
        assert app.wait_line(rf"HELLO de Espera{i} .*", timeout=10)
    asked_at = time.monotonic()
    # Every place is taken: a ninth is told so at once.
    code, frames, _ = sim(app.port, "--device", "Noveno", "--seconds", "1", timeout=20)
    assert code == 3 and json.loads(frames[0]["payload"]) == {"reason": "timeout"}
    # Nobody answers: after 120 s each of the eight is denied, not sooner.
    for p in waiting:
        out, _ = p.communicate(timeout=150)
        assert p.returncode == 3
        denials = [json.loads(f["payload"]) for f in map(json.loads, out.splitlines()) if f["type"] == "Deny"]
        assert denials == [{"reason": "timeout"}]
    waited = time.monotonic() - asked_at
    assert 115 < waited < 135, waited
    assert len(app.lines("DENY (timeout) a Espera")) == 8
    # Their places are free again: a new phone waits rather than being told "timeout".
    late = ask("Despues")
    assert app.wait_line(r"HELLO de Despues .*", timeout=10)
    time.sleep(3)
    assert late.poll() is None, "the new phone was turned away: the places were not freed"
    late.kill()


def test_second_phone_is_busy_while_the_first_streams(clean_settings, tmp_path, clip_dir):
    app = Running(tmp_path, "--codigo", CODE)
    token_file = str(tmp_path / "token")
    assert sim(app.port, "--code", CODE, "--token-file", token_file, "--seconds", "1")[0] == 0
    app.wait_line(r"Se desconectó .*")
    first = subprocess.Popen([SIM, "--port", str(app.port), "--token-file", token_file, "--seconds", "6",
                              "--clip", os.path.join(clip_dir, "clip-720p30.h264")],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    assert orvane.wait_for(lambda: len(app.lines("WELCOME a ")) == 2, timeout=15)
    code, frames, err = sim(app.port, "--token-file", token_file, "--device", "Otro", "--seconds", "2")
    assert code == 3 and "DENY busy" in err
    assert app.find(r"DENY \(busy\) a Otro")
    assert first.wait(timeout=20) == 0


def test_silent_connection_is_closed_after_ten_seconds(clean_settings, tmp_path):
    app = Running(tmp_path)
    peer = raw_client(app.port)
    peer.conn.settimeout(15)
    t0 = time.monotonic()
    assert peer.conn.recv(1) == b""
    waited = time.monotonic() - t0
    assert 9.0 < waited < 13.0, waited
    assert app.wait_line(r"Conexión de 127\.0\.0\.1 sin HELLO: se cierra")


def test_a_phone_that_goes_silent_is_cut_after_five_seconds_and_gets_back_in_when_it_returns(clean_settings, tmp_path,
                                                                                              clip_dir):
    """A phone whose connection died (it sends nothing more, the connection stays open) still counts
    until 5 s of silence cut it; coming back meanwhile, as its app does every second, it is told the
    PC is busy, and the first try after the cut gets in."""
    app = Running(tmp_path, "--codigo", CODE)
    token_file = str(tmp_path / "token")
    t0 = time.monotonic()
    first = subprocess.Popen([SIM, "--port", str(app.port), "--code", CODE, "--token-file", token_file,
                              "--clip", os.path.join(clip_dir, "clip-720p30.h264"), "--silent-after", "1",
                              "--seconds", "12"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    assert app.wait_line(r"WELCOME a .*", timeout=20)
    assert orvane.wait_for(lambda: os.path.exists(token_file) and open(token_file).read().strip(), 10)
    tries = []
    while not tries or tries[-1] == "busy":
        assert len(tries) < 20, tries
        code, frames, err = sim(app.port, "--token-file", token_file, "--seconds", "1")
        tries.append("in" if any(f["type"] == "Welcome" for f in frames) else "busy" if "DENY busy" in err else err)
        if tries[-1] == "busy":
            time.sleep(1)
    assert tries[0] == "busy" and tries[-1] == "in", tries

    out, err = first.communicate(timeout=30)
    assert first.returncode == 5, err
    assert 5.5 < time.monotonic() - t0
    # By the program's clock: cut after its 5 s, and back in within a try of that.
    raw = [l for l in (orvane.read_text(app.log_path) or "").replace("\r\n", "\n").split("\n") if l]
    welcomes = [orvane.log_seconds(l) for l in raw if l[13:].startswith("WELCOME a ")]
    cut = [orvane.log_seconds(l) for l in raw if l[13:] == "5 s sin datos del celu: se corta"]
    assert len(welcomes) == 2 and len(cut) == 1, raw
    assert welcomes[0] + 5.0 < cut[0] < welcomes[0] + 9.0, (welcomes, cut)
    assert cut[0] < welcomes[1] < cut[0] + 6.0, (welcomes, cut)
    assert app.find(r"Se desconectó iPhone de prueba")
    # The PC pinged every second meanwhile, 8 bytes of its own clock each.
    pings = [f for f in map(json.loads, out.splitlines()) if f["type"] == "Ping"]
    assert len(pings) >= 4 and all(len(p["hex"]) == 16 for p in pings)


@pytest.fixture
def small_send_buffers():
    """The command that runs a program in a loopback network of 4 KiB TCP send buffers."""
    network = orvane.SmallSendBuffers()
    try:
        yield network.enter
    finally:
        network.close()


DELAY = re.compile(r"demora ms \(prom/peor\) llegada=(-?[0-9.]+)/(-?[0-9.]+) .*")
STATE = re.compile(r"estado .* decodificados=(\d+) .*")


def test_a_stranger_that_floods_and_never_reads_neither_slows_the_stream_nor_keeps_waiting(
        clean_settings, tmp_path, clip_dir, small_send_buffers):
    # While it waits for the user, the stranger sends 32 KiB Pings and reads nothing: the Pongs to it fill
    # the small buffers at once, and each further one gives up only after the send limit (2 s).
    enter = small_send_buffers
    app = Running(tmp_path, "--codigo", CODE, seconds=120, via=enter)
    streaming = subprocess.Popen([*enter, SIM, "--port", str(app.port), "--code", CODE, "--seconds", "80",
                                  "--clip", os.path.join(clip_dir, "clip-720p30.h264")],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # Somebody watches, so every picture is decoded and its delay measured.
    viewer = Viewer("--width", "1280", "--height", "720", "--seconds", "80")
    stranger = None
    try:
        # Past the decoder's start, the pictures come on time.
        assert orvane.wait_for(lambda: [m for m in map(DELAY.fullmatch, app.log()) if m and
                                        0 <= float(m.group(2)) < 300], timeout=60), app.log()
        stranger = subprocess.Popen([*enter, SIM, "--port", str(app.port), "--device", "Extraño",
                                     "--deaf-after", "0", "--seconds", "80"],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        assert app.wait_line(r"HELLO de Extraño .* codigo=no token=no")
        cut = app.wait_line(r"Extraño no lee lo que le mando mientras espera: se corta", timeout=30)
        log = app.log()
        hello = next(i for i, line in enumerate(log) if line.startswith("HELLO de Extraño"))
        begin = max(i for i in range(hello) if STATE.fullmatch(log[i]))
        end = next((i for i, line in enumerate(log) if line.startswith("Extraño no lee")), len(log))
        # Two whole seconds after it.
        assert orvane.wait_for(lambda: len([line for line in app.log()[end:] if DELAY.fullmatch(line)]) >= 3,
                               timeout=15)
        log = app.log()
        last = [i for i in range(end, len(log)) if DELAY.fullmatch(log[i])][2]
        window = log[begin:last + 1]
        try:
            # Deaf, the stranger learns that its connection was closed from a send that fails.
            let_go = stranger.wait(timeout=20) == 5
        except subprocess.TimeoutExpired:
            let_go = False
    finally:
        for p in (stranger, streaming, viewer.proc):
            if p:
                p.kill()
    # The phone's pictures never waited for the stranger's sends (before, they waited in the socket for up to
    # the whole send limit, and whole seconds went by without one), and they kept coming every second.
    worst = [float(m.group(2)) for m in map(DELAY.fullmatch, window) if m]
    assert len(worst) >= 3 and all(0 <= w < 1000 for w in worst), window
    decoded = [int(m.group(1)) for m in map(STATE.fullmatch, window) if m]
    assert all(later > earlier for earlier, later in zip(decoded, decoded[1:])), window
    assert not [line for line in window if line.startswith("Se desconectó")], window
    # The stranger was let go as if it had left: its connection closed, no DENY.
    assert cut and let_go, "the stranger that reads nothing still waits"
    assert not app.find(r"DENY .* a Extraño")


def test_pings_are_answered_and_the_round_trip_is_measured(clean_settings, tmp_path):
    app = Running(tmp_path, "--codigo", CODE)
    peer = raw_client(app.port)
    peer.send(1, json.dumps({"v": 1, "code": CODE}))
    assert peer.read_until(2)  # WELCOME
    probe = struct.pack(">q", 123456789) + b"+extra"
    peer.send(48, probe)
    got = []
    pong = peer.read_until(49, keep=got)
    assert pong == probe
    # Answer the PC's own pings for a while: its state line then shows a round trip.
    deadline = time.monotonic() + 3
    while time.monotonic() < deadline:
        kind, payload = peer.read()
        if kind == 48:
            assert len(payload) == 8
            peer.send(49, payload)
    peer.close()
    assert app.wait_line(r"estado .* rtt=(?!-1\.0)[0-9.]+ms .*", timeout=5)


def test_saved_quality_and_blur_are_asked_for_right_after_welcome(clean_settings, settings_file, tmp_path):
    os.makedirs(clean_settings)
    with open(settings_file, "w") as f:
        f.write("id=" + "a" * 8 + "-0000-4000-8000-" + "b" * 12 + "\ncalidad=4K@30\nfondo=0.25\n")
    app = Running(tmp_path, "--codigo", CODE)
    code, frames, _ = sim(app.port, "--code", CODE, "--seconds", "1.5", "--no-status")
    assert code == 0
    assert frames[0]["type"] == "Welcome"
    assert commands(frames)[:2] == ['{"cmd":"quality","res":"4K","fps":30}', '{"cmd":"blur","value":0.25}']
    assert app.find(r"Pido calidad 4K@30")


def test_unknown_saved_quality_asks_for_nothing(clean_settings, settings_file, tmp_path):
    os.makedirs(clean_settings)
    with open(settings_file, "w") as f:
        f.write("calidad=1440p@30\n")
    app = Running(tmp_path, "--codigo", CODE)
    code, frames, _ = sim(app.port, "--code", CODE, "--seconds", "1.5")
    assert commands(frames)[:1] == ['{"cmd":"blur","value":0.00}']


def test_a_later_config_of_its_own_is_remembered(clean_settings, settings_file, tmp_path, clip_dir):
    app = Running(tmp_path, "--codigo", CODE)
    code, _, _ = sim(app.port, "--code", CODE, "--clip", os.path.join(clip_dir, "clip-1080p30.h264"),
                     "--width", "1920", "--height", "1080", "--config-after", "1.5", "1280x720@30", "--seconds", "3")
    assert code == 0
    assert app.wait_line(r"CONFIG h264 1280x720@30")
    assert "\ncalidad=720p@30\n" in orvane.wait_for(lambda: orvane.read_text(settings_file), timeout=5)


def test_a_huge_settings_file_with_a_nul_in_its_id_line_keeps_the_id(clean_settings, settings_file, tmp_path):
    pc_id = "0123abcd-0000-4000-8000-0123456789ab"
    os.makedirs(clean_settings)
    with open(settings_file, "wb") as f:
        f.write(b"id=" + pc_id.encode() + b"\0\n" + b"#" * (50 * 1024 * 1024) + b"\n")
    app = Running(tmp_path, "--codigo", CODE)
    code, frames, _ = sim(app.port, "--code", CODE, "--seconds", "1")
    assert code == 0
    assert json.loads(frames[0]["payload"])["id"] == pc_id
    # Linking the phone wrote the file anew: what was read, and the phone.
    assert orvane.wait_for(lambda: os.path.getsize(settings_file) < 4096, timeout=5)
    text = orvane.read_text(settings_file)
    assert f"\nid={pc_id}\n" in text and text.count("\ncelu=") == 1, text


def test_five_wrong_codes_draw_a_new_code(clean_settings, tmp_path):
    app = Running(tmp_path, "--codigo", CODE)
    for _ in range(5):
        assert sim(app.port, "--code", "999999", "--seconds", "2")[0] == 3
    assert app.wait_line(r"5 códigos equivocados seguidos: nuevo código de vinculación")
    code, _, err = sim(app.port, "--code", CODE, "--seconds", "2")
    assert code == 3 and "DENY code" in err, "the guessed-at code is gone"


def test_a_flood_of_silent_connections_does_not_lock_a_phone_out(clean_settings, tmp_path):
    app = Running(tmp_path, "--codigo", CODE)
    silent = [socket.create_connection(("127.0.0.1", app.port), timeout=5) for _ in range(40)]
    time.sleep(1.0)
    code, frames, _ = sim(app.port, "--code", CODE, "--seconds", "1.5")
    assert code == 0 and frames[0]["type"] == "Welcome"
    assert len(app.lines("Demasiadas conexiones sin HELLO")) == 1, app.log()
    # The oldest ones were closed to make room.
    closed = 0
    for s in silent[:20]:
        s.settimeout(2)
        try:
            closed += s.recv(1) == b""
        except OSError:
            closed += 1
        s.close()
    assert closed >= 20
    for s in silent[20:]:
        s.close()


def test_oversized_hello_ends_the_connection(clean_settings, tmp_path):
    app = Running(tmp_path, "--codigo", CODE)
    s = socket.create_connection(("127.0.0.1", app.port), timeout=5)
    s.sendall(struct.pack(">IB", 65 * 1024 + 1, 1))
    s.settimeout(5)
    try:
        assert s.recv(1) == b""
    except ConnectionResetError:
        pass  # closed with our bytes unread: a reset is the same end
    assert app.wait_line(r"Conexión de 127\.0\.0\.1 sin HELLO: se cierra")


@pytest.mark.parametrize("mirror", [False, True])
def test_snapshot_option_saves_a_picture_of_the_phone(clean_settings, tmp_path, clip_dir, mirror):
    snap = tmp_path / "cuadro.png"
    app = Running(tmp_path, "--codigo", CODE, "--guardar-cuadro", orvane.windows_path(snap),
                  *(["--espejo"] if mirror else []))
    clip = os.path.join(clip_dir, "clip-720p30.h264")
    code, _, _ = sim(app.port, "--code", CODE, "--clip", clip, "--seconds", "3")
    assert code == 0
    assert app.wait_line(r"Cuadro decodificado guardado \(1280x720\) en PNG: ok")
    assert app.wait_line(r"Nadie mira la imagen: dejo de decodificar")
    # The session's totals are written when the phone has gone.
    assert app.wait_line(r"DEMORA TOTAL \(al cortar\) llegada: prom=[0-9.-]+ ms p95=[0-9.-]+ ms peor=[0-9.-]+ ms "
                         r"\(\d+ cuadros\)")
    assert app.find(r"DEMORA TOTAL \(al cortar\) decodificado: .*")
    from test_video import psnr, reference, png_info
    assert (png_info(str(snap))["width"], png_info(str(snap))["height"]) == (1280, 720)
    ref = str(tmp_path / "ref.png")
    flip = ",hflip" if mirror else ""
    best, at = 0.0, 0
    for index in range(28, 50):
        reference(clip, index, ref, flip)
        value = psnr(str(snap), ref)
        if value > best:
            best, at = value, index
    assert best >= 35.0
    # The same picture the other way round is clearly worse.
    reference(clip, at, ref, "" if mirror else ",hflip")
    assert psnr(str(snap), ref) < best - 3.0


def test_shutdown_with_a_phone_streaming_and_one_waiting_ends_promptly(clean_settings, tmp_path, clip_dir):
    # At 4 pictures a second the snapshot stays pending, so the session is
    # still decoding when the program ends.
    snap = tmp_path / "cuadro.png"
    app = Running(tmp_path, "--codigo", CODE, "--guardar-cuadro", orvane.windows_path(snap), seconds=7)
    streaming = subprocess.Popen([SIM, "--port", str(app.port), "--code", CODE, "--fps", "4", "--width", "1920",
                                  "--height", "1080", "--clip", os.path.join(clip_dir, "clip-1080p30.h264"),
                                  "--seconds", "30"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    assert app.wait_line(r"WELCOME a iPhone de prueba")
    waiting = raw_client(app.port)
    waiting.send(1, json.dumps({"v": 1, "device": "Espera"}))
    waiting.conn.settimeout(20)
    kind, payload = waiting.read()
    denied = time.monotonic()
    assert (kind, payload) == (3, b'{"reason":"timeout"}')
    assert app.proc.wait(timeout=10) == 0
    assert time.monotonic() - denied < 3.0
    assert streaming.wait(timeout=10) == 5, "the PC ended the stream"
    assert not snap.exists(), "the program ended while still decoding for the snapshot"
    log = app.log()
    # Both sessions were over before the log closed.
    assert "DENY (timeout) a Espera" in log
    assert "Se desconectó iPhone de prueba" in log


@pytest.fixture
def dnssd(tmp_path, monkeypatch):
    """Our DNS-SD stand-in over the prefix's dnsapi.dll while the test runs (Wine's own set aside beside it),
    loaded instead of Wine's builtin only by the programs the test starts: Wine's background processes are
    started first, without the override. Yields the stand-in's call log."""
    calls = tmp_path / "dnsapi.log"
    orvane.stop_all()
    server_env = {**orvane.env(), "WINEPREFIX": orvane.PREFIX}
    subprocess.run(["wineserver", "-p"], env=server_env, check=True)
    subprocess.run([orvane.WINE, "cmd", "/c", "exit"], env=orvane.env(), stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    if os.path.exists(DNSAPI_SYSTEM32 + ".wine"):  # left by an interrupted run
        os.replace(DNSAPI_SYSTEM32 + ".wine", DNSAPI_SYSTEM32)
    os.replace(DNSAPI_SYSTEM32, DNSAPI_SYSTEM32 + ".wine")
    shutil.copy(DNSAPI, DNSAPI_SYSTEM32)
    monkeypatch.setenv("WINEDLLOVERRIDES", os.environ.get("WINEDLLOVERRIDES", "mscoree,mshtml=") + ";dnsapi=n")
    monkeypatch.setenv("DNSSD_STANDIN_LOG", orvane.windows_path(calls))
    try:
        yield calls
    finally:
        orvane.stop_all()
        os.replace(DNSAPI_SYSTEM32 + ".wine", DNSAPI_SYSTEM32)


def dnssd_calls(path):
    """The program's calls and their completions as the stand-in saw them (the resolver settings that
    GetAdaptersAddresses asks for left out); no other process loaded it."""
    lines = [line.split(" ", 1)[1] for line in (orvane.read_text(str(path)) or "").splitlines()]
    loads = [line for line in lines if line.startswith("load ")]
    assert len(loads) == 1 and loads[0].endswith('\\Orvane.exe"'), loads
    return [line for line in lines if not line.startswith(("load ", "DnsQueryConfig "))]


def assert_every_instance_freed_once(calls):
    # Freeing what a pending operation still uses, or twice, is a "misuse:" line of the stand-in.
    assert not [c for c in calls if c.startswith("misuse:")], calls
    handed = sorted(m.group(1) for c in calls if (m := re.search(r"-> #(\d+)$", c)))
    freed = sorted(m.group(1) for c in calls if (m := re.fullmatch(r"DnsServiceFreeInstance #(\d+)", c)))
    assert handed and freed == handed, calls


def quit_with_dnssd(tmp_path):
    """Orvane.exe run to its end with the stand-in: (its mDNS lines, address, port, computer name)."""
    app = Running(tmp_path, seconds=3)
    assert app.proc.wait(timeout=60) == 0
    address, port, pc = app.find(r"Escuchando en ([0-9.]+):(\d+) \(PC (.+)\)").groups()
    return app.lines("mDNS: "), address, port, pc


def test_the_service_is_announced_on_the_pairing_address_and_withdrawn_before_exit(clean_settings, settings_file,
                                                                                    tmp_path, dnssd):
    mdns, address, port, pc = quit_with_dnssd(tmp_path)
    pc_id = re.search(r"^id=(.+)$", orvane.read_text(settings_file), re.M).group(1)
    calls = dnssd_calls(dnssd)
    # The address the pairing code carries, not whatever the responder would pick.
    assert calls[:2] == [
        f'DnsServiceConstructInstance name="{pc}._orvane._tcp.local" host="{pc}.local" ip4={address} ip6=null '
        f'port={port} priority=0 weight=0 txt=["v"="1","id"="{pc_id}","name"="{pc}"] -> #1',
        "DnsServiceRegister R1 version=1 interface=0 instance=#1 callback=set context=set unicast=0 cancel=set"
        " -> 9506"]
    assert "DnsServiceDeRegister R1 (registered) cancel=null -> 9506" in calls
    assert_every_instance_freed_once(calls)
    assert calls[-1] == "unload: not freed: none pending: none"
    # The exit waited for the withdrawal: its completion is in the log, which closes last.
    assert mdns == ["mDNS: DnsServiceRegister -> 9506", "mDNS: registro terminó con estado 0",
                    "mDNS: DnsServiceDeRegister -> 9506", "mDNS: baja terminó con estado 0"]


@pytest.mark.parametrize("conflict", ["rename", "error"])
def test_a_name_taken_on_the_network(clean_settings, tmp_path, dnssd, monkeypatch, conflict):
    monkeypatch.setenv("DNSSD_STANDIN_CONFLICT", conflict)
    mdns, _, _, pc = quit_with_dnssd(tmp_path)
    calls = dnssd_calls(dnssd)
    if conflict == "rename":
        # Announced under the responder's new name, withdrawn under it at exit.
        assert mdns == ["mDNS: DnsServiceRegister -> 9506", "mDNS: registro terminó con estado 0",
                        f"mDNS: el nombre estaba en uso; se anuncia como {pc} (2)._orvane._tcp.local",
                        "mDNS: DnsServiceDeRegister -> 9506", "mDNS: baja terminó con estado 0"]
    else:
        # Nothing was registered, so nothing is withdrawn.
        assert mdns == ["mDNS: DnsServiceRegister -> 9506", "mDNS: registro terminó con estado 9006"]
        assert not [c for c in calls if c.startswith("DnsServiceDeRegister")], calls
    assert_every_instance_freed_once(calls)
    assert calls[-1] == "unload: not freed: none pending: none"


def test_a_withdrawal_that_never_completes_holds_the_exit_a_second_and_frees_nothing_it_uses(clean_settings, tmp_path,
                                                                                           dnssd, monkeypatch):
    monkeypatch.setenv("DNSSD_STANDIN_DEREGISTER", "never")
    mdns, _, _, _ = quit_with_dnssd(tmp_path)
    assert mdns[-2:] == ["mDNS: DnsServiceDeRegister -> 9506",
                         "mDNS: la baja no terminó en 1000 ms; la instancia queda sin liberar"]
    raw = orvane.read_text(str(tmp_path / "orvane.log")).splitlines()
    asked, gave_up = (orvane.log_seconds(next(line for line in raw if line[13:] == m)) for m in mdns[-2:])
    assert 0.95 <= (gave_up - asked) % 86400 < 2.0
    calls = dnssd_calls(dnssd)
    assert not [c for c in calls if c.startswith("misuse:")], calls
    # The request's instance stays for the completion that may still come; the copy the registration
    # handed over was freed.
    assert calls[-1] == "unload: not freed: #1 pending: R1(deregistering)"
