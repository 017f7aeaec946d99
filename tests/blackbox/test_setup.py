"""Orvane-Setup.exe from outside: what it writes and removes, checked in the files, the shortcuts, the
registry and its log. "/simular" runs in the shared prefix under a scratch folder and HKCU; the normal
mode runs in a throw-away prefix of its own, where it may write HKLM and Program Files."""
import os
import re
import shutil
import struct
import subprocess

import pytest

import orvane

SETUP = os.path.join(orvane.BIN, "Orvane-Setup.exe")
TEST_KEY = r"HKCU\Software\OrvanePrueba"
PENDING = (r"HKLM\System\CurrentControlSet\Control\Session Manager", "PendingFileRenameOperations")
CLOSE_LINE = "[simulado] cerraría Orvane si está abierto"


class Prefix:
    """One Wine prefix: programs run in it and its registry read from outside."""

    def __init__(self, path):
        self.path = path

    def env(self, **extra):
        return {**os.environ, "ORVANE_WINEPREFIX": self.path, "WINEPREFIX": self.path, **extra}

    def start(self, program, *args, **extra_env):
        return subprocess.Popen([orvane.WINE, program, *args], env=self.env(**extra_env), stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def run(self, program, *args, timeout=120, **extra_env):
        return self.start(program, *args, **extra_env).wait(timeout=timeout)

    def setup(self, *args, **extra_env):
        return self.run(SETUP, *args, **extra_env)

    def reg(self, *args):
        out = subprocess.run(["wine", "reg", *args], env=self.env(), capture_output=True, text=True, check=False)
        return out.returncode, out.stdout.replace("\r", "")

    def values(self, key):
        """{name: (type, data)} of one key, without its subkeys; None when the key is missing."""
        code, text = self.reg("query", key)
        if code != 0:
            return None
        found = {}
        for line in text.split("\n"):
            m = re.fullmatch(r"    (.*?)    (REG_\w+)    ?(.*)", line)
            if m:
                found[m.group(1)] = (m.group(2), m.group(3))
        return found

    def pending_deletions(self):
        """Files and folders that Windows is to delete at the next restart."""
        value = (self.values(PENDING[0]) or {}).get(PENDING[1])
        if not value:
            return []
        items = value[1].split("\\0")
        return [(items[i], items[i + 1]) for i in range(0, len(items) - 1, 2)]

    def forget_pending(self, base):
        """Drops the restart deletions of this test's scratch folder when nobody else has any."""
        pending = self.pending_deletions()
        if pending and all(base in source for source, _ in pending):
            self.reg("delete", PENDING[0], "/v", PENDING[1], "/f")


SHARED = Prefix(orvane.PREFIX)
# The system library that makes virtual cameras (Windows 11's; Wine has none): the setup installs
# nothing where it is missing, so these tests give each prefix our stand-in.
STANDIN = os.path.join(orvane.BIN, "..", "standin", "mfsensorgroup.dll")


def system_library(prefix_path):
    return os.path.join(prefix_path, "drive_c", "windows", "system32", "mfsensorgroup.dll")


@pytest.fixture(scope="module", autouse=True)
def shared_system_library():
    """In the shared prefix only while this file's tests run: every other test runs without it."""
    shutil.copy(STANDIN, system_library(SHARED.path))
    yield
    os.remove(system_library(SHARED.path))


def log_lines(path):
    with open(path, "rb") as f:
        text = f.read().decode("utf-8-sig")
    return [line for line in text.split("\r\n") if line]


def same_bytes(a, b):
    with open(a, "rb") as fa, open(b, "rb") as fb:
        return fa.read() == fb.read()


def shortcut(path):
    """The strings of a .lnk file: its target (from the link info), description, working folder,
    arguments and icon location."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:4] == b"L\0\0\0", path
    flags, = struct.unpack_from("<I", data, 20)
    pos = 76
    if flags & 0x1:  # an item id list
        pos += 2 + struct.unpack_from("<H", data, pos)[0]
    link = {}
    if flags & 0x2:  # link info with the local path
        size, = struct.unpack_from("<I", data, pos)
        base_offset, = struct.unpack_from("<I", data, pos + 16)
        end = data.index(b"\0", pos + base_offset)
        link["target"] = data[pos + base_offset:end].decode("latin-1")
        pos += size
    for bit, name in ((0x4, "description"), (0x8, "relative"), (0x10, "folder"), (0x20, "arguments"),
                      (0x40, "icon")):
        if flags & bit:
            count, = struct.unpack_from("<H", data, pos)
            unicode = flags & 0x80
            length = count * 2 if unicode else count
            # Wine counts the terminating zero, Windows does not.
            link[name] = data[pos + 2:pos + 2 + length].decode("utf-16-le" if unicode else "latin-1").rstrip("\0")
            pos += 2 + length
    return link


class Scratch:
    """A "/simular" base folder with its paths, Linux and Windows."""

    def __init__(self, folder):
        self.base = str(folder)
        os.makedirs(self.base, exist_ok=True)
        self.win = orvane.windows_path(self.base)
        self.folder = os.path.join(self.base, "Orvane")
        self.win_folder = self.win + "\\Orvane"
        self.log = os.path.join(self.base, "instalador.log")
        self.links = [os.path.join(self.base, "_Escritorio", "Orvane.lnk"),
                      os.path.join(self.base, "_MenuInicio", "Orvane.lnk")]

    def path(self, name):
        return os.path.join(self.folder, name)

    def setup(self, *args, program=SETUP):
        return SHARED.run(program, "/simular", self.win, *args)

    def log_lines(self):
        return log_lines(self.log)

    def last_line(self):
        """The log's last line; empty while the setup has not written one (it empties the log first)."""
        try:
            lines = self.log_lines()
        except FileNotFoundError:
            return ""
        return lines[-1] if lines else ""


@pytest.fixture
def scratch(tmp_path):
    SHARED.reg("delete", TEST_KEY, "/f")
    s = Scratch(tmp_path / "base")
    yield s
    SHARED.reg("delete", TEST_KEY, "/f")
    SHARED.forget_pending(s.win)


def installed_lines(s, run_value):
    program = s.win_folder + "\\Orvane.exe"
    return ["Instalando en " + s.win_folder,
            CLOSE_LINE,
            "Archivos copiados",
            "[simulado] registraría la cámara: " + s.win_folder + "\\OrvaneCam.dll",
            "[simulado] abriría el Firewall (red privada, TCP 47800-47809) para " + program,
            "Accesos directos: escritorio=1 menú=1",
            "Abrir al iniciar Windows: " + run_value,
            'Agregado a "Agregar o quitar programas"',
            "Instalación terminada"]


def uninstall_entry(folder):
    return {
        "DisplayName": ("REG_SZ", "Orvane"),
        "DisplayVersion": ("REG_SZ", "1.2.0"),
        "Publisher": ("REG_SZ", "Orvane"),
        "DisplayIcon": ("REG_SZ", folder + "\\Orvane.exe,0"),
        "InstallLocation": ("REG_SZ", folder),
        "UninstallString": ("REG_SZ", '"' + folder + '\\desinstalar.exe" /desinstalar'),
        "QuietUninstallString": ("REG_SZ", '"' + folder + '\\desinstalar.exe" /desinstalar /silencioso'),
        "URLInfoAbout": ("REG_SZ", "https://orvane.app"),
        "NoModify": ("REG_DWORD", "0x1"),
        "NoRepair": ("REG_DWORD", "0x1"),
        "EstimatedSize": ("REG_DWORD", "0x400"),
    }


def assert_installed(s, start_with_windows):
    for name in ("Orvane.exe", "OrvaneCam.dll"):
        assert same_bytes(s.path(name), os.path.join(orvane.BIN, name)), name
    assert same_bytes(s.path("desinstalar.exe"), SETUP)
    for link in s.links:
        assert shortcut(link) == {"target": s.win_folder + "\\Orvane.exe",
                                  "description": "Usá tu iPhone como cámara de la PC",
                                  "folder": s.win_folder, "arguments": "",
                                  "icon": s.win_folder + "\\Orvane.exe"}, link
    assert SHARED.values(TEST_KEY + r"\Uninstall") == uninstall_entry(s.win_folder)
    run = SHARED.values(TEST_KEY + r"\Run")
    if start_with_windows:
        assert run == {"Orvane": ("REG_SZ", '"' + s.win_folder + '\\Orvane.exe" --oculta')}
    else:
        assert run == {}


def assert_nothing_left(s, folder_too=True):
    for name in ("Orvane.exe", "OrvaneCam.dll"):
        assert not os.path.exists(s.path(name))
    for link in s.links:
        assert not os.path.exists(link)
    assert SHARED.values(TEST_KEY + r"\Uninstall") is None
    assert SHARED.values(TEST_KEY + r"\Run") == {}
    if folder_too:
        assert not os.path.exists(s.folder)


def test_simulated_round_trip_writes_everything_and_removes_it_again(scratch):
    s = scratch
    assert s.setup("/silencioso", "/inicio") == 0
    assert_installed(s, start_with_windows=True)
    assert s.log_lines() == installed_lines(s, "sí")

    # Uninstalled by the setup that is not in the folder: everything goes at once, the DLL is
    # never loaded and nothing outside the scratch folder and the test keys is touched.
    assert s.setup("/desinstalar", "/silencioso") == 0
    assert s.log_lines() == ["Desinstalando de " + s.win_folder, CLOSE_LINE, "Listo"]
    assert_nothing_left(s)
    assert sorted(os.listdir(s.base)) == ["_Escritorio", "_MenuInicio", "instalador.log"]
    assert not [p for p in SHARED.pending_deletions() if s.win in p[0]]


def test_without_an_install_folder_nothing_is_installed_or_removed(scratch):
    # An empty "/simular" folder is what the normal mode has when Windows gives no Program
    # Files folder. The test keys are shared by every base: a setup that took an empty folder
    # for a path would remove or rewrite the install of this scratch folder.
    s = scratch
    assert s.setup("/silencioso", "/inicio") == 0
    assert SHARED.run(SETUP, "/simular", "", "/desinstalar", "/silencioso") == 2
    assert SHARED.run(SETUP, "/simular", "", "/silencioso") == 2
    assert_installed(s, start_with_windows=True)
    assert s.log_lines() == installed_lines(s, "sí")


def test_reinstall_rewrites_every_file_and_value_and_without_inicio_drops_the_run_value(scratch):
    s = scratch
    assert s.setup("/inicio", "/silencioso") == 0
    with open(s.path("OrvaneCam.dll"), "r+b") as f:
        f.write(b"broken")
    os.remove(s.path("desinstalar.exe"))
    os.remove(s.links[0])
    SHARED.reg("add", TEST_KEY + r"\Uninstall", "/v", "DisplayName", "/d", "Otro", "/f")
    SHARED.reg("add", TEST_KEY + r"\Uninstall", "/v", "NoRepair", "/t", "REG_DWORD", "/d", "0", "/f")

    assert s.setup("/silencioso") == 0
    assert_installed(s, start_with_windows=False)
    assert s.log_lines() == installed_lines(s, "no")


def test_installed_uninstaller_removes_at_once_what_it_can_and_the_rest_at_restart(scratch):
    s = scratch
    assert s.setup("/silencioso", "/inicio") == 0
    uninstaller = s.win_folder + "\\desinstalar.exe"
    assert s.setup("/desinstalar", "/silencioso", program=s.path("desinstalar.exe")) == 0

    assert_nothing_left(s, folder_too=False)
    # A running program's file cannot be deleted: it and its folder go at the next restart.
    assert os.listdir(s.folder) == ["desinstalar.exe"]
    pending = SHARED.pending_deletions()
    assert ("\\??\\" + uninstaller, "") in pending
    assert ("\\??\\" + s.win_folder, "") in pending
    lines = s.log_lines()
    assert lines[0] == "Desinstalando de " + s.win_folder and lines[1] == CLOSE_LINE and lines[-1] == "Listo"
    assert uninstaller + " se borra al reiniciar (5)" in lines


def test_a_running_program_is_moved_aside_and_replaced(scratch, clean_settings):
    s = scratch
    assert s.setup("/silencioso") == 0
    old = s.path("Orvane.exe")
    with open(old, "ab") as f:
        f.write(b"an older build")
    before = open(old, "rb").read()
    log = os.path.join(s.base, "orvane.log")
    running = SHARED.start(old, "--prueba", "--oculta", "--salir-tras", "30", "--registro",
                           orvane.windows_path(log))
    try:
        assert orvane.wait_for(lambda: "Escuchando en" in (orvane.read_text(log) or ""), timeout=30)
        assert s.setup("/silencioso") == 0
        assert running.poll() is None, "the test mode closes no program"
        program = s.win_folder + "\\Orvane.exe"
        assert same_bytes(old, os.path.join(orvane.BIN, "Orvane.exe"))
        assert open(old + ".viejo", "rb").read() == before
        assert ("\\??\\" + program + ".viejo", "") in SHARED.pending_deletions()
    finally:
        orvane.stop_all()
        running.wait(timeout=30)
        # The program registers the camera DLL beside it when none is registered: not this one.
        code, text = SHARED.reg("query", orvane.CAMERA_KEY + "\\InprocServer32")
        if code == 0 and s.win in text:
            SHARED.reg("delete", orvane.CAMERA_KEY, "/f")

    # The Wine server's next start is this prefix's restart.
    assert orvane.wait_for(lambda: not os.path.exists(old + ".viejo"), timeout=15)
    lines = s.log_lines()
    moved = program + " estaba en uso (5): quedó como " + program + ".viejo y se borra al reiniciar"
    assert lines == installed_lines(s, "no")[:2] + [moved] + installed_lines(s, "no")[2:]


def test_a_failed_install_never_leaves_an_entry_that_points_at_missing_files(scratch):
    s = scratch
    # No folder can be made where a file lies: the program is not written, the install stops.
    with open(s.folder, "w") as f:
        f.write("in the way")
    assert s.setup("/silencioso", "/inicio") == 2
    lines = s.log_lines()
    assert lines[-1] == "ERROR: No pude copiar Orvane.exe en " + s.win_folder
    assert any(re.fullmatch(r"No pude crear .*\\Orvane\\Orvane\.exe \(\d+\)", line) for line in lines), lines
    assert SHARED.values(TEST_KEY) is None
    assert not any(os.path.exists(link) for link in s.links)
    os.remove(s.folder)

    # Without the uninstaller's copy the install goes on, and its entry runs this installer itself
    # with "/desinstalar": Windows' settings can still remove it.
    os.makedirs(os.path.join(s.folder, "desinstalar.exe", "x"))
    assert s.setup("/silencioso") == 0
    lines = s.log_lines()
    own = orvane.windows_path(SETUP)
    assert re.fullmatch(r'No pude copiar el desinstalador \(\d+\): "Agregar o quitar programas" usará este '
                        r'instalador, ' + re.escape(own), lines[2]), lines
    assert lines[-2:] == ['Agregado a "Agregar o quitar programas"', "Instalación terminada"]
    entry = SHARED.values(TEST_KEY + r"\Uninstall")
    assert entry["UninstallString"] == ("REG_SZ", '"' + own + '" /desinstalar')
    assert entry["QuietUninstallString"] == ("REG_SZ", '"' + own + '" /desinstalar /silencioso')
    shutil.rmtree(os.path.join(s.folder, "desinstalar.exe"))

    # A complete install, then one that loses its program half-way: the earlier entry stays,
    # since the uninstaller it names is there and works.
    assert s.setup("/silencioso") == 0
    assert SHARED.values(TEST_KEY + r"\Uninstall") is not None
    os.remove(s.path("Orvane.exe"))
    for name in ("Orvane.exe", "Orvane.exe.viejo"):
        os.makedirs(os.path.join(s.folder, name, "x"))
    assert s.setup("/silencioso") == 2
    lines = s.log_lines()
    assert lines[-1] == "ERROR: No pude copiar Orvane.exe en " + s.win_folder
    assert SHARED.values(TEST_KEY + r"\Uninstall") is not None and os.path.isfile(s.path("desinstalar.exe"))
    assert not any(line.startswith("Faltan archivos") for line in lines)
    for name in ("Orvane.exe", "Orvane.exe.viejo"):
        shutil.rmtree(os.path.join(s.folder, name))

    # The uninstaller the entry names is gone, and the install stops: that entry goes.
    assert s.setup("/silencioso") == 0
    os.remove(s.path("desinstalar.exe"))
    os.remove(s.path("Orvane.exe"))
    for name in ("Orvane.exe", "Orvane.exe.viejo"):
        os.makedirs(os.path.join(s.folder, name, "x"))
    assert s.setup("/silencioso") == 2
    assert s.log_lines()[-1].startswith('Faltan archivos de la instalación anterior: quité su entrada de '
                                        '"Agregar o quitar programas"')
    assert SHARED.values(TEST_KEY + r"\Uninstall") is None
    for name in ("Orvane.exe", "Orvane.exe.viejo"):
        shutil.rmtree(os.path.join(s.folder, name))


def window_named(name, timeout=30):
    found = orvane.wait_for(lambda: subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^" + name + "$"],
                                                   capture_output=True, text=True).stdout.split(), timeout=timeout)
    assert found, "no window named " + name
    return found[0]


