"""Drives the real avistep as a user would: a virtual X display, a pseudo-terminal as its console,
xdotool at the dialogs, screenshots of its window and the sound the SDL disk driver captured.

Every test script is invoked as
    SCRIPT --avistep BIN --make-avi BIN --source DIR [--window-manager openbox | --compositor NAME]
and uses run_tests() to start one Xvfb of its own for all its tests, with the window manager on
it when one is named (as on a desktop), else bare; or a headless Wayland compositor (mutter,
sway) with its Xwayland, as a Wayland desktop session gives a program.
"""

import argparse
import ctypes
import ctypes.util
import fcntl
import json
import os
import pwd
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import threading
import time
import unittest

# What avistep shows, as a user sees it in a UTF-8 terminal.
CHOOSER_TITLE = "AVIファイルを指定します"
DIALOG_CAPTION = "..."
DIALOG_NAME = "^" + re.escape(DIALOG_CAPTION) + "$"
PROMPT_MONITOR = "non_monitor - nキー , 表示 - n以外のキー ?"
PROMPT_STEP = "\nコマ送り - sキー , 連続表示 - s以外のキー ?"
QUIT = "quit?"
OPEN_ERR = "open err\n"

WAIT = 30.0            # seconds for anything a user would wait for
SAMPLES_PER_FRAME = 1067

FRAME_LINE = re.compile(r"color = (\d+) frame= *(-?\d+) \n")
TITLE = re.compile(r"BITMAPINFOHEADER@([0-9A-F]{8,16}),([0-9A-F]{8,16}) "
                   r"\[(.*)\] frame (-?\d+)/(\d+) ")

args = None        # the command line: avistep, make_avi, source
context = None     # the Context of this script's run


def parse_command_line():
    global args
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--avistep", required=True, help="the avistep program")
    parser.add_argument("--make-avi", required=True, help="the test-clip writer")
    parser.add_argument("--source", required=True, help="the source tree")
    parser.add_argument("--window-manager", help="a window manager to run on the display")
    parser.add_argument("--compositor", choices=sorted(COMPOSITORS),
                        help="a headless Wayland compositor with Xwayland instead of Xvfb")
    args, rest = parser.parse_known_args()
    return [sys.argv[0]] + rest


def stop_process(process):
    """Ends a helper process: politely, then by force after 10 s."""
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


class XServer:
    """An Xvfb of its own on a display number that the server picks itself (-displayfd)."""

    def __init__(self):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24",
             "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + WAIT
        while not number.endswith(b"\n"):
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([read_end], [], [], left)[0]:
                self.stop()
                raise RuntimeError("Xvfb did not start within %.0f s" % WAIT)
            chunk = os.read(read_end, 32)
            if not chunk:
                self.stop()
                raise RuntimeError("Xvfb ended at start-up (status %s)" % self.process.wait())
            number += chunk
        os.close(read_end)
        self.display = ":" + number.decode().strip()

    def stop(self):
        stop_process(self.process)


