#!/usr/bin/env python3
"""Dravik end to end, as a person meets it: the real player on a virtual X
display (Xvfb), a folder of sample recordings made by `dravik-tool mksample`
on its command line, driven with real mouse clicks and key presses (xdotool);
what it shows is read from the display's frame buffer, what it keeps from its
home folder.

usage: player_e2e.py DRAVIK DRAVIK_TOOL [--shots DIR]
  --shots DIR (or DRAVIK_E2E_SHOTS=DIR): save the grabs as PNG files there (the
  manual's pictures).

Every wait is a bounded poll for a condition; no verdict rests on a sleep.

The programs it starts end with it: each is killed when the driver dies
(also by SIGKILL, as CTest's timeout does), and a SIGTERM or SIGINT cleans up
as the normal end does.
"""
import configparser
import ctypes
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import zlib

WIDTH, HEIGHT = 1280, 900
POLL_LIMIT = 60.0  # seconds any one condition may take (sanitizer build, busy machine)

failures = []
passed = 0


def log(text):
    print(text, flush=True)


def check(ok, what):
    global passed
    log(("ok    " if ok else "FAIL  ") + what)
    if ok:
        passed += 1
    else:
        failures.append(what)
    return ok


_libc = ctypes.CDLL(None, use_errno=True)
PR_SET_PDEATHSIG = 1
DRIVER = os.getpid()


def die_with_driver():
    """In a child before it runs its program: SIGKILL when the driver dies."""
    _libc.prctl(PR_SET_PDEATHSIG, signal.SIGKILL, 0, 0, 0)
    if os.getppid() != DRIVER:  # the driver died before the line above
        os.kill(os.getpid(), signal.SIGKILL)


def run(command, **kwargs):
    return subprocess.run(command, preexec_fn=die_with_driver, **kwargs)


def on_termination(number, _frame):
    """SIGTERM: end through main's cleanup."""
    raise SystemExit(128 + number)


def wait_for(condition, what, limit=POLL_LIMIT, step=0.1):
    """Polls `condition` until it returns something true; None after `limit` s."""
    deadline = time.monotonic() + limit
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            log("      (gave up waiting for %s after %.0f s)" % (what, limit))
            return None
        time.sleep(step)


# --- the frame buffer -----------------------------------------------------

class Frame:
    """One picture of the screen: XWD as Xvfb keeps it in -fbdir."""

    def __init__(self, path):
        data = open(path, "rb").read()
        header = struct.unpack(">25I", data[:100])
        header_size, width, height = header[0], header[4], header[5]
        byte_order, bpp, line = header[7], header[11], header[12]
        ncolors = header[19]
        if bpp != 32:
            raise RuntimeError("expected a 32-bit frame buffer, got %d bits" % bpp)
        offset = header_size + ncolors * 12
        self.width, self.height, self.line = width, height, line
        self.pixels = data[offset:offset + line * height]
        # Pixel bytes in memory order: B G R x (LSB first) or x R G B.
        self.lsb = byte_order == 0

    def rgb(self, x, y):
        i = y * self.line + x * 4
        p = self.pixels[i:i + 4]
        return (p[2], p[1], p[0]) if self.lsb else (p[1], p[2], p[3])

    def region(self, rect):
        """The bytes of a rectangle (x, y, w, h), clipped to the screen."""
        x, y, w, h = rect
        x0, y0 = max(0, x), max(0, y)
        x1, y1 = min(self.width, x + w), min(self.height, y + h)
        return b"".join(self.pixels[r * self.line + x0 * 4:r * self.line + x1 * 4] for r in range(y0, y1))

    def colours(self, rect, step=3):
        """Every `step`th pixel of a rectangle as (r, g, b)."""
        x, y, w, h = rect
        for yy in range(max(0, y), min(self.height, y + h), step):
            for xx in range(max(0, x), min(self.width, x + w), step):
                yield self.rgb(xx, yy)

    def save_png(self, path, rect=None):
        x, y, w, h = rect or (0, 0, self.width, self.height)
        rows = []
        for yy in range(y, y + h):
            src = self.pixels[yy * self.line + x * 4:yy * self.line + (x + w) * 4]
            row = bytearray(w * 3)
            if self.lsb:
                row[0::3], row[1::3], row[2::3] = src[2::4], src[1::4], src[0::4]
            else:
                row[0::3], row[1::3], row[2::3] = src[1::4], src[2::4], src[3::4]
            rows.append(b"\0" + bytes(row))
        raw = zlib.compress(b"".join(rows), 6)

        def chunk(kind, body):
            return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

        with open(path, "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
                    + chunk(b"IDAT", raw) + chunk(b"IEND", b""))


