#!/usr/bin/python3
"""The Windows build under Wine plays what the Linux build plays.

  1. A clip cut short before its index: walked without display, the transcript is the Linux
     build's on the same file; stepped forward and back with display, each frame shown is the
     frame's picture as FFmpeg (the Linux build's decoder) decodes it.
  2. Paths of 60 to 259 characters with long file names: each opens and walks to its end.
  3. On a desktop with a window manager (openbox), a key typed into the video window, with no
     click first, brings up the interruption dialog.

usage: like_linux.py --build DIR --make-avi BIN --linux-avistep BIN [--display N] [--keep]
Prints "N passed, N failed" and exits nonzero on any failure.
"""

import argparse
import os
import re
import struct
import subprocess
import sys
import time

import bad_files
import smoke

CUT_FRAMES = 60  # the clip before it is cut; about 27 frames remain
PATH_LENGTHS = (60, 128, 200, 259)


def clean(text):
    """A transcript without the spaces at the ends of lines, which Wine's console drops."""
    return re.sub(r" +\n", "\n", text.replace("\r\n", "\n")).rstrip(" ")


def whole_frames(data):
    """The video chunks ("00d?") a file cut short still holds whole."""
    at = data.index(b"movi") + 4
    frames = 0
    while at + 8 <= len(data):
        tag, size = data[at:at + 4], struct.unpack_from("<I", data, at + 4)[0]
        if at + 8 + size > len(data):
            break
        frames += tag[:3] == b"00d"
        at += 8 + size + (size & 1)
    return frames


