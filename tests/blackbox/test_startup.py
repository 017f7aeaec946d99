"""Start-up, run modes and the settings file, seen from outside the program."""
import os
import re

import orvane

UUID4 = r"[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}"
TOKEN = "ab" * 32
HEADER = "# Orvane para PC: id de esta PC y celus vinculados (token|nombre)\n"


def test_test_mode_creates_its_own_file_with_a_fresh_id(clean_settings):
    os.makedirs(clean_settings)
    normal = os.path.join(clean_settings, "orvane.ini")
    untouched = "id=11111111-2222-4333-8444-555555555555\ncelu=" + TOKEN + "|Normal\n"
    with open(normal, "w") as f:
        f.write(untouched)

    code, _ = orvane.run("--prueba", "--salir-tras", "1")
    assert code == 0
    text = orvane.read_text(os.path.join(clean_settings, "orvane-prueba.ini"))
    assert re.fullmatch(re.escape(HEADER) + "id=" + UUID4 + "\nfondo=0\n", text), text
    assert orvane.read_text(normal) == untouched
    assert not os.path.exists(os.path.join(clean_settings, "orvane-prueba.ini.tmp"))


def test_wrong_length_id_is_replaced_and_phones_kept(clean_settings):
    os.makedirs(clean_settings)
    path = os.path.join(clean_settings, "orvane-prueba.ini")
    with open(path, "wb") as f:
        f.write(("id=" + "a" * 35 + "\r\ncalidad=720p@60\r\nfondo=0.4\r\ncelu=" + TOKEN + "|Mi iPhone\r\n").encode())

    code, _ = orvane.run("--prueba", "--salir-tras", "1")
    assert code == 0
    text = orvane.read_text(path)
    m = re.fullmatch(re.escape(HEADER) + "id=(" + UUID4 + ")\ncalidad=720p@60\nfondo=0.4\ncelu=" + TOKEN +
                     r"\|Mi iPhone\n", text)
    assert m, text


def test_log_has_time_stamped_lines_and_the_state_line_every_second(clean_settings, log_path):
    orvane.reg("delete", orvane.CAMERA_KEY, "/f")
    # The program's own clock judges the seconds: on a loaded machine the
    # first tick can wait for the first drawing, so the run is long enough
    # for three ticks whatever start-up costs, and the lines' own times show
    # one line per tick.
    code, _ = orvane.run("--prueba", "--registro", orvane.windows_path(log_path), "--salir-tras", "8",
                         "--puerto", "47803")
    assert code == 0
    with open(log_path, "rb") as f:
        raw = f.read()
    assert raw.endswith(b"\r\n")
    lines = raw.decode("utf-8").split("\r\n")[:-1]
    for line in lines:
        assert re.match(r"\d\d:\d\d:\d\d\.\d\d\d ", line), line
    messages = [line[13:] for line in lines]
    assert any(re.fullmatch(r"Escuchando en [0-9.]+:47803 \(PC .+\)", m) for m in messages), messages
    states = [m for m in messages if m.startswith("estado ")]
    assert len(states) >= 3, messages
    times = [orvane.log_seconds(line) for line in lines if line[13:].startswith("estado ")]
    gaps = [(b - a) % 86400 for a, b in zip(times, times[1:])]
    assert min(gaps) >= 0.5, gaps
    assert re.fullmatch(r"estado cpu=\d+\.\d\d% ram=\d+\.\dMB conectado=0 0x0@0 recibidos=0\.0/s mbps=0\.0 "
                        r"decodificados=0 a_camara=0 rtt=-1\.0ms dec=0\.00ms hw=0", states[0]), states[0]
    # Wine has no DNS-SD: the line as it stands, the reason apart.
    assert messages.index("mDNS: no se pudo armar la instancia") + 1 == messages.index("mDNS: este Windows no tiene DNS-SD")


def test_the_camera_is_registered_only_from_where_the_installer_puts_it(clean_settings, tmp_path):
    """Wine's user is an administrator, as the one who runs the program elevated on Windows; the Frame
    Server, a service, could not read the DLL in a user's folder, and would load one the user can replace
    from anywhere else."""
    def messages(exe):
        log = tmp_path / "orvane.log"
        if log.exists():
            log.unlink()
        code, _ = orvane.run("--prueba", "--oculta", "--registro", orvane.windows_path(log), "--salir-tras", "1",
                             exe=exe)
        assert code == 0
        return orvane.Log(str(log)).log()

    def registered():
        code, text = orvane.reg("query", orvane.CAMERA_KEY + "\\InprocServer32")
        return text if code == 0 else None

    orvane.reg("delete", orvane.CAMERA_KEY, "/f")
    downloads = f"C:\\users\\{orvane.prefix_user()}\\Downloads\\Orvane"
    try:
        check_registration_by_place(messages, registered, downloads)
    finally:
        orvane.reg("delete", orvane.CAMERA_KEY, "/f")
        for folder in (downloads, orvane.INSTALLED):
            orvane.remove_copy(folder)