def changed_fraction(a, b, rect):
    """The share of a rectangle's pixels that differ between two frames."""
    ra, rb = a.region(rect), b.region(rect)
    if not ra:
        return 0.0
    differ = sum(1 for i in range(0, len(ra), 4) if ra[i:i + 3] != rb[i:i + 3])
    return differ / (len(ra) / 4)


class Display:
    def __init__(self, folder):
        self.folder = folder
        self.fb = os.path.join(folder, "Xvfb_screen0")
        read, write = os.pipe()
        self.server = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", "%dx%dx24" % (WIDTH, HEIGHT), "-fbdir", folder,
             "-nolisten", "tcp", "-noreset"], pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            preexec_fn=die_with_driver)
        os.close(write)
        number = b""
        with os.fdopen(read, "rb") as r:
            while not number.endswith(b"\n"):
                c = r.read(1)
                if not c:
                    raise RuntimeError("Xvfb did not start")
                number += c
        self.name = ":" + number.decode().strip()

    def grab(self):
        return Frame(self.fb)

    def close(self):
        self.server.terminate()
        try:
            self.server.wait(10)
        except subprocess.TimeoutExpired:
            self.server.kill()


class Player:
    """The running Dravik and the person at its window."""

    def __init__(self, display, command, env, log_path):
        self.display = display
        self.env = env
        self.log = open(log_path, "wb")
        # Its own session: the browser's helper processes it starts are in its
        # process group, and end with it.
        self.process = subprocess.Popen(command, env=env, stdout=self.log, stderr=subprocess.STDOUT,
                                        start_new_session=True, preexec_fn=die_with_driver)
        self.origin = (0, 0)

    def xdotool(self, *args):
        return run(["xdotool"] + [str(a) for a in args], env=self.env, stdout=subprocess.PIPE,
                   stderr=subprocess.DEVNULL, text=True, timeout=30).stdout

    def windows(self):
        """The player's visible windows."""
        return self.xdotool("search", "--onlyvisible", "--pid", self.process.pid).split()

    def focused(self):
        return self.xdotool("getwindowfocus").strip()

    def end(self):
        """Kills what is left of the player: the program, if it still runs,
        and any helper process of its group."""
        try:
            os.killpg(self.process.pid, signal.SIGKILL)
        except (ProcessLookupError, PermissionError):
            pass
        self.process.wait()

    def find_window(self):
        ids = self.xdotool("search", "--onlyvisible", "--pid", self.process.pid).split()
        for wid in ids:
            geometry = self.xdotool("getwindowgeometry", "--shell", wid)
            values = dict(line.split("=", 1) for line in geometry.split() if "=" in line)
            if int(values.get("WIDTH", 0)) > 600 and int(values.get("HEIGHT", 0)) > 400:
                self.window = wid
                self.origin = (int(values["X"]), int(values["Y"]))
                self.size = (int(values["WIDTH"]), int(values["HEIGHT"]))
                return True
        return False

    def at(self, x, y):
        return self.origin[0] + x, self.origin[1] + y

    def click(self, x, y, repeat=1):
        sx, sy = self.at(x, y)
        self.xdotool("mousemove", "--sync", sx, sy)
        self.xdotool("click", "--repeat", repeat, "--delay", 80, 1)

    def hover(self, x, y):
        sx, sy = self.at(x, y)
        self.xdotool("mousemove", "--sync", sx, sy)

    def key(self, *keys):
        self.xdotool("key", "--delay", 60, *keys)

    def type(self, text):
        self.xdotool("type", "--delay", 20, text)

    def running(self):
        return self.process.poll() is None


