"""The virtual camera the way Windows 11 makes it: Orvane.exe creates it through the system library
(a stand-in of ours copied into the prefix's system32 for these tests only), the library's Start
has the Frame Server's stand-in load OrvaneCam.dll by its class id, through the registration, in a
process of its own and pull the phone's picture, and the program removes the camera at exit."""
import json
import os
import re
import shutil
import subprocess

import pytest

import orvane
import screen
from journey import MAIN_SIZE, MORE, MIC_SWITCH, NOTICE, Phone, camera_row_colours, main_window, notice_seen
from orvane import Running
from pcdouble import clips

STANDIN = os.path.join(orvane.BIN, "..", "standin", "mfsensorgroup.dll")
SYSTEM32 = os.path.join(orvane.PREFIX, "drive_c", "windows", "system32", "mfsensorgroup.dll")
VIEWER = os.path.join(orvane.BIN, "cam-viewer.exe")
CODE = "123456"
CLSID = "{7C1E5A2B-4D3F-4B8E-9A61-2F0C8D4E5B17}"
LEGACY = "{B4894D81-62B7-4EEC-8740-80658C4A9D3E}"
HIGH_FRAME_RATE = "{566E6113-8C35-48E7-B89F-D23FDC1219DC}"


@pytest.fixture
def system_library(tmp_path, monkeypatch):
    """The stand-in in system32 while the test runs, with its call log and the Frame Server's
    output in the test's folder; the program installed where the installer puts it, and the class
    registered afresh by the program itself."""
    orvane.stop_all()
    calls, served = tmp_path / "mfsensorgroup.log", tmp_path / "frameserver.jsonl"
    monkeypatch.setenv("MFSG_STANDIN_LOG", orvane.windows_path(calls))
    monkeypatch.setenv("MFSG_STANDIN_VIEWER", orvane.windows_path(VIEWER))
    monkeypatch.setenv("MFSG_STANDIN_OUT", orvane.windows_path(served))
    monkeypatch.setenv("MFSG_STANDIN_ARGS", "--width 1280 --height 720")
    orvane.reg("delete", orvane.CAMERA_KEY, "/f")
    shutil.copy(STANDIN, SYSTEM32)
    installed = orvane.copy_program(orvane.INSTALLED)
    try:
        yield calls, served, installed
    finally:
        # Gone again whatever happened: every other test runs without it.
        orvane.stop_all()
        os.remove(SYSTEM32)
        orvane.reg("delete", orvane.CAMERA_KEY, "/f")
        orvane.remove_copy(orvane.INSTALLED)


def calls_by_process(path):
    """The stand-in's log: {pid: [call, ...]} in the order of the calls."""
    out = {}
    for line in orvane.read_text(str(path)).splitlines():
        pid, call = line.split(" ", 1)
        out.setdefault(int(pid), []).append(call)
    return out