class WindowManager:
    """A window manager (openbox) on the display, started with a home of its own and waited for
    until it has taken the screen."""

    def __init__(self, context, command):
        home = context.path("wm-home")
        os.makedirs(home)
        env = context.env(HOME=home)
        self.process = subprocess.Popen([command], env=env, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + WAIT
        while "_NET_SUPPORTING_WM_CHECK(WINDOW)" not in context.x(
                "xprop", "-root", "_NET_SUPPORTING_WM_CHECK", check=False):
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.stop()
                raise RuntimeError("%s did not take the screen" % command)
            time.sleep(0.1)

    def stop(self):
        stop_process(self.process)


class Compositor:
    """A headless Wayland compositor with Xwayland: the session a Wayland desktop gives a program,
    with both DISPLAY and WAYLAND_DISPLAY set. Its session's environment is what the compositor
    hands the programs it starts; a watcher connected to Xwayland tells whether Xwayland lived
    through the run."""

    binary = None
    user = None               # the unprivileged user it runs as (and the program with it)
    honours_positions = True  # places X11 windows where they ask to be

    def __init__(self, context):
        self.context = context
        self.runtime = context.path("runtime")
        os.makedirs(self.runtime, mode=0o700)
        context.give_to_user(self.runtime)
        self.session_file = os.path.join(self.runtime, "session.env")
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": context.path("home-wm"),
               "XDG_RUNTIME_DIR": self.runtime, "LANG": "C.UTF-8"}
        os.makedirs(env["HOME"])
        context.give_to_user(env["HOME"])
        # A command the compositor starts: it writes down the session's environment.
        self.report_env = "env > %s.part && mv %s.part %s" % ((self.session_file,) * 3)
        self.log = open(os.path.join(context.artifacts, "compositor.log"), "wb")
        self.process = subprocess.Popen(
            ["dbus-run-session", "--"] + self.command(env), env=env, stdin=subprocess.DEVNULL,
            stdout=self.log, stderr=subprocess.STDOUT, start_new_session=True,
            cwd=context.scratch, **context.user_arguments())
        deadline = time.monotonic() + WAIT
        while not os.path.exists(self.session_file):
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.stop()
                raise RuntimeError("%s did not start a session" % self.binary)
            time.sleep(0.1)
        with open(self.session_file) as f:
            given = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
        self.env = {k: v for k, v in given.items()
                    if k in ("DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY", "SWAYSOCK",
                             "DBUS_SESSION_BUS_ADDRESS")}
        self.env["XDG_RUNTIME_DIR"] = self.runtime

    def watch_xwayland(self):
        """Connects to Xwayland for the rest of the run (starting it if the compositor starts
        it on demand); the watcher ends should Xwayland go."""
        self.watcher = subprocess.Popen(
            ["xprop", "-root", "-spy", "_NET_ACTIVE_WINDOW"], env=self.context.env(),
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            cwd=self.context.scratch, **self.context.user_arguments())
        self.context.x("xdpyinfo", timeout=WAIT)

    def alive(self):
        return self.process.poll() is None and self.watcher.poll() is None

    def stop(self):
        watcher = getattr(self, "watcher", None)
        if watcher:
            stop_process(watcher)
        # The whole session: should the compositor have ended already, what it started
        # (Xwayland, the session's command) may still run.
        for signal_number in (signal.SIGTERM, signal.SIGKILL):
            try:
                os.killpg(self.process.pid, signal_number)
            except ProcessLookupError:
                break
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                pass
        self.process.wait()
        self.log.close()

    # Input: X11 windows through Xwayland, with xdotool.
    def focus(self, window):
        self.context.x("xdotool", "windowactivate", "--sync", str(window))

    def key(self, *keys):
        self.context.x("xdotool", "key", *keys)

    def type(self, text):
        self.context.x("xdotool", "type", "--delay", "12", text)

    def screenshot(self, png, window):
        """Xwayland has no picture of its root window: the screen is put together from those
        of the mapped windows, bottom first: each top-level one (a frame of mutter's), then the
        windows in it, whose pictures a frame does not give."""
        if window != "root":
            self.context.x("import", "-silent", "-window", str(window), png, timeout=30)
            return
        layers = []
        for top in self.viewable_children("-root"):
            for part in [top] + self.viewable_children(top):
                name = "%s.%s.png" % (png, part)
                # Some of mutter's own windows have no picture to give.
                self.context.x("import", "-silent", "-window", part, name, timeout=30,
                               check=False)
                if os.path.exists(name):
                    g = self.context.geometry(part)
                    layers += [name, "-geometry", "+%d+%d" % (g["x"], g["y"]), "-composite"]
        subprocess.run(["convert", "-size", "1280x1024", "xc:black", *layers, png], check=True)
        for name in layers[::4]:
            os.remove(name)

    def viewable_children(self, window):
        """The window's mapped children of some size, bottom first, as xwininfo lists them."""
        tree = self.context.x("xwininfo", "-children", *([window] if window == "-root"
                                                         else ["-id", window]))
        found = re.findall(r"^\s+(0x[0-9a-f]+) .*?(\d+)x(\d+)\+-?\d+\+-?\d+\s+\S+$",
                           tree, re.M)
        return [child for child, width, height in found if int(width) > 1 and int(height) > 1 and
                "IsViewable" in self.context.x("xwininfo", "-id", child, check=False)]


class Mutter(Compositor):
    """GNOME's compositor. It runs as root and starts Xwayland when the first X client comes."""

    binary = "mutter"

    def command(self, env):
        return ["mutter", "--headless", "--wayland", "--virtual-monitor", "1280x1024",
                "--wayland-display=avistep-%d" % os.getpid(), "--",
                "sh", "-c", self.report_env + " && exec sleep 100000"]