# --- the window's regions (window coordinates at the window's start size) --
# The panes of a four-channel group: one large and three small on the right.
PANES = [(10, 34, 580, 420), (599, 34, 189, 134), (599, 176, 189, 134), (599, 318, 189, 136)]
PANE_AREA = (8, 32, 784, 568)
LIST = (805, 80, 390, 415)
WAVE = (40, 612, 1150, 26)
BUTTON_OPEN, BUTTON_MAP, BUTTON_LANGUAGE = (850, 44), (949, 44), (1048, 44)
ROW_HEIGHT, FIRST_ROW = 20, 89
CLOSE_BUTTON = (1186, 13)


def moving(player, rects, what, limit=POLL_LIMIT):
    """True when every rectangle changes between two grabs (polled)."""
    first = player.display.grab()

    def differs():
        later = player.display.grab()
        return all(changed_fraction(first, later, r) > 0.002 for r in rects)

    return wait_for(differs, what, limit) is not None


def still(player, rects):
    """True when two grabs a second apart are alike in every rectangle
    (polled: a picture or two may still arrive after a pause)."""
    def settled():
        a = player.display.grab()
        time.sleep(1.0)
        b = player.display.grab()
        return all(changed_fraction(a, b, r) < 0.0005 for r in rects)

    return wait_for(settled, "the pictures to stand still") is not None


def read_ini(path):
    raw = open(path, "rb").read()
    text = raw.decode("utf-16") if raw.startswith(b"\xff\xfe") else raw.decode("utf-8", "replace")
    ini = configparser.ConfigParser(interpolation=None, strict=False)
    ini.optionxform = str.lower
    ini.read_string(text)
    return ini


def make_samples(tool, folder):
    jobs = [
        [os.path.join(folder, "20240315"), "--channels", "4", "--seconds", "30", "--groups", "1", "--sync-marks"],
        [os.path.join(folder, "20240315"), "--format", "avi", "--channels", "2", "--seconds", "6",
         "--start", "2024-03-15 08:10:00"],
        [os.path.join(folder, "20240315"), "--format", "flv", "--channels", "2", "--seconds", "6",
         "--start", "2024-03-15 08:20:00"],
        [os.path.join(folder, "20240316"), "--format", "mp4", "--channels", "2", "--seconds", "30",
         "--start", "2024-03-16 08:30:00"],
    ]
    for args in jobs:
        run([tool, "mksample"] + args, check=True, stdout=subprocess.DEVNULL)