def check_registration_by_place(messages, registered, downloads):
    for folder, exe in ((orvane.windows_path(orvane.BIN), orvane.EXE),
                        (downloads, orvane.copy_program(downloads))):
        seen = messages(exe)
        assert f"Orvane Cam no se registra desde {folder}: solo desde C:\\Program Files, donde la instala " \
               "Orvane-Setup.exe" in seen, seen
        assert "Orvane Cam no está registrada (la registra Orvane-Setup.exe)" in seen
        assert registered() is None

    installed = orvane.INSTALLED + "\\OrvaneCam.dll"
    seen = messages(orvane.copy_program(orvane.INSTALLED))
    assert "Registro de Orvane Cam desde la app: 0x00000000" in seen
    # Wine has no virtual cameras to create.
    assert "Orvane Cam: no se pudo crear (0x8007007e)" in seen
    text = registered()
    assert text and installed in text and "Both" in text, text

    # A copy elsewhere says whose camera the applications get.
    seen = messages(orvane.EXE)
    own = orvane.windows_path(os.path.join(orvane.BIN, "OrvaneCam.dll"))
    assert f"Orvane Cam está registrada en {installed}, no la de este programa ({own})" in seen, seen


def test_quit_after_ends_with_code_zero_after_its_time(clean_settings):
    code, seconds = orvane.run("--prueba", "--salir-tras", "2", "--oculta")
    assert code == 0
    assert seconds > 2.0


def test_port_option_binds_the_first_free_port_from_it(clean_settings):
    # The first copy outlives the second's start, however slow that is here.
    p = orvane.start("--prueba", "--puerto", "47805", "--salir-tras", "15", "--oculta")
    try:
        assert orvane.wait_for(lambda: orvane.port_accepts(47805), timeout=60)
        assert not orvane.port_accepts(47804)
        # A second test copy finds 47805 taken and moves on to 47806.
        q = orvane.start("--prueba", "--puerto", "47805", "--salir-tras", "3", "--oculta")
        assert orvane.wait_for(lambda: orvane.port_accepts(47806), timeout=60)
        assert q.wait(timeout=30) == 0
    finally:
        assert p.wait(timeout=30) == 0


def test_no_free_port_shows_the_message_with_its_reason_and_exits_with_one(clean_settings, log_path):
    import subprocess
    # Every port of the range taken by another program.
    held = hold_free_ports()
    try:
        p = orvane.start("--prueba", "--registro", orvane.windows_path(log_path))
        box = orvane.wait_for(lambda: orvane.visible_windows("^Orvane$"), timeout=60)
        assert box, "the port message box did not appear"
        assert "No se pudo abrir el puerto 47800-47809 (error 10048): en uso por otros programas" in \
            orvane.Log(log_path).log()
        # A key sent before the box takes input is lost: pressed again until the program ends.
        for _ in range(60):
            subprocess.run(["xdotool", "key", "--window", box[0], "Return"], check=False)
            try:
                assert p.wait(timeout=1) == 1
                break
            except subprocess.TimeoutExpired:
                pass
        else:
            raise AssertionError("the message box did not end the program")
    finally:
        for s in held:
            s.close()


def test_second_normal_start_shows_the_running_copy_and_returns_zero(clean_settings, log_path):
    first = orvane.start("--oculta", "--salir-tras", "12", "--registro", orvane.windows_path(log_path))
    try:
        # Started all the way: its first one-second tick has run.
        assert orvane.wait_for(lambda: "estado " in (orvane.read_text(log_path) or ""), timeout=60)
        assert orvane.port_accepts(47800)
        assert not orvane.visible_windows("^Orvane$")
        code, _ = orvane.run()
        assert code == 0
        import subprocess
        assert orvane.wait_for(lambda: orvane.visible_windows("^Orvane$"), timeout=30), \
            "the hidden window of the running copy was not shown; windows named Orvane: " + \
            subprocess.run(["xdotool", "search", "--name", "^Orvane$"], capture_output=True, text=True).stdout
        assert first.poll() is None, "the first copy must keep running"
        assert orvane.port_accepts(47800)
    finally:
        assert first.wait(timeout=30) == 0


def hold_free_ports():
    """Listening sockets on every port of the range that is free; a program that binds one fails."""
    import socket
    held = []
    for port in range(47800, 47810):
        s = socket.socket()
        try:
            s.bind(("0.0.0.0", port))
            s.listen(1)
            held.append(s)
        except OSError:
            s.close()  # taken already
    return held


def test_capture_mode_draws_beside_a_running_copy_and_touches_no_settings_and_no_port(clean_settings, tmp_path,
                                                                                      log_path):
    # Alone, with no settings folder yet: none is made.
    code, _ = orvane.run("--captura", orvane.windows_path(tmp_path / "alone.png"))
    assert code == 0 and (tmp_path / "alone.png").stat().st_size > 0
    assert not os.path.exists(clean_settings), "the capture made the settings folder"

    # A normal copy runs: it holds the single-instance mutex, its settings file and a port.
    first = orvane.start("--oculta", "--salir-tras", "30", "--registro", orvane.windows_path(log_path))
    held = []
    try:
        assert orvane.wait_for(lambda: "estado " in (orvane.read_text(log_path) or ""), timeout=60)
        settings = os.path.join(clean_settings, "orvane.ini")
        before = orvane.read_text(settings)
        assert before
        written = os.stat(settings)
        # Every other port taken too: a capture that tried to listen could not, however briefly.
        held = hold_free_ports()
        out = tmp_path / "ui.png"
        code, seconds = orvane.run("--captura", orvane.windows_path(out), "--puerto", "47807")
        # Drawn, although another copy runs: the capture does not hand over to it.
        assert code == 0 and out.stat().st_size > 0
        assert orvane.read_text(settings) == before
        now = os.stat(settings)
        assert (now.st_ino, now.st_mtime_ns) == (written.st_ino, written.st_mtime_ns), "the settings were rewritten"
        assert not orvane.visible_windows("^Orvane$"), "the capture showed the running copy's window"
        assert first.poll() is None
        assert seconds < 30
    finally:
        for s in held:
            s.close()
        first.kill()