class Sway(Compositor):
    """sway: refuses to run as root, so it and the program run as an unprivileged user. Its
    Xwayland lets only that user in. Keys go in through a virtual keyboard (wtype)."""

    binary = "sway"
    user = "nobody"
    honours_positions = False  # centres every floating window, X11 ones too

    def command(self, env):
        config = os.path.join(self.runtime, "config")
        with open(config, "w") as f:
            f.write("xwayland enable\noutput HEADLESS-1 mode 1280x1024\n"
                    "exec %s\n" % self.report_env)
        self.context.give_to_user(config)
        env.update(WLR_BACKENDS="headless", WLR_LIBINPUT_NO_DEVICES="1", WLR_RENDERER="pixman")
        return ["sway", "-c", config]

    def windows(self, pid):
        """[(title, shell)] of the process's windows, Wayland (xdg_shell) and X11 (xwayland)."""
        found = []

        def walk(node):
            if node.get("pid") == pid:
                found.append((node.get("name"), node.get("shell")))
            for child in node.get("nodes", []) + node.get("floating_nodes", []):
                walk(child)
        walk(json.loads(self.context.x("swaymsg", "-r", "-t", "get_tree")))
        return found

    def focus(self, window):
        # An X11 window is mapped a moment before sway has taken it in.
        deadline = time.monotonic() + WAIT
        while '"success":true' not in self.context.x(
                "swaymsg", "-r", "[id=%d] focus" % window, check=False).replace(" ", ""):
            if time.monotonic() > deadline:
                raise AssertionError("sway did not focus window %d" % window)
            time.sleep(0.1)

    def wtype(self, *arguments):
        # The first key after a new keymap (each wtype brings its own) can be lost on its way to
        # an X11 window: a harmless Shift goes first.
        self.context.x("wtype", "-k", "Shift_L", "-s", "150", *arguments)

    def key(self, *keys):
        arguments = []
        for key in keys:
            *modifiers, name = key.split("+")
            for modifier in modifiers:
                arguments += ["-M", modifier]
            arguments += ["-k", name]
            for modifier in modifiers:
                arguments += ["-m", modifier]
        self.wtype(*arguments)

    def type(self, text):
        self.wtype("-d", "12", text)

    def screenshot(self, png, window):
        # The whole screen, windows and frames as the compositor draws them.
        with open(png, "wb") as f:
            f.write(self.context.x("grim", "-", binary=True, timeout=30))


COMPOSITORS = {"mutter": Mutter, "sway": Sway}