def test_the_program_creates_the_camera_and_windows_loads_it_by_class_id(clean_settings, system_library, tmp_path):
    calls, served, installed = system_library
    app = Running(tmp_path, "--codigo", CODE, seconds=12, exe=installed)
    assert app.wait_line(r"Registro de Orvane Cam desde la app: 0x00000000")
    assert app.wait_line(r"Orvane Cam: creada \(0x00000000\)")
    assert app.wait_line(r"Memoria de Orvane Cam abierta \(Global\)", timeout=20), "the Frame Server started the stream"
    clip = os.path.join(clips(), "clip-720p30.h264")
    phone = subprocess.run([orvane.PHONE_SIM, "--port", str(app.port), "--clip", clip, "--seconds", "4",
                            "--code", CODE], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
    assert phone.returncode == 0
    assert app.proc.wait(timeout=40) == 0

    by_pid = calls_by_process(calls)
    program = next(c for c in by_pid.values() if c[0].startswith("MFCreateVirtualCamera"))
    started = re.fullmatch(r"frameserver started pid=(\d+)", program[1])
    assert started, program
    assert program[:1] + program[2:] == [
        f'MFCreateVirtualCamera type=0 lifetime=0 access=0 name="Orvane Cam" source="{CLSID}" categories=null/0'
        ' -> 0x00000000',
        "Start callback=null -> 0x00000000",
        "frameserver ended (Remove) exit=0",
        "Remove -> 0x00000000",
        "Release refs=0",
    ], "created, started, and at exit removed and released"

    # The media source, loaded by the Frame Server, made its two sensor profiles.
    server = by_pid[int(started.group(1))]
    assert server == [
        "MFCreateSensorProfileCollection -> 0x00000000",
        f"MFCreateSensorProfile {LEGACY}/0 constraints=null -> 0x00000000",
        f'AddProfileFilter {LEGACY}/0 stream=0 filter="((RES==;FRT<=30,1;SUT==))" -> 0x00000000',
        f"AddProfile {LEGACY}/0 -> 0x00000000",
        f"MFCreateSensorProfile {HIGH_FRAME_RATE}/0 constraints=null -> 0x00000000",
        f'AddProfileFilter {HIGH_FRAME_RATE}/0 stream=0 filter="((RES==;FRT>=60,1;SUT==))" -> 0x00000000',
        f"AddProfile {HIGH_FRAME_RATE}/0 -> 0x00000000",
    ]

    lines = [json.loads(line) for line in orvane.read_text(str(served)).splitlines() if line.startswith("{")]
    loaded = next(line for line in lines if "clsid" in line)
    assert loaded["clsid"] == CLSID and loaded["loaded"]
    assert loaded["server"].lower() == (orvane.INSTALLED + "\\OrvaneCam.dll").lower(), \
        "COM found the DLL through the class's registration"
    samples = [line for line in lines if "sample" in line]
    assert all((s["width"], s["height"]) == (1280, 720) for s in samples)
    assert sum(s["ymean"] != 16.0 for s in samples) >= 30, "the phone's picture came through"
    assert {"stop": "event"}.items() <= next(line for line in lines if "stop" in line).items()
    done = lines[-1]
    assert done["done"] and done["exit"] == 0
    assert done["canUnload"] == "0x00000000", "every object of the DLL was released"


@pytest.mark.skipif(not os.environ.get("DISPLAY"), reason="needs the X display of scripts/test")
def test_the_window_shows_the_camera_ready(clean_settings, system_library, tmp_path):
    log = orvane.Log(str(tmp_path / "orvane.log"))
    orvane.start("--prueba", "--codigo", CODE, "--registro", orvane.windows_path(log.log_path), "--salir-tras", "60",
                 exe=system_library[2])
    port = log.wait_listening(timeout=60)
    assert log.wait_line(r"Orvane Cam: creada \(0x00000000\)")
    phone = Phone(port, str(tmp_path), "--code", CODE, "--clip", os.path.join(clips(), "clip-720p30.h264"),
                  "--seconds", "30")
    try:
        assert screen.wait_for(phone.welcomed, 20)
        window = screen.wait_for(lambda: screen.window_of_size("Orvane", *MAIN_SIZE), 20)
        assert window
        screen.click(*window.at(*MORE))
        assert screen.wait_for(lambda: screen.colour_near(window.at(*MIC_SWITCH), 0xC8F04A, 3, 12) > 20, 5), \
            "the more menu opened"
        white, grey = camera_row_colours(window)
        # The white text's edges blend towards grey: what tells is the white.
        assert white > 40 and white > 2 * grey, f"the camera's name is drawn as ready ({white} white, {grey} grey)"
    finally:
        phone.stop()


def test_a_camera_in_a_users_folder_is_neither_registered_nor_loaded(clean_settings, system_library, tmp_path):
    """The Frame Server runs as Local Service, which may not read a user's folders: Windows would list a
    camera that never shows a picture. From there the program does not register it; a registration left
    there (by an older copy) is refused by the Frame Server, as Windows would."""
    calls, served, _ = system_library
    downloads = f"C:\\users\\{orvane.prefix_user()}\\Downloads\\Orvane"
    try:
        app = Running(tmp_path, "--codigo", CODE, seconds=2, exe=orvane.copy_program(downloads))
        assert app.wait_line(r"Orvane Cam no se registra desde .*Downloads.*")
        assert app.wait_line(r"Orvane Cam no está registrada \(la registra Orvane-Setup\.exe\)")
        assert app.proc.wait(timeout=40) == 0
        assert not os.path.exists(calls), "no camera was made"

        dll = downloads + "\\OrvaneCam.dll"
        orvane.reg("add", orvane.CAMERA_KEY + "\\InprocServer32", "/ve", "/d", dll, "/f")
        app = Running(tmp_path, "--codigo", CODE, seconds=6, exe=orvane.copy_program(downloads))
        assert app.wait_line(r"Orvane Cam: creada \(0x00000000\)")
        assert app.proc.wait(timeout=40) == 0
        assert orvane.wait_for(lambda: any(re.fullmatch(r"frameserver ended \(.*\) exit=2( killed)?", c)
                                           for c in sum(calls_by_process(calls).values(), [])), 10), \
            orvane.read_text(str(calls))
        assert "Local Service may not read" in (orvane.read_text(str(served)) or "")
    finally:
        orvane.remove_copy(downloads)


@pytest.mark.skipif(not os.environ.get("DISPLAY"), reason="needs the X display of scripts/test")
def test_a_camera_that_would_not_start_is_released_said_and_tried_again(clean_settings, system_library, tmp_path,
                                                                          monkeypatch):
    """Start fails after creation: the camera is released, never removed; the log and the window say
    why; a click tries again at once, and the program itself after a pause, until one works; then the
    notice goes, and at exit the camera that works is removed."""
    calls, _, installed = system_library
    failure = tmp_path / "fail.txt"
    failure.write_text("start 0x8007001F")
    monkeypatch.setenv("MFSG_STANDIN_FAIL", orvane.windows_path(failure))
    log = orvane.Log(str(tmp_path / "orvane.log"))
    proc = orvane.start("--prueba", "--codigo", CODE, "--registro", orvane.windows_path(log.log_path),
                        "--salir-tras", "40", exe=installed)
    try:
        log.wait_listening(timeout=60)
        assert log.wait_line(r"Orvane Cam: no se pudo crear \(0x8007001f\)", 30)
        window = orvane.wait_for(main_window, 30)
        assert window
        assert orvane.wait_for(lambda: all(n > 20 for n in notice_seen(window)), 10), \
            f"the notice with Reintentar: {notice_seen(window)}"
        tries = len(log.lines("Orvane Cam: no se pudo crear"))
        screen.click(*window.at(*NOTICE))
        assert log.wait_line(r"Aviso: Orvane Cam se intenta de nuevo")
        assert orvane.wait_for(lambda: len(log.lines("Orvane Cam: no se pudo crear")) > tries, 10)

        failure.unlink()
        assert log.wait_line(r"Orvane Cam: creada \(0x00000000\)", 40), "tried again by itself"
        assert orvane.wait_for(lambda: notice_seen(window) == (0, 0), 10), f"the notice is gone: {notice_seen(window)}"
        assert proc.wait(timeout=60) == 0
    finally:
        proc.kill()

    program = next(c for c in calls_by_process(calls).values() if c[0].startswith("MFCreateVirtualCamera"))
    created = [c for c in program if c.startswith("MFCreateVirtualCamera")]
    failed = program.count("Start callback=null -> 0x8007001f")
    assert len(created) == failed + 1 and failed >= 2
    assert failed == len(log.lines("Orvane Cam: no se pudo crear")), "each try said once"
    ends = [c for c in program if not c.startswith(("MFCreateVirtualCamera", "Start", "frameserver started"))]
    assert ends == ["Release refs=0"] * failed + ["frameserver ended (Remove) exit=0", "Remove -> 0x00000000",
                                                  "Release refs=0"], \
        "each camera that failed to start was released, never removed; the one that works is removed at exit"