def press(keys, name="Orvane"):
    """Keys into the dialog, once X says it has the keyboard focus (a key sent before that is lost)."""
    window = window_named(name)

    def focused():
        subprocess.run(["xdotool", "windowactivate", "--sync", window], capture_output=True, timeout=10)
        return subprocess.run(["xdotool", "getwindowfocus"], capture_output=True, text=True).stdout.strip() == window
    assert orvane.wait_for(focused, 10, step=0.2), "the dialog did not take the focus"
    subprocess.run(["xdotool", "key", "--clearmodifiers", *keys], capture_output=True)


def test_dialogs_ask_before_anything_changes(scratch):
    s = scratch
    # Cancelled: exit code 1 and nothing installed.
    p = SHARED.start(SETUP, "/simular", s.win)
    press(["Escape"])
    assert p.wait(timeout=30) == 1
    assert not os.path.exists(s.folder) and SHARED.values(TEST_KEY) is None
    # "Instalar" is the default button; the check box stays unchecked.
    p = SHARED.start(SETUP, "/simular", s.win)
    press(["Return"])
    assert p.wait(timeout=60) == 0
    assert_installed(s, start_with_windows=False)
    # Ticked (the check box is two tabs from "Instalar"): the Run value is written.
    p = SHARED.start(SETUP, "/simular", s.win)
    press(["Tab", "Tab", "space", "Return"])
    assert p.wait(timeout=60) == 0
    assert "Abrir al iniciar Windows: sí" in s.log_lines()
    assert_installed(s, start_with_windows=True)
    # And unticked again on the next install: the value goes.
    p = SHARED.start(SETUP, "/simular", s.win)
    press(["Return"])
    assert p.wait(timeout=60) == 0
    assert_installed(s, start_with_windows=False)

    # The uninstall question: "No" keeps everything, "Yes" removes it and says so.
    p = SHARED.start(SETUP, "/simular", s.win, "/desinstalar")
    press(["Tab", "Return"])
    assert p.wait(timeout=30) == 1
    assert_installed(s, start_with_windows=False)
    p = SHARED.start(SETUP, "/simular", s.win, "/desinstalar")
    press(["Return"])
    window_named("Orvane")
    assert s.log_lines()[-1] == "Listo"
    press(["Return"])
    assert p.wait(timeout=30) == 0
    assert_nothing_left(s)

    # A failed install says so in a message box and ends with 2.
    with open(s.folder, "w") as f:
        f.write("in the way")
    p = SHARED.start(SETUP, "/simular", s.win)
    press(["Return"])
    assert orvane.wait_for(lambda: s.last_line().startswith("ERROR: "), timeout=30)
    assert p.poll() is None, "the message box holds the setup until it is dismissed"
    press(["Return"])
    assert p.wait(timeout=30) == 2