class Context:
    """What the tests of one script share: the X server (with its window manager, if any), a
    scratch folder and an artifacts folder for screenshots and transcripts."""

    def __init__(self, name, window_manager=None, compositor=None):
        self.name = name
        self.user = compositor.user if compositor else None
        self.scratch = tempfile.mkdtemp(prefix="avistep-%s-" % name)
        self.artifacts = os.path.join(os.getcwd(), "blackbox-artifacts", name)
        shutil.rmtree(self.artifacts, ignore_errors=True)
        os.makedirs(self.artifacts)
        for sub in ("config", "data", "cache", "runtime"):
            os.makedirs(os.path.join(self.scratch, "xdg", sub))
        os.chmod(os.path.join(self.scratch, "xdg", "runtime"), 0o700)
        self.xserver = self.window_manager = self.compositor = None
        if self.user:
            # The program runs as that user: the scratch folder and a copy of the program
            # become its, wherever the build lies.
            os.chmod(self.scratch, 0o755)
            self.give_to_user(self.scratch)
            self.program = self.path("avistep")
            shutil.copy2(args.avistep, self.program)
        else:
            self.program = os.path.abspath(args.avistep)
        if compositor:
            self.compositor = compositor(self)
            self.display = self.compositor.env["DISPLAY"]
            self.compositor.watch_xwayland()
        else:
            self.xserver = XServer()
            self.display = self.xserver.display
        self.window_manager = WindowManager(self, window_manager) if window_manager else None

    def close(self):
        if self.window_manager:
            self.window_manager.stop()
        if self.compositor:
            self.compositor.stop()
        if self.xserver:
            self.xserver.stop()
        shutil.rmtree(self.scratch, ignore_errors=True)

    def give_to_user(self, path):
        """Makes the folder (and all in it) or file the unprivileged user's, if there is one."""
        if not self.user:
            return
        entry = pwd.getpwnam(self.user)
        for folder, _, names in os.walk(path):
            os.chown(folder, entry.pw_uid, entry.pw_gid)
            for name in names:
                os.chown(os.path.join(folder, name), entry.pw_uid, entry.pw_gid)
        os.chown(path, entry.pw_uid, entry.pw_gid)

    def user_arguments(self):
        """subprocess arguments that run a process as the unprivileged user, if there is one."""
        if not self.user:
            return {}
        entry = pwd.getpwnam(self.user)
        return {"user": entry.pw_uid, "group": entry.pw_gid, "extra_groups": []}

    @property
    def honours_positions(self):
        """Whether X11 windows open where they ask to (not so under sway)."""
        return not self.compositor or self.compositor.honours_positions

    def desktop_alive(self):
        """The compositor and its Xwayland are still running (always true on Xvfb)."""
        return not self.compositor or self.compositor.alive()

    def env(self, **extra):
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("DBUS_", "SESSION_MANAGER", "WAYLAND_"))}
        xdg = os.path.join(self.scratch, "xdg")
        env.update(DISPLAY=self.display, NO_AT_BRIDGE="1", GSETTINGS_BACKEND="memory",
                   GIO_USE_VFS="local", LANG="C.UTF-8", LC_ALL="C.UTF-8", TERM="xterm",
                   XDG_CONFIG_HOME=os.path.join(xdg, "config"),
                   XDG_DATA_HOME=os.path.join(xdg, "data"),
                   XDG_CACHE_HOME=os.path.join(xdg, "cache"),
                   XDG_RUNTIME_DIR=os.path.join(xdg, "runtime"))
        env.pop("GDK_BACKEND", None)
        if self.compositor:
            env.update(self.compositor.env)
        env.update(extra)
        return env

    def path(self, name):
        return os.path.join(self.scratch, name)

    # ---- X tools ----

    def x(self, *command, timeout=15.0, check=True, binary=False):
        """Runs an X client (or a client of the compositor) against this display, as the
        program's user, and returns its standard output."""
        try:
            done = subprocess.run(command, env=self.env(), capture_output=True, timeout=timeout,
                                  cwd=self.scratch, **self.user_arguments())
        except subprocess.TimeoutExpired:
            raise AssertionError("%s did not finish within %.0f s" % (" ".join(command), timeout))
        if check and done.returncode != 0:
            raise AssertionError("%s failed (%d): %s" % (" ".join(command), done.returncode,
                                                         done.stderr.decode(errors="replace")))
        return done.stdout if binary else done.stdout.decode(errors="replace")

    def find_windows(self, name=None, class_name=None):
        """Visible windows whose title (or class) matches the regular expression, oldest first."""
        command = ["xdotool", "search", "--onlyvisible"]
        command += ["--name", name] if name is not None else ["--class", class_name]
        out = self.x(*command, check=False)
        return [int(w) for w in out.split()]

    def focus(self, window):
        if self.compositor:
            self.compositor.focus(window)
        else:
            self.x("xdotool", "windowfocus", "--sync", str(window))

    def key(self, *keys):
        """Types the keys (xdotool's names) into whichever window has the keyboard."""
        if self.compositor:
            self.compositor.key(*keys)
        else:
            self.x("xdotool", "key", *keys)

    def type(self, text):
        if self.compositor:
            self.compositor.type(text)
        else:
            self.x("xdotool", "type", "--delay", "12", text)

    def focus_and_key(self, window, *keys):
        self.focus(window)
        time.sleep(0.1)
        self.key(*keys)

    def type_into(self, window, text):
        self.focus(window)
        time.sleep(0.1)
        self.type(text)

    def geometry(self, window):
        """The window's inner size and its position on the screen."""
        out = self.x("xwininfo", "-id", str(window))
        values = {}
        for key, label in (("x", "Absolute upper-left X"), ("y", "Absolute upper-left Y"),
                           ("width", "Width"), ("height", "Height")):
            match = re.search(r"^\s*%s:\s*(-?\d+)" % label, out, re.M)
            values[key] = int(match.group(1))
        return values

    def outer_rect(self, window):
        """(x, y, width, height) of the window on the screen with the frame a window manager
        put around it."""
        g = self.geometry(window)
        out = self.x("xprop", "-id", str(window), "_NET_FRAME_EXTENTS", check=False)
        match = re.search(r"= (\d+), (\d+), (\d+), (\d+)", out)
        left, right, top, bottom = (int(v) for v in match.groups()) if match else (0, 0, 0, 0)
        return (g["x"] - left, g["y"] - top, g["width"] + left + right,
                g["height"] + top + bottom)

    def title(self, window):
        out = self.x("xprop", "-id", str(window), "-notype", "_NET_WM_NAME")
        match = re.search(r'= "(.*)"$', out.strip(), re.S)
        if not match:
            out = self.x("xprop", "-id", str(window), "-notype", "WM_NAME")
            match = re.search(r'= "(.*)"$', out.strip(), re.S)
        return match.group(1).replace('\\"', '"').replace("\\\\", "\\") if match else None

    def wm_class(self, window):
        out = self.x("xprop", "-id", str(window), "-notype", "WM_CLASS")
        return re.findall(r'"([^"]*)"', out)

    def ask_to_close(self, window):
        """Sends the window the WM_DELETE_WINDOW request a window manager's close button sends."""
        x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x11.XInternAtom.restype = ctypes.c_ulong
        x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                                   ctypes.c_void_p]
        x11.XFlush.argtypes = [ctypes.c_void_p]
        x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        display = x11.XOpenDisplay(self.display.encode())
        if not display:
            raise AssertionError("cannot open display " + self.display)
        event = XClientMessageEvent(type=33, send_event=1, display=display, window=window,
                                    message_type=x11.XInternAtom(display, b"WM_PROTOCOLS", 0),
                                    format=32)
        event.data[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
        padded = (ctypes.c_long * 24)()  # an XEvent is 24 longs
        ctypes.memmove(padded, ctypes.byref(event), ctypes.sizeof(event))
        sent = x11.XSendEvent(display, window, 0, 0, padded)
        x11.XFlush(display)
        x11.XCloseDisplay(display)
        if not sent:
            raise AssertionError("XSendEvent to window %d failed" % window)

    def screenshot(self, name, window="root"):
        """Saves a PNG of the window (or the screen) among the artifacts; returns its pixels."""
        png = os.path.join(self.artifacts, name + ".png")
        if self.compositor:
            self.compositor.screenshot(png, window)
        else:
            self.x("import", "-silent", "-window", str(window), png, timeout=30)
        return Image.load(png)


class XClientMessageEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("data", ctypes.c_long * 5)]


