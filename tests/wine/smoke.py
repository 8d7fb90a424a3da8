#!/usr/bin/python3
"""Smoke test of the Windows build under Wine.

Runs, in a fresh Wine prefix on Xvfb with a Japanese locale (code page 932):
  1. the backend checks (win32_backend_checks.exe), which print "N passed, N failed";
  2. avistep.exe on a raw test clip: the clip is chosen in the open-file dialog, "n" walks it
     without display, and the report and frame lines (decoded from CP932) are compared with the
     lines the clip's own headers call for and, when a Linux build is given, with its output;
  3. the same clip with display and continuous play: the same frame lines, a window of the
     video's size;
  4. Escape in the open-file dialog: "open err" and "quit?".

Only 64-bit programs run under the Wine used here: an i686 .exe exits 0 without a word, so a run
passes only on the output it leaves. Needs wine64, Xvfb, xdotool, tmux and the ja_JP.UTF-8 locale.
Prints "N passed, N failed" and exits nonzero on any failure.

usage: smoke.py [--build DIR] [--make-avi BIN] [--linux-avistep BIN] [--display N] [--keep]
"""

import argparse
import fcntl
import glob
import math
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import termios
import threading
import time

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WAIT = 60.0  # seconds for anything a user would wait for; Wine's first start is the slowest
FRAMES = 10
WIDTH, HEIGHT = 64, 48


def fail(message):
    raise AssertionError(message)


def texts():
    """The program's texts, read from the one header that holds them."""
    with open(os.path.join(SOURCE, "playback", "texts.h"), encoding="utf-8") as f:
        source = f.read()
    found = {}
    for name, body in re.findall(r"(text_\w+)\s*=\s*((?:\"(?:[^\"\\]|\\.)*\"\s*)+);", source):
        parts = re.findall(r"\"((?:[^\"\\]|\\.)*)\"", body)
        found[name] = "".join(parts).encode("utf-8").decode("unicode_escape").encode(
            "latin-1").decode("utf-8")
    return found


# --- the clip and what its headers call for -------------------------------------------------

def read_avi_headers(path):
    """Each stream's strh values and the format fields the report and frame lines use."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] != b"RIFF" or data[8:12] != b"AVI ":
        fail("%s is not an AVI file" % path)
    streams = []

    def walk(start, end):
        at = start
        while at + 8 <= end:
            tag, size = data[at:at + 4], struct.unpack_from("<I", data, at + 4)[0]
            body = at + 8
            if tag == b"LIST" and data[body:body + 4] in (b"hdrl", b"strl"):
                if data[body:body + 4] == b"strl":
                    streams.append({})
                walk(body + 4, body + size)
            elif tag == b"strh":
                fcc = data[body:body + 4].decode("latin-1")
                scale, rate, _start, length = struct.unpack_from("<IIII", data, body + 20)
                rect = struct.unpack_from("<hhhh", data, body + 48)
                streams[-1].update(type=fcc, scale=scale, rate=rate, length=length, rect=rect)
            elif tag == b"strf" and streams:
                if streams[-1].get("type") == "vids":
                    streams[-1]["bits"] = struct.unpack_from("<H", data, body + 14)[0]
                else:
                    streams[-1]["sample_rate"] = struct.unpack_from("<I", data, body + 4)[0]
            at = body + size + (size & 1)

    walk(12, len(data))
    return streams


def expected_lines(streams, t, display):
    """The transcript avistep prints for the clip, walked to its end, the same on both
    platforms: the stream headers' stored values, whatever the decoding library reports."""
    video = [s for s in streams if s["type"] == "vids"][-1]
    audio = [s for s in streams if s["type"] == "auds"][-1]
    left, top, right, bottom = video["rect"]
    w, h = right - left, bottom - top
    au_scale, au_rate = audio["scale"], audio["rate"]
    out = "strs = %d \n" % len(streams)
    out += "vi_S=%d vi_R=%d vi_length=%d \n" % (video["scale"], video["rate"], video["length"])
    out += "h = %d w = %d\n" % (h, w)
    out += "au_S=%d au_R=%d au_length=%d %d(frame)\n" % (
        au_scale, au_rate, audio["length"], audio["length"] // 1067)
    out += t["text_prompt_monitor"]
    if display:
        out += t["text_prompt_step"]
    out += "cnt = %d\n" % ((w * h * 4 + 164) & 0xffffffff)
    for k in range(video["length"]):
        out += "color = %d frame= %4d \n" % (video["bits"], k)
    return out + t["text_quit"]


def make_clip(folder, make_avi):
    path = os.path.join(folder, "clip.avi")
    if make_avi:
        subprocess.run([make_avi, "--out", path, "--width", str(WIDTH), "--height", str(HEIGHT),
                        "--frames", str(FRAMES)], check=True)
    else:
        # Raw BGR frames and 16-bit mono PCM at 32000 Hz, muxed in a second step so the audio is
        # not cut to the frames.
        video = os.path.join(folder, "video.avi")
        subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                        "testsrc=size=%dx%d:rate=30" % (WIDTH, HEIGHT), "-frames:v", str(FRAMES),
                        "-c:v", "rawvideo", "-pix_fmt", "bgr24", video], check=True)
        subprocess.run(["ffmpeg", "-v", "error", "-y", "-i", video, "-f", "lavfi", "-i",
                        "sine=frequency=440:sample_rate=32000:duration=%f" % (FRAMES * 1067 / 32000),
                        "-map", "0:v", "-map", "1:a", "-c:v", "copy", "-c:a", "pcm_s16le",
                        "-ac", "1", path], check=True)
    return path