# ---- normal mode, in a prefix of its own ----

CAMERA = r"HKLM\Software\Classes\CLSID\{7C1E5A2B-4D3F-4B8E-9A61-2F0C8D4E5B17}"
MACHINE_UNINSTALL = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Orvane"
MACHINE_RUN = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Run"
FOLDER = "C:\\Program Files\\Orvane"


@pytest.fixture(scope="module")
def machine(tmp_path_factory):
    """A throw-away prefix, made before any program waits on it."""
    prefix = Prefix(str(tmp_path_factory.mktemp("setup") / "wineprefix"))
    assert prefix.run("cmd", "/c", "exit", timeout=600) == 0
    # Windows always has the local Temp folder the setup logs into; Wine's profile does not.
    users = [u for u in os.listdir(os.path.join(prefix.path, "drive_c", "users")) if u != "Public"]
    temp = os.path.join(prefix.path, "drive_c", "users", users[0], "AppData", "Local", "Temp")
    os.makedirs(temp, exist_ok=True)
    prefix.log = os.path.join(temp, "Orvane-Setup.log")
    shutil.copy(STANDIN, system_library(prefix.path))
    prefix.folder = os.path.join(prefix.path, "drive_c", "Program Files", "Orvane")
    prefix.setup_installed = lambda *args: prefix.run(os.path.join(prefix.folder, "desinstalar.exe"), *args)
    yield prefix
    subprocess.run(["wineserver", "-k"], env=prefix.env(), check=False)
    shutil.rmtree(prefix.path, ignore_errors=True)