def start_openbox(s):
    """A window manager on the session's display, as a desktop has; returns its process."""
    home = os.path.join(s.folder, "openbox-home")
    os.makedirs(home, exist_ok=True)
    wm = subprocess.Popen(["openbox"], env=s.env(HOME=home), stdin=subprocess.DEVNULL,
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    s.wait_until(lambda: "_NET_SUPPORTING_WM_CHECK(WINDOW)" in subprocess.run(
        ["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=s.env(), capture_output=True,
        text=True).stdout, "openbox to take the screen")
    return wm


def compare(got, want, what):
    if got != want:
        for i, (g, w) in enumerate(zip(got.split("\n"), want.split("\n"))):
            if g != w:
                smoke.fail("%s, line %d: got %r, want %r" % (what, i + 1, g, w))
        smoke.fail("%s: got %d lines, want %d" % (what, got.count("\n"), want.count("\n")))


class LikeLinux:
    def __init__(self, args):
        self.args = args
        self.t = smoke.texts()
        self.bad = bad_files.BadFiles(args)
        self.passed = 0
        self.failed = 0

    def check(self, name, body, s):
        started = time.monotonic()
        try:
            body()
        except Exception as e:
            self.failed += 1
            print("FAILED %s: %s" % (name, e))
            s.end_runs()
        else:
            self.passed += 1
            print("ok %s (%.1f s)" % (name, time.monotonic() - started))

    def start_run(self, s, name, clip):
        run = self.bad.launch(s, name, os.path.dirname(clip))
        chooser = run.dialog(self.t["text_choose_title"])
        run.focus_and(chooser, "type", "--delay", "5", smoke.windows_path(clip))
        run.focus_and(chooser, "key", "Return")
        return run

    def cut_walk(self, s, clip):
        _, got = self.bad.run_one(s, "cut-walk", clip, None, None)
        want = clean(smoke.linux_walk(s, self.args.linux_avistep, clip, self.t))
        frames = re.findall(r"^color = 24 frame= +\d+$", want, re.M)
        if not 20 <= len(frames) < CUT_FRAMES:
            smoke.fail("the Linux build walked %d frames of the cut clip" % len(frames))
        compare(clean(got), want, "Wine against Linux")

    def shown_frame(self, s, index):
        """Waits for frame `index`'s title and checks the window shows its picture."""
        window = s.wait_until(lambda: s.windows(r"\] frame %d/" % index),
                              "frame %d's title" % index)[0]
        time.sleep(0.3)
        at = re.search(r"Position: (\d+),(\d+)", s.x("getwindowgeometry", window))
        screen = smoke.screenshot(s)
        if not smoke.find_picture(screen, smoke.frame_rgb(self.cut_source, index),
                                  int(at.group(1)), int(at.group(2))):
            smoke.save_ppm(os.path.join(s.folder, "step-%d.ppm" % index), screen)
            smoke.fail("frame %d's picture is not in the window" % index)

    def cut_step(self, s, clip):
        run = self.start_run(s, "cut-step", clip)
        run.key("x")
        run.key("s")
        box = None
        # Yes, Yes, No: frames 0, 1, 2 and back to 1; Cancel plays the rest.
        for index, answer in ((0, "y"), (1, "y"), (2, "n"), (1, "Escape")):
            box = smoke.next_dialog(s, self.t, box)
            self.shown_frame(s, index)
            run.focus_and(box, "key", answer)
        last = self.frames - 1
        self.shown_frame(s, last)
        time.sleep(1.0)
        run.key("x")
        if run.wait_exit() != 0:
            smoke.fail("exit status not 0")
        got = [int(k) for k in re.findall(r"frame= +(\d+)", bad_files.pane_text(run))]
        if got != [0, 1, 2, 1] + list(range(2, self.frames)):
            smoke.fail("frame lines %r" % got)

    def paths(self, s):
        base = os.path.join(s.folder, "base.avi")
        subprocess.run([self.args.make_avi, "--out", base, "--frames", "5", "--width", "32",
                        "--height", "24"], check=True)
        with open(base, "rb") as f:
            data = f.read()
        folder = os.path.join(s.folder, "names")
        os.makedirs(folder)
        for length in PATH_LENGTHS:
            # One long file name: the library names its streams after it.
            name = "%03d" % length
            name += "n" * (length - len(smoke.windows_path(folder)) - 1 - len(name) - 4)
            path = os.path.join(folder, name + ".avi")
            if len(smoke.windows_path(path)) != length:
                smoke.fail("a path of %d characters, not %d" % (len(smoke.windows_path(path)),
                                                                length))
            with open(path, "wb") as f:
                f.write(data)
            want = bad_files.report((1000, 30000, 5, 24, 32), (2, 64000, 5 * 1067))
            self.bad.run_one(s, "path%d" % length, path, want, 5)

    def window_key(self, s):
        # Ten seconds of play: the key comes long before the end.
        clip = os.path.join(s.folder, "ten.avi")
        subprocess.run([self.args.make_avi, "--out", clip, "--frames", "300", "--width", "32",
                        "--height", "24"], check=True)
        openbox = start_openbox(s)
        try:
            run = self.start_run(s, "window-key", clip)
            run.key("x")
            run.key("x")
            s.wait_until(lambda: s.windows(r"\] frame [0-9]+/"), "the video window")
            time.sleep(0.5)
            s.x("key", "k")
            box = s.wait_until(
                lambda: s.windows("^" + re.escape(self.t["text_dialog_caption"]) + "$"),
                "the interruption dialog", 10)[0]
            run.focus_and(box, "key", "Escape")
            s.wait_until(lambda: bad_files.pane_text(run).endswith(self.t["text_quit"]),
                         "quit?")
            run.key("x")
            if run.wait_exit() != 0:
                smoke.fail("exit status not 0")
            shown = len(re.findall(r"frame= +\d+", bad_files.pane_text(run)))
            if shown >= 300:
                smoke.fail("played to the end: the key did not stop it")
        finally:
            openbox.terminate()
            openbox.wait()

    def run(self):
        s = smoke.Session(self.args.display, self.args.keep)
        started = time.monotonic()
        try:
            s.start()
            self.cut_source = os.path.join(s.folder, "whole.avi")
            subprocess.run([self.args.make_avi, "--out", self.cut_source, "--frames",
                            str(CUT_FRAMES), "--width", str(smoke.WIDTH), "--height",
                            str(smoke.HEIGHT)], check=True)
            with open(self.cut_source, "rb") as f:
                whole = f.read()
            clip = os.path.join(s.folder, "cut.avi")
            with open(clip, "wb") as f:
                f.write(whole[:len(whole) * 45 // 100])
            self.frames = whole_frames(whole[:len(whole) * 45 // 100])
            self.check("cut clip walked as on Linux", lambda: self.cut_walk(s, clip), s)
            self.check("cut clip stepped", lambda: self.cut_step(s, clip), s)
            self.check("paths of 60 to 259 characters", lambda: self.paths(s), s)
            self.check("a key into the video window", lambda: self.window_key(s), s)
        finally:
            s.stop()
        print("Windows as Linux under Wine: %.1f s" % (time.monotonic() - started))
        print("%d passed, %d failed" % (self.passed, self.failed))
        return 0 if self.failed == 0 and self.passed > 0 else 1


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(smoke.SOURCE, "build-win64"))
    parser.add_argument("--make-avi", required=True)
    parser.add_argument("--linux-avistep", required=True)
    parser.add_argument("--display", type=int, default=97)
    parser.add_argument("--keep", action="store_true")
    args = parser.parse_args()
    sys.stdout.reconfigure(line_buffering=True)
    for name in ("build", "make_avi", "linux_avistep"):
        setattr(args, name, os.path.abspath(getattr(args, name)))
    sys.exit(LikeLinux(args).run())


if __name__ == "__main__":
    main()