def main():
    args = sys.argv[1:]
    shots = os.environ.get("DRAVIK_E2E_SHOTS", "")
    if "--shots" in args:
        i = args.index("--shots")
        shots = args[i + 1]
        del args[i:i + 2]
    dravik, tool = args[0], args[1]
    for program in ("Xvfb", "xdotool"):
        if not shutil.which(program):
            log("SKIP: %s is not installed (scripts/install-deps.sh installs it)" % program)
            sys.exit(0)
    if shots:
        os.makedirs(shots, exist_ok=True)
    started = time.monotonic()
    signal.signal(signal.SIGTERM, on_termination)
    signal.signal(signal.SIGHUP, on_termination)
    tmp = tempfile.mkdtemp(prefix="dravik-e2e-")
    display = player = None
    try:
        samples = os.path.join(tmp, "samples")
        make_samples(tool, samples)
        home = os.path.join(tmp, "home")
        user = os.path.join(tmp, "user")
        os.makedirs(user)
        fb = os.path.join(tmp, "fb")
        os.makedirs(fb)
        display = Display(fb)
        env = dict(os.environ, DISPLAY=display.name, HOME=user, XDG_CONFIG_HOME=os.path.join(user, ".config"),
                   DRAVIK_DISABLE_GPU="1", SDL_AUDIODRIVER="dummy", ALSA_CARD="DravikNoSuchCard",
                   # No session bus: without this libdbus would try to start one for the display.
                   DBUS_SESSION_BUS_ADDRESS="unix:path=" + os.path.join(tmp, "no-bus"))
        # On an X server a module is loaded and unloaded again before the exit
        # (the platform's GL probing), and the leak checker cannot say whose its
        # last allocations were; the player's own leaks are looked for by the
        # window tests on the offscreen platform. Other sanitizer checks stay on.
        if "ASAN_OPTIONS" in env:
            env["ASAN_OPTIONS"] = env["ASAN_OPTIONS"].replace("detect_leaks=1", "detect_leaks=0")
        env.pop("QT_QPA_PLATFORM", None)
        env.pop("WAYLAND_DISPLAY", None)
        player = Player(display, [dravik, "--home", home, samples], env, os.path.join(tmp, "dravik.log"))

        def shot(name):  # the window only
            if shots:
                display.grab().save_png(os.path.join(shots, name + ".png"), player.origin + player.size)

        if not check(wait_for(player.find_window, "the window") is not None, "the window appears"):
            return
        log("      window at %s, %d x %d" % (player.origin, *player.size))
        # It plays the first group: all four panes move, and the waveform.
        check(moving(player, PANES, "four moving panes"), "the first group plays in all four panes")
        check(moving(player, [WAVE], "the waveform"), "the G-sensor waveform moves")
        shot("player")

        # The map in place of the list: the car on the track over a grey ground.
        player.click(*BUTTON_MAP)

        def car_drawn():  # the car is a red arrow; nothing in the list is red
            frame = display.grab()
            return sum(1 for r, g, b in frame.colours(LIST, 2) if r > 180 and g < 100 and b < 100) > 15

        check(wait_for(car_drawn, "the car on the map") is not None, "the map shows the car where the recording is")
        shot("map")
        player.click(*BUTTON_OPEN)  # the list comes back first
        check(wait_for(lambda: not car_drawn(), "the list again") is not None, "OpenFile brings the list back")

        # Pause with Space: the pictures stand; Backspace plays backward.
        player.hover(PANES[0][0] + 100, PANES[0][1] + 100)
        player.key("space")
        check(still(player, PANES), "Space pauses: the pictures stand still")
        shot("paused")
        before = display.grab()
        player.key("BackSpace")
        check(moving(player, PANES, "backward play"), "Backspace plays backward")
        # Polled: backward play may pass the paused picture again on its way
        # (it starts from the paused place's group).
        check(wait_for(lambda: changed_fraction(before, display.grab(), PANES[0]) > 0.002, "a picture other than the paused one")
              is not None, "the picture has moved from the paused one")
        player.key("space")  # from backward: forward again
        check(moving(player, PANES, "forward play again"), "Space plays forward again")

        # A snapshot of the selected pane into ~/QVSnap.
        snap_folder = os.path.join(user, "QVSnap")
        player.key("s")
        snaps = wait_for(lambda: [f for root, _, files in os.walk(snap_folder) for f in files
                                  if not f.endswith(".tmp") and os.path.getsize(os.path.join(root, f)) > 1000],
                         "a snapshot file")
        check(bool(snaps), "S writes a snapshot: %s" % (snaps[:1] if snaps else "none"))

        # The layout: a double click on a pane shows it alone, another brings the four back.
        before = display.grab()
        player.click(PANES[1][0] + 90, PANES[1][1] + 60, repeat=2)

        def alone():
            later = display.grab()
            return changed_fraction(before, later, PANES[0]) > 0.5 and changed_fraction(before, later, PANES[3]) > 0.5

        check(wait_for(alone, "one pane alone") is not None, "a double click shows one pane over the whole area")
        shot("single-pane")
        player.click(PANES[0][0] + 290, PANES[0][1] + 200, repeat=2)
        check(moving(player, PANES, "four panes again"), "another double click brings the four panes back")

        # Open another folder with Ctrl+O: the folder dialog takes a typed path.
        second = os.path.join(samples, "20240316")
        list_before = display.grab()
        player.hover(LIST[0] + 100, LIST[1] + 200)
        player.key("ctrl+o")
        dialog = wait_for(lambda: [w for w in player.windows() if w != player.window], "the folder dialog")
        check(dialog is not None, "Ctrl+O opens the folder dialog")
        # What is typed goes to the dialog once it has the keyboard.
        if dialog and check(wait_for(lambda: player.focused() in dialog, "the dialog to take the keyboard") is not None,
                            "the folder dialog takes the keyboard"):
            shot("open-folder")
            player.key("ctrl+a")
            player.type(second)
            player.key("Return")
            wait_for(lambda: player.windows() == [player.window], "the dialog to close")
        check(wait_for(lambda: changed_fraction(list_before, display.grab(), LIST) > 0.05, "the new list") is not None,
              "the list shows the folder opened")
        # A double click on the group (the day's MP4 recordings) plays it.
        player.click(LIST[0] + 80, FIRST_ROW, repeat=2)
        check(moving(player, [PANES[0]], "the chosen group playing"), "a double click on a group plays it")
        shot("list")

        # The language: the "Language" button's menu, Russian.
        languages = os.path.join(home, "Language")
        names = []
        for f in os.listdir(languages):  # the menu lists the folder in its own order
            if f.lower().endswith(".ini"):
                name = read_ini(os.path.join(languages, f)).get("Setting", "language", fallback="")
                if name:
                    names.append(name)
        target = "Русский" if "Русский" in names else next((n for n in names if n != "English"), None)
        log("      languages in menu order: %s; choosing %s" % (names, target))
        captions_before = display.grab()
        player.click(*BUTTON_LANGUAGE)
        menu = wait_for(lambda: [w for w in player.windows() if w != player.window], "the language menu")
        check(menu is not None, "the Language button opens its menu")
        if menu:
            # The menu takes the keyboard when it is shown; it is drawn after that.
            geometry = dict(line.split("=", 1) for line in player.xdotool("getwindowgeometry", "--shell", menu[0]).split()
                            if "=" in line)
            rect = (int(geometry.get("X", 0)), int(geometry.get("Y", 0)), int(geometry.get("WIDTH", 0)),
                    int(geometry.get("HEIGHT", 0)))
            check(wait_for(lambda: changed_fraction(captions_before, display.grab(), rect) > 0.05, "the menu drawn")
                  is not None, "the language menu is drawn")
        shot("language-menu")
        player.key(*(["Down"] * (names.index(target) + 1) + ["Return"]))
        buttons = (BUTTON_OPEN[0] - 45, 32, 400, 26)
        check(wait_for(lambda: changed_fraction(captions_before, display.grab(), buttons) > 0.01, "new captions")
              is not None, "the window's captions change to " + str(target))
        shot("language")

        # Close with the window's own close button; the player ends by itself.
        player.click(*CLOSE_BUTTON)
        ended = wait_for(lambda: not player.running(), "the player to end")
        check(ended is not None and player.process.returncode == 0,
              "the close button ends the player (status %s)" % player.process.poll())

        # What it kept.
        setting = os.path.join(home, "setting.ini")
        if check(os.path.isfile(setting), "setting.ini in the home folder"):
            ini = read_ini(setting)
            check(ini.get("Setting", "language", fallback="") == target,
                  "setting.ini keeps the language chosen: %s" % ini.get("Setting", "language", fallback="?"))
            folder = ini.get("Lumivex", "foldername", fallback="")
            check(os.path.normpath(folder) == os.path.normpath(second), "setting.ini keeps the folder opened: " + folder)
        files = [f for f in os.listdir(languages) if f.lower().endswith(".ini")]
        sound = all(read_ini(os.path.join(languages, f)).has_section("String") for f in files)
        check(len(files) >= 4 and sound, "the language files are sound INI files: %s" % sorted(files))
    finally:
        signal.signal(signal.SIGTERM, signal.SIG_IGN)  # the cleanup runs to its end
        signal.signal(signal.SIGHUP, signal.SIG_IGN)
        if player:
            if player.running():
                check(False, "the player was still running at the end")
            player.end()
            player.log.close()
            if failures:
                log("---- the player's output (last 4000 characters)")
                log(open(os.path.join(tmp, "dravik.log"), "rb").read()[-4000:].decode("utf-8", "replace"))
        if display:
            display.close()
        shutil.rmtree(tmp, ignore_errors=True)
    log("e2e took %.1f s" % (time.monotonic() - started))
    log("%d passed, %d failed" % (passed, len(failures)))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
