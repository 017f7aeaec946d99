"""What the window says when something outside the program keeps phones or the camera out: the
firewall on this network (Wine has no firewall service: the network comes from the test mode's
"--simular-red" file), Windows' camera privacy switch (the registry value Windows keeps it in),
each with its action, and each gone when the cause is."""
import os

import pytest

import orvane
import screen
from journey import NOTICE, main_window, notice_seen

CODE = "123456"
DESKTOP_APPS_CAMERA = (r"HKCU\Software\Microsoft\Windows\CurrentVersion\CapabilityAccessManager\ConsentStore"
                       r"\webcam\NonPackaged")


@pytest.mark.skipif(not os.environ.get("DISPLAY"), reason="needs the X display of scripts/test")
def test_a_notice_says_what_keeps_phones_or_cameras_out_opens_its_settings_and_goes(clean_settings, tmp_path):
    network = tmp_path / "red.txt"
    network.write_text("publica")
    orvane.reg("delete", DESKTOP_APPS_CAMERA, "/f")
    log = orvane.Log(str(tmp_path / "orvane.log"))
    proc = orvane.start("--prueba", "--codigo", CODE, "--registro", orvane.windows_path(log.log_path),
                        "--simular-red", orvane.windows_path(network), "--salir-tras", "150")
    try:
        log.wait_listening(timeout=60)
        window = orvane.wait_for(main_window, 30)
        assert window

        # A public network: the installer's rule lets phones in on private ones only.
        assert log.wait_line(r"Firewall: Windows bloquea al celu en esta red \(perfiles 0x4\)", 30)
        assert orvane.wait_for(lambda: all(n > 20 for n in notice_seen(window)), 10), \
            f"the firewall's notice with its action: {notice_seen(window)}"
        screen.click(*window.at(*NOTICE))
        assert log.wait_line(r"Aviso: se abre ms-settings:network-status \((hecho|no se pudo)\)")

        # Private again: the firewall's notice goes; the camera's (not registered here) stays,
        # with nothing to click.
        network.write_text("privada")
        assert log.wait_line(r"Firewall: deja entrar al celu \(perfiles 0x2\)", 30)
        assert orvane.wait_for(lambda: notice_seen(window)[1] == 0, 10), "the firewall's action is gone"
        assert notice_seen(window)[0] > 20, "the camera's notice remains"

        # Windows' switch for desktop apps' cameras, off and on again.
        code, _ = orvane.reg("add", DESKTOP_APPS_CAMERA, "/v", "Value", "/d", "Deny", "/f")
        assert code == 0
        assert log.wait_line(r"Permiso de cámara: Windows no deja usar cámaras a las apps", 20)
        assert orvane.wait_for(lambda: notice_seen(window)[1] > 20, 10), "the privacy notice with its action"
        screen.click(*window.at(*NOTICE))
        assert log.wait_line(r"Aviso: se abre ms-settings:privacy-webcam \((hecho|no se pudo)\)")
        code, _ = orvane.reg("add", DESKTOP_APPS_CAMERA, "/v", "Value", "/d", "Allow", "/f")
        assert code == 0
        assert log.wait_line(r"Permiso de cámara: las apps pueden usar cámaras", 20)
        assert orvane.wait_for(lambda: notice_seen(window)[1] == 0, 10), "the privacy notice is gone"

        assert len(log.lines("Firewall:")) == 2 and len(log.lines("Permiso de cámara:")) == 2, \
            "a line when an answer changes, not at every check"
    finally:
        orvane.reg("delete", DESKTOP_APPS_CAMERA, "/f")
        proc.kill()
