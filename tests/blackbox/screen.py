"""The X display from outside, as a person sees and uses it: pictures of the
screen, the program's windows, the mouse and the keyboard (ffmpeg's x11grab,
xwininfo, xdotool, zbarimg)."""
import os
import re
import subprocess
import tempfile
import time

from orvane import wait_for


def _run(*args, **kw):
    return subprocess.run(list(args), capture_output=True, check=False, **kw)


class Shot:
    """One picture of the whole screen, RGB."""

    def __init__(self, width, height, data):
        self.width, self.height, self.data = width, height, data

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.data[i:i + 3])

    def region(self, left, top, right, bottom):
        rows = [self.data[(y * self.width + left) * 3:(y * self.width + right) * 3] for y in range(top, bottom)]
        return b"".join(rows)

    def matches(self, x, y, colour, tolerance=24):
        """The pixel is about this colour (0xRRGGBB)."""
        p = self.pixel(x, y)
        want = ((colour >> 16) & 255, (colour >> 8) & 255, colour & 255)
        return all(abs(p[k] - want[k]) <= tolerance for k in range(3))

    def count(self, left, top, right, bottom, colour, tolerance=24):
        """Pixels of about this colour in the rectangle."""
        return sum(self.matches(x, y, colour, tolerance)
                   for y in range(max(top, 0), min(bottom, self.height))
                   for x in range(max(left, 0), min(right, self.width)))

    def save(self, path, crop=None):
        """Writes the picture, or a (left, top, right, bottom) part of it, as PNG."""
        width, height, data = self.width, self.height, self.data
        if crop:
            left, top, right, bottom = crop
            width, height, data = right - left, bottom - top, self.region(*crop)
        subprocess.run(["ffmpeg", "-loglevel", "error", "-y", "-f", "rawvideo", "-pix_fmt", "rgb24",
                        "-s", f"{width}x{height}", "-i", "-", "-frames:v", "1", path],
                       input=data, check=True)


def screen_size():
    out = _run("xwininfo", "-root", text=True).stdout
    return int(re.search(r"Width: (\d+)", out).group(1)), int(re.search(r"Height: (\d+)", out).group(1))


def grab():
    width, height = screen_size()
    out = _run("ffmpeg", "-loglevel", "error", "-f", "x11grab", "-video_size", f"{width}x{height}",
               "-i", os.environ["DISPLAY"], "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "rgb24", "-")
    assert len(out.stdout) == width * height * 3, out.stderr
    return Shot(width, height, out.stdout)


def read_qr(shot, crop):
    """The text of the QR code in that part of the screen, None when zbarimg finds none."""
    with tempfile.TemporaryDirectory() as d:
        path = os.path.join(d, "qr.png")
        shot.save(path, crop)
        out = _run("zbarimg", "-q", "--raw", path, text=True)
    return out.stdout.strip() or None


class Window:
    def __init__(self, wid, left, top, width, height):
        self.id, self.left, self.top, self.width, self.height = wid, left, top, width, height

    @property
    def rect(self):
        return self.left, self.top, self.left + self.width, self.top + self.height

    def at(self, x, y, dpi=96):
        """Screen point of a point in DIPs of the window."""
        return self.left + round(x * dpi / 96), self.top + round(y * dpi / 96)

    def __repr__(self):
        return f"Window({self.id}, {self.left},{self.top} {self.width}x{self.height})"


def windows(name):
    """The visible top-level windows of that title."""
    found = []
    ids = _run("xdotool", "search", "--onlyvisible", "--name", f"^{name}$", text=True).stdout.split()
    for wid in ids:
        out = _run("xwininfo", "-id", wid, text=True).stdout
        if "IsViewable" not in out:
            continue
        v = [int(re.search(pattern + r":\s+(-?\d+)", out).group(1))
             for pattern in ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height")]
        found.append(Window(wid, *v))
    return found


def window_of_size(name, width, height):
    for w in windows(name):
        if (w.width, w.height) == (width, height):
            return w
    return None


def move(x, y):
    _run("xdotool", "mousemove", str(x), str(y))


def click(x, y, button=1):
    _run("xdotool", "mousemove", str(x), str(y), "click", str(button))


def press(x, y):
    _run("xdotool", "mousemove", str(x), str(y), "mousedown", "1")


def release(x, y):
    _run("xdotool", "mousemove", str(x), str(y), "mouseup", "1")


def key(window, *names):
    """Keys into that window. Without a window manager the X focus stays
    wherever the last click was (Wine's tray, say), so the keys are sent
    to the window itself."""
    _run("xdotool", "key", "--window", str(window.id), *names)


def tray_icon():
    """Centre of our icon in Wine's stand-in tray (no desktop shell runs under
    Xvfb), found by its accent colour; None while there is no tray."""
    trays = windows("Wine System Tray")
    if not trays:
        return None
    shot = grab()
    left, top, right, bottom = trays[0].rect
    points = [(x, y) for y in range(top, bottom) for x in range(left, right)
              if shot.matches(x, y, 0xC8F04A, 30) or shot.matches(x, y, 0x3DDC84, 30)]
    if not points:
        return None
    xs, ys = [p[0] for p in points], [p[1] for p in points]
    return (min(xs) + max(xs)) // 2, (min(ys) + max(ys)) // 2


def colour_near(point, colour, radius=10, tolerance=20):
    """Pixels of about this colour within `radius` of the point."""
    x, y = point
    return grab().count(x - radius, y - radius, x + radius + 1, y + radius + 1, colour, tolerance)


def tray_menu(tries=4):
    """Right-clicks the tray icon until its menu shows; the menu's window or
    None. Under Xvfb the tray's own window may take the focus a moment after
    the click and close the menu again; a person would simply click once more."""
    for _ in range(tries):
        before = {w.id for w in windows("")}
        click(*tray_icon(), button=3)
        # (The tray's tooltip is a new window too, one line high.)
        menus = wait_for(lambda: [w for w in windows("") if w.id not in before and w.height > 40], 3)
        # Drawn: mostly the light face of a system menu.
        if menus and wait_for(lambda: grab().count(*menus[0].rect, 0xF0F0F0, 16) > menus[0].width * menus[0].height // 2,
                              2):
            return menus[0]
        key_anywhere("Escape")
        time.sleep(1)
    return None


def key_anywhere(*names):
    _run("xdotool", "key", *names)