def test_normal_mode_registers_the_camera_for_the_machine_and_removes_it_again(machine):
    # "/simular" without a folder after it is ignored: this is a real install.
    assert machine.setup("/silencioso", "/inicio", "/simular") == 0
    lines = log_lines(machine.log)
    assert lines[:3] == ["Instalando en " + FOLDER, "Archivos copiados", "Cámara Orvane Cam registrada: 0x00000000"]
    assert re.fullmatch(r"Regla del Firewall: 0x[0-9a-f]{8}", lines[3])
    assert lines[4:] == ["Accesos directos: escritorio=1 menú=1", "Abrir al iniciar Windows: sí",
                         'Agregado a "Agregar o quitar programas"', "Instalación terminada"]
    assert machine.values(CAMERA) == {"(Default)": ("REG_SZ", "Orvane Cam")}
    assert machine.values(CAMERA + r"\InprocServer32") == {"(Default)": ("REG_SZ", FOLDER + "\\OrvaneCam.dll"),
                                                           "ThreadingModel": ("REG_SZ", "Both")}
    assert machine.values(MACHINE_UNINSTALL) == uninstall_entry(FOLDER)
    assert machine.values(MACHINE_RUN)["Orvane"] == ("REG_SZ", '"' + FOLDER + '\\Orvane.exe" --oculta')
    for name in ("Orvane.exe", "OrvaneCam.dll"):
        assert same_bytes(os.path.join(machine.folder, name), os.path.join(orvane.BIN, name))
    links = [os.path.join(machine.path, "drive_c", "users", "Public", "Desktop", "Orvane.lnk"),
             os.path.join(machine.path, "drive_c", "ProgramData", "Microsoft", "Windows", "Start Menu", "Programs",
                          "Orvane.lnk")]
    assert [shortcut(link)["target"] for link in links] == [FOLDER + "\\Orvane.exe"] * 2

    # Running programs are closed before their file is replaced: here two
    # copies (a test-mode one beside the normal one), closed one after the other.
    copies = []
    for extra in ([], ["--prueba", "--puerto", "47805"]):
        app_log = os.path.join(os.path.dirname(machine.log), f"orvane{len(copies)}.log")
        copies.append(machine.start(os.path.join(machine.folder, "Orvane.exe"), "--oculta", "--salir-tras", "60",
                                    "--registro", orvane.windows_path(app_log), *extra))
        assert orvane.wait_for(lambda: "Escuchando en" in (orvane.read_text(app_log) or ""), timeout=60)
    assert machine.setup("/silencioso", "/inicio") == 0
    assert orvane.wait_for(lambda: all(c.poll() is not None for c in copies), 5), \
        "the setup ended with a copy still running"
    lines = log_lines(machine.log)
    closed = [re.fullmatch(r"Cerré Orvane \(pid (\d+)\)", line) for line in lines[1:3]]
    assert all(closed) and closed[0].group(1) != closed[1].group(1), lines
    assert not any("estaba en uso" in line or "sigue abierto" in line for line in lines)

    # The installed uninstaller, as "Agregar o quitar programas" runs it.
    assert machine.setup_installed("/desinstalar", "/silencioso") == 0
    lines = log_lines(machine.log)
    assert lines[:2] == ["Desinstalando de " + FOLDER, "Cámara quitada: 0x00000000"]
    assert re.fullmatch(r"Firewall: 0x[0-9a-f]{8}", lines[2])
    assert lines[-1] == "Listo"
    assert machine.values(CAMERA) is None
    assert machine.values(MACHINE_UNINSTALL) is None
    assert "Orvane" not in machine.values(MACHINE_RUN)
    assert not any(os.path.exists(link) for link in links)
    assert sorted(os.listdir(machine.folder)) == ["desinstalar.exe"]