class Image:
    """RGB pixels, 3 bytes each, rows top to bottom."""

    def __init__(self, width, height, rgb):
        self.width, self.height, self.rgb = width, height, rgb

    @staticmethod
    def load(path):
        size = subprocess.run(["identify", "-format", "%w %h", path], capture_output=True,
                              check=True).stdout.split()
        rgb = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], capture_output=True,
                             check=True).stdout
        return Image(int(size[0]), int(size[1]), rgb)

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.rgb[i:i + 3])

    def crop(self, x, y, width, height):
        rows = [self.rgb[((y + r) * self.width + x) * 3:((y + r) * self.width + x + width) * 3]
                for r in range(height)]
        return Image(width, height, b"".join(rows))

    def colours(self):
        return {self.rgb[i:i + 3] for i in range(0, len(self.rgb), 3)}

    def differences(self, other):
        """(count, first differing (x, y, mine, theirs)) between two images of the same size."""
        count, first = 0, None
        for i in range(0, min(len(self.rgb), len(other.rgb)), 3):
            if self.rgb[i:i + 3] != other.rgb[i:i + 3]:
                count += 1
                if first is None:
                    p = i // 3
                    first = (p % self.width, p // self.width, tuple(self.rgb[i:i + 3]),
                             tuple(other.rgb[i:i + 3]))
        return count, first