def make_tone_clips(folder):
    """A 440 Hz tone at 1/8 of full scale, 3 s, stored in the formats the backend converts."""
    tone = "aevalsrc=0.125*sin(2*PI*440*t):s=%d:d=3"
    stereo = "pan=stereo|c0=c0|c1=c0"
    for name, rate, codec in (("tone-s16-44100-stereo.avi", 44100, ["-af", stereo, "-c:a", "pcm_s16le"]),
                              ("tone-u8-22050.avi", 22050, ["-c:a", "pcm_u8"]),
                              ("tone-ima-adpcm.avi", 22050, ["-af", stereo, "-c:a", "adpcm_ima_wav"]),
                              ("tone-mp3.avi", 44100, ["-af", stereo, "-c:a", "libmp3lame"]),
                              ("tone-ac3.avi", 48000, ["-af", stereo, "-c:a", "ac3"])):
        subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", tone % rate] + codec +
                       [os.path.join(folder, name)], check=True)
    write_split_pcm(os.path.join(folder, "tone-s16-44100-stereo-split.avi"))


def riff_chunk(tag, body):
    return tag + struct.pack("<I", len(body)) + body + b"\0" * (len(body) & 1)


def write_split_pcm(path, rate=44100, seconds=3, chunk_bytes=1766):
    """The same tone as 16-bit stereo PCM in chunks of 4n + 2 bytes, which split its 4-byte
    blocks, with an idx1 index: as some capture tools store it."""
    level = 0.125 * 32767
    pcm = b"".join(struct.pack("<hh", v, v) for v in (
        int(round(level * math.sin(2 * math.pi * 440 * n / rate))) for n in range(rate * seconds)))
    avih = struct.pack("<14I", 0, rate * 4, 0, 0x10, 0, 0, 1, chunk_bytes, 0, 0, 0, 0, 0, 0)
    strh = b"auds" + struct.pack("<IIHHIIIIIIIIhhhh", 0, 0, 0, 0, 0, 4, rate * 4, 0,
                                 len(pcm) // 4, chunk_bytes, 0xffffffff, 4, 0, 0, 0, 0)
    strf = struct.pack("<HHIIHH", 1, 2, rate, rate * 4, 4, 16)
    strl = riff_chunk(b"LIST", b"strl" + riff_chunk(b"strh", strh) + riff_chunk(b"strf", strf))
    hdrl = riff_chunk(b"LIST", b"hdrl" + riff_chunk(b"avih", avih) + strl)
    movi, index = b"movi", b""
    for at in range(0, len(pcm), chunk_bytes):
        piece = pcm[at:at + chunk_bytes]
        index += b"00wb" + struct.pack("<III", 0x10, len(movi), len(piece))
        movi += riff_chunk(b"00wb", piece)
    body = b"AVI " + hdrl + riff_chunk(b"LIST", movi) + riff_chunk(b"idx1", index)
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", len(body)) + body)


# --- the machinery: X, Wine, a console in tmux ----------------------------------------------

class Session:
    def __init__(self, display, keep):
        self.display = ":%d" % display
        self.keep = keep
        self.folder = tempfile.mkdtemp(prefix="avistep-wine-")
        self.prefix = os.path.join(self.folder, "prefix")
        self.xvfb = None
        self.runs = []
        self.wine = shutil.which("wine64") or "/usr/lib/wine/wine64"
        self.wineserver = shutil.which("wineserver") or "/usr/lib/wine/wineserver64"

    def env(self, **extra):
        env = dict(os.environ)
        env.update(DISPLAY=self.display, WINEPREFIX=self.prefix, WINEDEBUG="-all",
                   LC_ALL="ja_JP.UTF-8", LANG="ja_JP.UTF-8",
                   WINEDLLOVERRIDES="mscoree,mshtml=")  # no Mono or Gecko installer prompts
        env.update(extra)
        return env

    def start(self):
        if not os.path.exists(self.wine):
            fail("wine64 not found (Debian package wine64)")
        locales = subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout.split()
        if "ja_JP.utf8" not in locales:
            fail("the ja_JP.UTF-8 locale is missing (/etc/locale.gen, locale-gen)")
        # An X server left running elsewhere may hold the number asked for: take the next free one.
        while os.path.exists("/tmp/.X%s-lock" % self.display[1:]):
            self.display = ":%d" % (int(self.display[1:]) + 1)
        self.xvfb = subprocess.Popen(["Xvfb", self.display, "-screen", "0", "1280x1024x24",
                                      "-nolisten", "tcp"], stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        self.wait_until(lambda: self.x("getdisplaygeometry", check=False) is not None,
                        "Xvfb to start")
        # A fresh prefix: what a first run on a new machine meets.
        subprocess.run([self.wine, "wineboot", "-i"], env=self.env(), check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)

    def end_runs(self):
        for run in self.runs:
            run.close()
        if os.path.exists(self.wineserver):
            subprocess.run([self.wineserver, "-k"], env=self.env(), stderr=subprocess.DEVNULL)

    def stop(self):
        self.end_runs()
        # wineserver leaves its socket folder, named for the prefix, under /tmp/wine-*.
        if os.path.isdir(self.prefix):
            st = os.stat(self.prefix)
            server = "server-%x-%x" % (st.st_dev, st.st_ino)
            for parent in glob.glob("/tmp/wine-*"):
                if os.path.isdir(os.path.join(parent, server)) and not self.keep:
                    shutil.rmtree(os.path.join(parent, server), ignore_errors=True)
                    if not os.listdir(parent):
                        os.rmdir(parent)
        if self.xvfb:
            self.xvfb.terminate()
            self.xvfb.wait()
        if not self.keep:
            shutil.rmtree(self.folder, ignore_errors=True)

    def x(self, *command, check=True):
        done = subprocess.run(["xdotool"] + list(command), env=self.env(), capture_output=True,
                              text=True, timeout=30)
        if done.returncode != 0:
            if check:
                fail("xdotool %s: %s" % (" ".join(command), done.stderr.strip()))
            return None
        return done.stdout

    def windows(self, name):
        found = self.x("search", "--onlyvisible", "--name", name, check=False)
        return found.split() if found else []

    @staticmethod
    def wait_until(condition, what, timeout=WAIT):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            value = condition()
            if value:
                return value
            time.sleep(0.1)
        fail("timed out waiting for %s" % what)

    def launch(self, name, command, cwd, **extra_env):
        """Runs `command` in a tmux pane, the console a user would have; stdout and stderr to
        files, the exit status to a third."""
        out = os.path.join(self.folder, name + ".out")
        status = os.path.join(self.folder, name + ".status")
        for path in (out, status):
            if os.path.exists(path):
                os.remove(path)
        env = " ".join("%s=%s" % (k, v) for k, v in self.env(**extra_env).items()
                       if k in ("DISPLAY", "WINEPREFIX", "WINEDEBUG", "LC_ALL", "LANG",
                                "WINEDLLOVERRIDES") or k in extra_env)
        shell = "cd '%s' && env %s %s > '%s' 2> '%s.err'; echo $? > '%s'" % (
            cwd, env, " ".join("'%s'" % c for c in command), out, out, status)
        run = Run(self, name, out, status)
        self.runs.append(run)
        subprocess.run(run.tmux + ["new-session", "-d", "-s", name, "-x", "160", "-y", "40",
                                   shell], check=True)
        return run


class Run:
    def __init__(self, session, name, out, status):
        self.session, self.name, self.out, self.status = session, name, out, status
        # A tmux server of its own for each run.
        self.tmux = ["tmux", "-L", "avistep-wine%s-%s" % (session.display, name)]

    def close(self):
        subprocess.run(self.tmux + ["kill-server"], stderr=subprocess.DEVNULL)

    def key(self, key):
        subprocess.run(self.tmux + ["send-keys", "-t", self.name, key], check=True)

    def dialog(self, title):
        return self.session.wait_until(lambda: self.session.windows(title),
                                       "the window %r" % title)[0]

    def focus_and(self, window, *command):
        self.session.x("windowfocus", "--sync", window, check=False)
        self.session.x(*command)

    def wait_exit(self):
        self.session.wait_until(lambda: os.path.exists(self.status) and
                                open(self.status).read().strip(), "%s to end" % self.name)
        return int(open(self.status).read())

    def output(self):
        if not os.path.exists(self.out):
            return b""
        with open(self.out, "rb") as f:
            return f.read()


def box_clear_of(session, box, window):
    """True when the two windows' rectangles on the screen do not intersect."""
    rects = []
    for w in (box, window):
        geometry = session.x("getwindowgeometry", w)
        at = re.search(r"Position: (-?\d+),(-?\d+)", geometry)
        size = re.search(r"Geometry: (\d+)x(\d+)", geometry)
        if not at or not size:
            fail("no geometry for window %s in %r" % (w, geometry))
        rects.append([int(v) for v in at.groups() + size.groups()])
    a, b = rects
    return not (a[0] < b[0] + b[2] and b[0] < a[0] + a[2] and a[1] < b[1] + b[3] and
                b[1] < a[1] + a[3])


def screenshot(session):
    """The screen as rows of (r, g, b) bytes, from xwd's dump of the root window."""
    raw = subprocess.run(["xwd", "-root", "-silent"], env=session.env(), capture_output=True,
                         check=True, timeout=30).stdout
    header = struct.unpack_from(">25I", raw, 0)
    header_size, width, height = header[0], header[4], header[5]
    byte_order, bits_per_pixel, bytes_per_line, ncolors = (header[7], header[11], header[12],
                                                           header[19])
    size = bits_per_pixel // 8
    if size not in (3, 4) or bytes_per_line < width * size:
        fail("a screen of %d bits per pixel; the check reads 24 or 32" % bits_per_pixel)
    # Least significant byte first: blue, green, red (and a pad byte).
    red, green, blue = (2, 1, 0) if byte_order == 0 else (size - 3, size - 2, size - 1)
    pixels = raw[header_size + 12 * ncolors:]
    rows = []
    for y in range(height):
        line = pixels[y * bytes_per_line:y * bytes_per_line + width * size]
        rgb = bytearray(width * 3)
        rgb[0::3] = line[red::size]
        rgb[1::3] = line[green::size]
        rgb[2::3] = line[blue::size]
        rows.append(bytes(rgb))
    return rows


def save_ppm(path, rows):
    with open(path, "wb") as f:
        f.write(b"P6 %d %d 255\n" % (len(rows[0]) // 3, len(rows)))
        f.writelines(rows)


def frame_rgb(clip, index):
    """Frame `index` of the clip as rows of (r, g, b) bytes, decoded by ffmpeg."""
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", clip, "-vf", "select=eq(n\\,%d)" % index,
                          "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"],
                         capture_output=True, check=True, timeout=60).stdout
    if len(raw) != WIDTH * HEIGHT * 3:
        fail("ffmpeg gave %d bytes for frame %d" % (len(raw), index))
    return [raw[y * WIDTH * 3:(y + 1) * WIDTH * 3] for y in range(HEIGHT)]


def find_picture(screen, picture, near_x, near_y, reach=60):
    """Where the picture is shown whole, searched around a window's position; None if nowhere."""
    first = picture[0]
    for y in range(max(0, near_y - reach), min(len(screen) - len(picture), near_y + reach) + 1):
        start = max(0, near_x - reach) * 3
        while True:
            x3 = screen[y].find(first, start)
            if x3 < 0 or x3 > (near_x + reach) * 3:
                break
            if x3 % 3 == 0 and all(screen[y + r][x3:x3 + len(first)] == picture[r]
                                   for r in range(len(picture))):
                return x3 // 3, y
            start = x3 + 1
    return None


class TerminalRun:
    """A program on a pseudo-terminal of its own, its controlling terminal: the Linux build
    reads its keys from /dev/tty."""

    def __init__(self, command, cwd, env, err_path):
        self.master, slave = os.openpty()

        def take_terminal():
            os.setsid()
            fcntl.ioctl(0, termios.TIOCSCTTY, 0)

        with open(err_path, "wb") as err:
            self.process = subprocess.Popen(command, cwd=cwd, env=env, stdin=slave, stdout=slave,
                                            stderr=err, preexec_fn=take_terminal)
        os.close(slave)
        self.data = b""
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        while True:
            try:
                chunk = os.read(self.master, 4096)
            except OSError:
                return
            if not chunk:
                return
            self.data += chunk

    def text(self):
        return self.data.replace(b"\r\n", b"\n").decode("utf-8", "replace")

    def send(self, keys):
        os.write(self.master, keys.encode())

    def wait(self):
        try:
            return self.process.wait(WAIT)
        except subprocess.TimeoutExpired:
            fail("the program did not end")

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self.reader.join(5)
        os.close(self.master)


def linux_walk(s, program, clip, t):
    """The Linux build's transcript of the clip walked without display ("n")."""
    run = TerminalRun([program], os.path.dirname(clip),
                      s.env(GSETTINGS_BACKEND="memory", NO_AT_BRIDGE="1", LC_ALL="C.UTF-8",
                            LANG="C.UTF-8"),
                      os.path.join(s.folder, "linux.err"))
    try:
        chooser = s.wait_until(lambda: s.windows(t["text_choose_title"]),
                               "the Linux file chooser")[0]
        # GTK's chooser opens its location bar on "/" and drops what comes with it.
        s.x("windowfocus", "--sync", chooser, check=False)
        s.x("type", "/")
        time.sleep(0.3)
        s.x("type", "--delay", "20", clip[1:])
        s.x("key", "Return")
        s.wait_until(lambda: t["text_prompt_monitor"] in run.text(), "the first prompt")
        run.send("n")
        s.wait_until(lambda: run.text().endswith(t["text_quit"]), "quit?")
        run.send("x")
        if run.wait() != 0:
            fail("the Linux build failed")
    finally:
        run.close()
    return run.text()


def next_dialog(s, t, previous):
    """The next Yes/No/Cancel box (caption "...") once the one answered before has gone."""
    def found():
        boxes = [w for w in s.windows("^" + re.escape(t["text_dialog_caption"]) + "$")
                 if w != previous]
        return boxes[-1] if boxes else None
    return s.wait_until(found, "a Yes/No/Cancel dialog")


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def console_text(raw):
    """The program's stdout as text: text mode writes CR LF for every line feed, and the
    Japanese texts are code page 932."""
    if re.search(rb"(?<!\r)\n", raw):
        fail("a bare line feed in the output: %r" % raw[:200])
    return raw.replace(b"\r\n", b"\n").decode("cp932")


# --- the scenarios ----------------------------------------------------------------------------

class Smoke:
    def __init__(self, args):
        self.args = args
        self.passed = 0
        self.failed = 0

    def check(self, name, body, session=None):
        try:
            body()
        except Exception as e:  # one scenario's failure does not hide the others'
            self.failed += 1
            print("FAILED %s: %s" % (name, e))
            # Whatever still runs in the prefix would take the next scenario's keys.
            if session:
                session.end_runs()
        else:
            self.passed += 1
            print("ok %s" % name)

    def both_builds(self):
        """Both .exe files exist for their machines and carry the texts in code page 932. The
        i686 one cannot run under this Wine (it would end at once, silent, with status 0), so
        this is all that is checked of it here."""
        for build, machine in ((self.args.win32_build, 0x14c), (self.args.build, 0x8664)):
            with open(os.path.join(build, "avistep.exe"), "rb") as f:
                exe = f.read()
            pe = struct.unpack_from("<I", exe, 0x3c)[0]
            if exe[:2] != b"MZ" or exe[pe:pe + 4] != b"PE\0\0":
                fail("%s/avistep.exe is not a Windows program" % build)
            if struct.unpack_from("<H", exe, pe + 4)[0] != machine:
                fail("%s/avistep.exe is not for machine 0x%x" % (build, machine))
            for name in ("text_choose_title", "text_prompt_monitor", "text_interrupt"):
                text = self.t[name]
                if text.encode("cp932") not in exe or text.encode("utf-8") in exe:
                    fail("%s in %s/avistep.exe is not in code page 932" % (name, build))

    def console_keys(self, s):
        """Keys typed into Wine's console reach the backend as _getch gives them; looking at
        waiting keys takes none, and the console's mode is given back."""
        checks = os.path.join(self.args.build, "tests-wine", "win32_backend_checks.exe")
        run = s.launch("keys", [s.wine, checks, "--console-keys", "5"], s.folder)
        s.wait_until(lambda: b"start" in run.output(), "the console to be up")
        time.sleep(0.5)
        run.key("z")
        s.wait_until(lambda: b"ready" in run.output(), "the first key to be read")
        for key in ("a", "Up", "F1", "F12", "C-a"):
            run.key(key)
        run.wait_exit()
        got = re.findall(r"key (\d+) (\d+)", run.output().decode())
        # The grey arrows come as 224 on Windows; Wine's terminal console does not flag them as
        # enhanced keys, so they come as 0 here.
        want = [("122", "0"), ("97", "0"), ("0|224", "72"), ("0", "59"), ("224", "134"), ("1", "0")]
        if len(got) != len(want) or not all(re.fullmatch(w[0], g[0]) and g[1] == w[1]
                                            for g, w in zip(got, want)):
            fail("keys %r, want %r" % (got, want))
        if not re.search(rb"^\d+ passed, 0 failed", run.output(), re.M):
            fail("console checks failed: %r" % run.output())

    def backend_checks(self, s):
        make_tone_clips(s.folder)
        checks = os.path.join(self.args.build, "tests-wine", "win32_backend_checks.exe")
        done = subprocess.run([s.wine, checks], env=s.env(), cwd=s.folder, capture_output=True,
                              timeout=300)
        text = done.stdout.decode("cp932", "replace")
        sys.stdout.write(text)
        summary = re.search(r"^(\d+) passed, (\d+) failed", text, re.M)
        if not summary or int(summary.group(1)) == 0:
            fail("the checks printed no summary (did the .exe run at all?)")
        if done.returncode != 0 or int(summary.group(2)) != 0:
            fail("backend checks failed (status %d)" % done.returncode)

    def play(self, s, clip, name, answers):
        """Chooses the clip, answers the mode prompts, and ends with a key once the last
        frame's title is up; returns the decoded output."""
        exe = os.path.join(self.args.build, "avistep.exe")
        run = s.launch(name, [s.wine, exe], os.path.dirname(clip))
        chooser = run.dialog(self.t["text_choose_title"])
        run.focus_and(chooser, "type", "--delay", "20", windows_path(clip))
        run.focus_and(chooser, "key", "Return")
        for key in answers:
            run.key(key)
        window = run.dialog("frame %d/%d " % (FRAMES - 1, FRAMES))
        # The last pass looks for a keystroke right after its title: give it time to pass.
        time.sleep(1.0)
        geometry = s.x("getwindowgeometry", window, check=False) or ""
        # The window keeps the last frame until the key closes it.
        screen = screenshot(s)
        run.key("x")
        status = run.wait_exit()
        raw = run.output()
        if not raw:
            fail("no output at all (status %d): the program did not run" % status)
        if status != 0:
            fail("exit status %d" % status)
        return console_text(raw), geometry, screen

    def compare(self, got, want, what):
        if got != want:
            got_lines, want_lines = got.split("\n"), want.split("\n")
            for i, (g, w) in enumerate(zip(got_lines, want_lines)):
                if g != w:
                    fail("%s, line %d: got %r, want %r" % (what, i + 1, g, w))
            fail("%s: got %d lines, want %d" % (what, len(got_lines), len(want_lines)))

    def walk_without_display(self, s, clip):
        got, geometry, screen = self.play(s, clip, "walk", ["n"])
        self.compare(got, expected_lines(self.streams, self.t, display=False),
                     "transcript")
        self.walk_output = got
        # Without display the window stays white: no frame reaches it.
        at = re.search(r"Position: (\d+),(\d+)", geometry)
        if not at:
            fail("no window position in %r" % geometry)
        last = frame_rgb(clip, FRAMES - 1)
        if find_picture(screen, last, int(at.group(1)), int(at.group(2))):
            fail("a frame was drawn without display")
        if not find_picture(screen, [b"\xff" * WIDTH * 3] * HEIGHT, int(at.group(1)),
                            int(at.group(2))):
            fail("no white image of the video's size in the window")

    def continuous_display(self, s, clip):
        got, geometry, screen = self.play(s, clip, "display", ["x", "x"])
        self.compare(got, expected_lines(self.streams, self.t, display=True),
                     "transcript")
        size = re.search(r"Geometry: (\d+)x(\d+)", geometry)
        at = re.search(r"Position: (\d+),(\d+)", geometry)
        if not size or not at or int(size.group(1)) < WIDTH or int(size.group(2)) < HEIGHT:
            fail("window geometry %r is smaller than the video" % geometry)
        # The last frame, every pixel, right way up, in the window.
        if not find_picture(screen, frame_rgb(clip, FRAMES - 1), int(at.group(1)),
                            int(at.group(2))):
            save_ppm(os.path.join(s.folder, "display.ppm"), screen)
            fail("the last frame is not shown in the window (screen: display.ppm)")

    def next_dialog(self, s, run, previous):
        return next_dialog(s, self.t, previous)

    def step_and_interrupt(self, s, clip):
        """Step mode: Yes shows the next frame, No the one before; every box opens clear of the
        video window; a key typed into the video window brings up the interruption box, whose
        No resumes continuous play to the end."""
        exe = os.path.join(self.args.build, "avistep.exe")
        run = s.launch("step", [s.wine, exe], os.path.dirname(clip))
        chooser = run.dialog(self.t["text_choose_title"])
        run.focus_and(chooser, "type", "--delay", "20", windows_path(clip))
        run.focus_and(chooser, "key", "Return")
        run.key("x")
        run.key("s")
        box = None
        for number, (answer, window_key) in enumerate((("y", None), ("n", None), ("y", "k"),
                                                      ("n", None))):
            box = self.next_dialog(s, run, box)
            video = s.windows("frame [0-9]+/%d " % FRAMES)[0]
            if not box_clear_of(s, box, video):
                fail("the message box covers the video window")
            if number == 0:
                # In the middle of the screen, where a box would open if nothing moved it.
                s.x("windowmove", "--sync", video, "600", "480", check=False)
                time.sleep(0.3)
            if window_key:
                # A key typed into the video window counts as a console key. Wine gives keys to
                # the window it has activated, which a click does; a click brings the box back.
                s.x("mousemove", "--window", video, "5", "5", "click", "1")
                time.sleep(0.3)
                s.x("key", window_key)
                time.sleep(0.3)
                s.x("mousemove", "--window", box, "5", "5", "click", "1")
                time.sleep(0.3)
            run.focus_and(box, "key", answer)
        run.dialog("frame %d/%d " % (FRAMES - 1, FRAMES))
        time.sleep(1.0)
        run.key("x")
        status = run.wait_exit()
        got = console_text(run.output())
        want = expected_lines(self.streams, self.t, display=True)
        # Frames 0, 1, back to 0, 1 again, then the rest continuously.
        lines = want.split("\n")
        first = next(i for i, line in enumerate(lines) if line.startswith("color = "))
        lines[first:first] = lines[first:first + 2]
        self.compare(got, "\n".join(lines), "transcript")
        if status != 0:
            fail("exit status %d" % status)

    def cancelled_dialog(self, s, clip):
        exe = os.path.join(self.args.build, "avistep.exe")
        run = s.launch("cancel", [s.wine, exe], os.path.dirname(clip))
        chooser = run.dialog(self.t["text_choose_title"])
        run.focus_and(chooser, "key", "Escape")
        run.key("x")  # waits in the console's queue for the "quit?" key
        status = run.wait_exit()
        got = console_text(run.output())
        self.compare(got, self.t["text_open_err"] + self.t["text_quit"], "transcript")
        if status != 0:
            fail("exit status %d" % status)

    def same_as_linux(self, s, clip):
        """The Linux build's transcript of the same walk: identical but for the audio line,
        where Wine's library reports 1 / nSamplesPerSec."""
        linux = linux_walk(s, self.args.linux_avistep, clip, self.t)
        self.compare(linux, expected_lines(self.streams, self.t, display=False),
                     "Linux transcript")
        self.compare(self.walk_output, linux, "Wine against Linux")

    def run(self):
        self.t = texts()
        s = Session(self.args.display, self.args.keep)
        started = time.monotonic()
        try:
            s.start()
            print("fresh Wine prefix: %.1f s" % (time.monotonic() - started))
            clip = make_clip(s.folder, self.args.make_avi)
            self.streams = read_avi_headers(clip)
            self.walk_output = None
            self.check("both builds", self.both_builds)
            self.check("backend checks", lambda: self.backend_checks(s))
            self.check("console keys", lambda: self.console_keys(s), s)
            self.check("walk without display", lambda: self.walk_without_display(s, clip), s)
            self.check("continuous display", lambda: self.continuous_display(s, clip), s)
            self.check("step and interrupt", lambda: self.step_and_interrupt(s, clip), s)
            self.check("cancelled dialog", lambda: self.cancelled_dialog(s, clip), s)
            if self.args.linux_avistep and self.walk_output is not None:
                self.check("same as Linux", lambda: self.same_as_linux(s, clip), s)
        finally:
            s.stop()
        print("whole smoke test: %.1f s" % (time.monotonic() - started))
        print("%d passed, %d failed" % (self.passed, self.failed))
        return 0 if self.failed == 0 and self.passed > 0 else 1


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(SOURCE, "build-win64"),
                        help="the x86_64 Windows build folder (default build-win64)")
    parser.add_argument("--win32-build", default=os.path.join(SOURCE, "build-win32"),
                        help="the i686 Windows build folder (default build-win32)")
    parser.add_argument("--make-avi", help="the test-clip writer; ffmpeg makes the clip without")
    parser.add_argument("--linux-avistep", help="the Linux build's avistep, to compare with")
    parser.add_argument("--display", type=int, default=95, help="the Xvfb display number")
    parser.add_argument("--keep", action="store_true", help="keep the prefix and outputs")
    args = parser.parse_args()
    for name in ("build", "win32_build", "make_avi", "linux_avistep"):
        if getattr(args, name):
            setattr(args, name, os.path.abspath(getattr(args, name)))
    sys.exit(Smoke(args).run())


if __name__ == "__main__":
    main()