def test_normal_uninstall_without_the_camera_dll_logs_module_not_found_and_goes_on(machine):
    assert machine.setup("/silencioso") == 0
    os.remove(os.path.join(machine.folder, "OrvaneCam.dll"))
    assert machine.setup_installed("/desinstalar", "/silencioso") == 0
    lines = log_lines(machine.log)
    assert lines[1] == "Cámara quitada: 0x8007007e"
    assert lines[-1] == "Listo"
    assert machine.values(MACHINE_UNINSTALL) is None
    assert not os.path.exists(os.path.join(machine.folder, "Orvane.exe"))


def test_a_stray_uninstaller_removes_the_install_and_never_its_own_folder(machine):
    assert machine.setup("/silencioso") == 0
    downloads = os.path.join(machine.path, "drive_c", "users", "Public", "Descargas")
    os.makedirs(downloads, exist_ok=True)
    stray = os.path.join(downloads, "desinstalar.exe")
    shutil.copy(os.path.join(machine.folder, "desinstalar.exe"), stray)
    with open(os.path.join(downloads, "foto.jpg"), "w") as f:
        f.write("keep me")
    assert machine.run(stray, "/desinstalar", "/silencioso") == 0
    lines = log_lines(machine.log)
    assert lines[0] == "Desinstalando de " + FOLDER, lines
    assert machine.values(MACHINE_UNINSTALL) is None
    assert not os.path.exists(os.path.join(machine.folder, "Orvane.exe"))
    # Nothing of the downloads folder goes, now or at the next restart.
    assert sorted(os.listdir(downloads)) == ["desinstalar.exe", "foto.jpg"]
    session_manager = r"HKLM\System\CurrentControlSet\Control\Session Manager"
    code, pending = machine.reg("query", session_manager, "/v", "PendingFileRenameOperations")
    if code != 0:
        # No value: nothing waits for a restart at all; the key itself must answer to say so.
        assert machine.reg("query", session_manager)[0] == 0
        pending = ""
    assert "Descargas" not in pending