class Avistep:
    """One run of the real program in a pseudo-terminal that is its controlling terminal."""

    def __init__(self, name, cwd=None, capture_sound=True, home=None, env=None):
        self.name = name
        self.home = home
        self.extra_env = env or {}
        self.cwd = cwd or context.scratch
        self.sound_file = context.path(name + ".sound.raw") if capture_sound else None
        self.stderr_path = os.path.join(context.artifacts, name + ".stderr.txt")
        self.raw = bytearray()
        self.lock = threading.Condition()
        self.answered = set()
        self.process = None
        self.master, self.slave = os.openpty()
        fcntl.ioctl(self.slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))
        self.termios_before = termios.tcgetattr(self.slave)

    # ---- lifetime ----

    def start(self):
        env = context.env(**self.extra_env)
        if self.home:
            # A home of its own, where the program finds everything it might write to.
            env["HOME"] = self.home
            for name in ("XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME",
                         "GSETTINGS_BACKEND"):
                env.pop(name, None)
        if self.sound_file:
            env.update(SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE=self.sound_file)
        else:
            env.update(SDL_AUDIODRIVER="dummy")
        slave = self.slave

        def become_terminal_owner():
            # start_new_session has made a new session; the pty becomes its controlling terminal.
            fcntl.ioctl(slave, termios.TIOCSCTTY, 0)

        with open(self.stderr_path, "wb") as err:
            self.process = subprocess.Popen([context.program], cwd=self.cwd, env=env,
                                            stdin=slave, stdout=slave, stderr=err,
                                            start_new_session=True,
                                            preexec_fn=become_terminal_owner,
                                            **context.user_arguments())
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        return self

    def _read(self):
        while True:
            if select.select([self.master], [], [], 0.05)[0]:
                if not self._take():
                    break
                continue
            if self.process.poll() is not None:
                # All it wrote before ending is in the terminal already: drain that, then stop.
                while select.select([self.master], [], [], 0.1)[0] and self._take():
                    pass
                break
        with self.lock:
            self.lock.notify_all()

    def _take(self):
        try:
            chunk = os.read(self.master, 65536)
        except OSError:
            return False
        with self.lock:
            self.raw += chunk
            self.lock.notify_all()
        return bool(chunk)

    def close(self):
        """Ends the program if a failed test left it running, and keeps its transcript."""
        if self.process and self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait()
        if self.process:
            self.reader.join(5)
        with open(os.path.join(context.artifacts, self.name + ".transcript.txt"), "w") as out:
            out.write(self.transcript)
        for fd in (self.master, self.slave):
            try:
                os.close(fd)
            except OSError:
                pass

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.close()

    # ---- the console ----

    @property
    def raw_transcript(self):
        with self.lock:
            return bytes(self.raw)

    @property
    def transcript(self):
        """What the terminal shows, with its line ends as plain \\n."""
        return self.raw_transcript.decode("utf-8", "replace").replace("\r\n", "\n")

    def fail(self, message):
        stderr = ""
        try:
            with open(self.stderr_path, errors="replace") as f:
                stderr = f.read()[-3000:]
        except OSError:
            pass
        status = self.process.poll() if self.process else None
        raise AssertionError("%s [%s]\n--- transcript ---\n%s\n--- end (exit status %s) ---\n"
                             "--- stderr (tail) ---\n%s" % (message, self.name,
                                                            self.transcript[-4000:], status,
                                                            stderr))

    def wait_until(self, condition, what, timeout=WAIT):
        """Waits until condition(transcript) is true; fails with the transcript otherwise."""
        deadline = time.monotonic() + timeout
        with self.lock:
            while True:
                finished = self.process.poll() is not None and not self.reader.is_alive()
                text = bytes(self.raw).decode("utf-8", "replace").replace("\r\n", "\n")
                if condition(text):
                    return text
                if finished:
                    break
                left = deadline - time.monotonic()
                if left <= 0:
                    break
                self.lock.wait(min(left, 0.2))
        self.fail("timed out after %.0f s waiting for %s" % (timeout, what)
                  if self.process.poll() is None else "the program ended while waiting for " + what)

    def wait_for(self, text, timeout=WAIT):
        return self.wait_until(lambda t: text in t, repr(text), timeout)

    def wait_for_frame_lines(self, count, timeout=WAIT):
        """Waits until `count` frame lines are on the console; returns their frame numbers."""
        text = self.wait_until(lambda t: len(FRAME_LINE.findall(t)) >= count,
                               "%d frame lines" % count, timeout)
        return [int(f) for _, f in FRAME_LINE.findall(text)]

    def send(self, keys):
        os.write(self.master, keys.encode() if isinstance(keys, str) else keys)

    def wait_exit(self, timeout=WAIT):
        try:
            status = self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.fail("the program did not end within %.0f s" % timeout)
        self.reader.join(5)
        return status

    def send_ctrl_c_as_key(self):
        """Ctrl+C is a key only while the program waits for one (the terminal then sends no
        signals); waits until the terminal is in that mode, then types it."""
        deadline = time.monotonic() + WAIT
        while termios.tcgetattr(self.slave)[3] & termios.ISIG:
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.fail("the program never waited for a key with signals off")
            time.sleep(0.01)
        self.send("\x03")

    def finish(self, test, key="x"):
        """At "quit?": one key ends the program with status 0 and the terminal as it was."""
        self.wait_for(QUIT)
        if key == "\x03":
            self.send_ctrl_c_as_key()
        else:
            self.send(key)
        status = self.wait_exit()
        if status != 0:
            self.fail("exit status %s, expected 0" % status)
        self.check_terminal_restored(test)

    def termios_now(self):
        return termios.tcgetattr(self.slave)

    def check_terminal_restored(self, test):
        after = self.termios_now()
        names = ("iflag", "oflag", "cflag", "lflag", "ispeed", "ospeed", "cc")
        for name, before, now in zip(names, self.termios_before, after):
            test.assertEqual(before, now, "terminal %s not restored after the run [%s]"
                             % (name, self.name))

    # ---- the dialogs ----

    def wait_window(self, name, what, timeout=WAIT, exclude=()):
        deadline = time.monotonic() + timeout
        while True:
            found = [w for w in context.find_windows(name=name) if w not in exclude]
            if found:
                return found[-1]
            if self.process.poll() is not None:
                self.fail("the program ended while waiting for " + what)
            if time.monotonic() > deadline:
                self.fail("no %s appeared within %.0f s" % (what, timeout))
            time.sleep(0.1)

    def chooser(self):
        return self.wait_window("^" + re.escape(CHOOSER_TITLE) + "$", "file chooser")

    def choose(self, path):
        """Types the path into the file chooser and opens it."""
        window = self.chooser()
        # The location bar opens on "/" and drops what is typed while it opens.
        context.type_into(window, "/")
        time.sleep(0.5)
        context.type(path.lstrip("/"))
        time.sleep(0.1)
        context.key("Return")
        # On a loaded machine the bar can still drop a character: the chooser then stays open on
        # a path that is not there. The bar is open by now; the path typed again replaces it.
        for _ in range(2):
            if self.window_gone(window, 10):
                return
            context.focus_and_key(window, "ctrl+l", "ctrl+a")
            context.type(path)
            time.sleep(0.1)
            context.key("Return")

    def window_gone(self, window, timeout):
        deadline = time.monotonic() + timeout
        while window in context.find_windows(name="."):
            if self.process.poll() is not None or time.monotonic() > deadline:
                return self.process.poll() is not None
            time.sleep(0.1)
        return True

    def cancel_chooser(self):
        context.focus_and_key(self.chooser(), "Escape")

    def next_dialog(self):
        """Waits for a Yes/No/Cancel dialog not seen before; the program is blocked in it."""
        window = self.wait_window(DIALOG_NAME, "Yes/No/Cancel dialog", exclude=self.answered)
        self.answered.add(window)
        return window

    def answer(self, key, window=None):
        """Answers the next (or the given) dialog with a key: y, n, Escape or Return."""
        window = window or self.next_dialog()
        context.focus_and_key(window, key)
        return window

    def dialog_windows(self):
        return [w for w in context.find_windows(name=DIALOG_NAME) if w not in self.answered]

    def display_window(self, timeout=WAIT):
        """The playback window (class GRC0)."""
        deadline = time.monotonic() + timeout
        while True:
            found = context.find_windows(class_name="^GRC0$")
            if found:
                return found[-1]
            if time.monotonic() > deadline:
                self.fail("no window of class GRC0 appeared within %.0f s" % timeout)
            time.sleep(0.1)

    # ---- the sound ----

    def captured_samples(self):
        """The 16-bit samples the disk audio driver wrote, as a list of ints; none when the
        program never opened the sound device."""
        if not os.path.exists(self.sound_file):
            return []
        with open(self.sound_file, "rb") as f:
            data = f.read()
        return list(struct.unpack("<%dh" % (len(data) // 2), data[:len(data) // 2 * 2]))


# ---- clips ----

def make_avi(name, *flags):
    """Writes a clip with the project's test-clip writer; returns its path."""
    path = context.path(name)
    done = subprocess.run([os.path.abspath(args.make_avi), "--out", path, *flags],
                          capture_output=True)
    if done.returncode != 0:
        raise AssertionError("make_test_avi %s failed: %s" % (" ".join(flags),
                                                              done.stderr.decode(errors="replace")))
    return path


def ffmpeg(*arguments):
    done = subprocess.run(["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y",
                           *arguments], capture_output=True)
    if done.returncode != 0:
        raise AssertionError("ffmpeg %s failed: %s" % (" ".join(arguments),
                                                       done.stderr.decode(errors="replace")))
    return done.stdout


def ffmpeg_clip(name, frames, size, video_codec, audio=True):
    """A clip made with the ffmpeg command: a test pattern in the given codec and, if asked,
    16-bit mono PCM at 32000 Hz covering every frame, muxed in a second step so that no sample
    is cut."""
    video = context.path(name + ".video.avi")
    ffmpeg("-f", "lavfi", "-i", "testsrc=size=%s:rate=30" % size, "-frames:v", str(frames),
           *video_codec, "-an", video)
    if not audio:
        os.replace(video, context.path(name))
        return context.path(name)
    sound = context.path(name + ".wav")
    ffmpeg("-f", "lavfi", "-i", "sine=frequency=440:sample_rate=32000", "-af",
           "atrim=end_sample=%d" % (frames * SAMPLES_PER_FRAME), "-ac", "1", "-c:a", "pcm_s16le",
           sound)
    ffmpeg("-i", video, "-i", sound, "-map", "0:v", "-map", "1:a", "-c", "copy", context.path(name))
    return context.path(name)


def clip_pcm(path, stream="0:a:0"):
    """The clip's audio (its first audio stream unless told) as 16-bit samples, read by ffmpeg."""
    data = ffmpeg("-i", path, "-map", stream, "-f", "s16le", "-acodec", "pcm_s16le", "-")
    return list(struct.unpack("<%dh" % (len(data) // 2), data))


def clip_frame(path, index, width, height):
    """Frame `index` of the clip's video as RGB pixels, decoded by ffmpeg."""
    data = ffmpeg("-i", path, "-map", "0:v", "-vf", "select=eq(n\\,%d)" % index, "-frames:v", "1",
                  "-f", "rawvideo", "-pix_fmt", "rgb24", "-")
    if len(data) != width * height * 3:
        raise AssertionError("ffmpeg gave %d bytes for frame %d of %s" % (len(data), index, path))
    return Image(width, height, data)


def frame_line(bits, frame):
    return "color = %d frame= %4d \n" % (bits, frame)


def report(streams, video=None, audio=None):
    """The stream report avistep prints before its first prompt. video is (scale, rate, length,
    height, width), audio is (scale, rate, length)."""
    text = "strs = %d \n" % streams
    if video:
        text += "vi_S=%d vi_R=%d vi_length=%d \nh = %d w = %d\n" % video
    if audio:
        scale, rate, length = audio
        frames = (length * scale * 32000 // (rate * 1067) if scale and rate else length // 1067)
        text += "au_S=%d au_R=%d au_length=%d %d(frame)\n" % (audio + (min(frames, 2**31 - 1),))
    if video and not audio:
        text += "no audio stream\n"
    if not video:
        text += "no video stream\n"
    return text


def cnt_line(width, height):
    return "cnt = %d\n" % (width * height * 4 + 164)


def find_slices(captured, slices):
    """Checks that the captured samples hold the slices in order with only silence around and
    between them; returns None when they do, else what went wrong."""
    data = struct.pack("<%dh" % len(captured), *captured)
    position = 0
    for number, piece in enumerate(slices):
        wanted = struct.pack("<%dh" % len(piece), *piece)
        found = data.find(wanted, position)
        if found < 0:
            return "slice %d of %d not found after byte %d of %d captured" % (
                number, len(slices), position, len(data))
        if found % 2 or data[position:found].strip(b"\0"):
            return "sound other than silence before slice %d (bytes %d..%d)" % (
                number, position, found)
        position = found + len(wanted)
    if data[position:].strip(b"\0"):
        return "sound other than silence after the last slice (from byte %d)" % position
    return None


def run_tests(name):
    """Parses the command line, runs the script's unittest cases with one Xvfb for all of them."""
    global context
    argv = parse_command_line()
    if args.window_manager:
        name += "-" + os.path.basename(args.window_manager)
    compositor = COMPOSITORS.get(args.compositor)
    if compositor:
        name += "-" + args.compositor
        missing = [tool for tool in (compositor.binary, "Xwayland", "dbus-run-session")
                   if not shutil.which(tool)]
        if missing:
            # ctest counts status 77 as skipped (SKIP_RETURN_CODE); CI installs them.
            print("skipped: %s not installed" % ", ".join(missing))
            sys.exit(77)
    context = Context(name, args.window_manager, compositor)
    try:
        program = unittest.main(argv=argv, exit=False, verbosity=2)
    finally:
        context.close()
    sys.exit(0 if program.result.wasSuccessful() else 1)