def test_a_windows_that_cannot_run_the_camera_gets_nothing_installed_and_is_told_why(machine):
    if machine.values(MACHINE_UNINSTALL) is not None:
        assert machine.setup_installed("/desinstalar", "/silencioso") == 0
    shutil.rmtree(machine.folder, ignore_errors=True)
    # Without Media Foundation (Windows' N editions without the Media Feature Pack) the program could not
    # even start; without the system library's MFCreateVirtualCamera (before Windows 11) there is no camera.
    library = system_library(machine.path)
    os.rename(library, library + ".aparte")
    try:
        for env, reason in (
                ({"WINEDLLOVERRIDES": "mscoree,mshtml,mfplat="},
                 "ERROR: Esta PC no tiene Media Foundation, que Orvane necesita para el video. En las ediciones N "
                 "de Windows se agrega con el Media Feature Pack (Configuración > Aplicaciones > Características "
                 "opcionales)."),
                ({}, "ERROR: Orvane necesita Windows 11: esta versión de Windows no puede crear la cámara Orvane "
                     "Cam.")):
            assert machine.setup("/silencioso", "/inicio", **env) == 2
            assert log_lines(machine.log) == [reason]
            assert not os.path.exists(machine.folder)
            assert machine.values(CAMERA) is None
            assert machine.values(MACHINE_UNINSTALL) is None
            assert "Orvane" not in (machine.values(MACHINE_RUN) or {})
            assert not os.path.exists(os.path.join(machine.path, "drive_c", "users", "Public", "Desktop",
                                                   "Orvane.lnk"))
    finally:
        os.rename(library + ".aparte", library)
