#!/usr/bin/python3
"""Damaged files through the Windows build under Wine.

Makes damaged clips (cut short, header fields set to extremes, random header bytes changed,
damaged Cinepak, the fuzzing regressions, a path of 259 characters) and runs avistep.exe on each
as a user would: the file chosen in the open-file dialog, "n" to walk it without display. Every
run must end at "quit?" within a time limit and exit with status 0 after one key. Where the
transcript is known (the report's lines, the number of frame lines), it is checked too.

usage: bad_files.py --build DIR --make-avi BIN [--display N] [--keep] [--all] [--only NAME...]
Prints "N passed, N failed" and exits nonzero on any failure.
"""

import argparse
import os
import random
import re
import struct
import subprocess
import sys
import time

import smoke

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from avi_patch import chunk_body, patched  # noqa: E402

SOURCE = smoke.SOURCE
WIDTH, HEIGHT, FRAMES = 32, 24, 5
LIMIT = 40.0  # seconds a run may take from the chosen file to "quit?"
# What CI runs (about 10 s each): one of each kind of damage. --all runs every case.
SUBSET = {"cut_50", "length_4g", "audio_length_4g", "zero_rates", "block_align_0",
          "block_align_3", "sample_size_4g", "bitmap_negative", "empty_rect_top_down",
          "index_one_wrong", "wave_rate_0", "no_streams", "random_headers_0", "cinepak_cut_50",
          "cinepak_colours_used_4g", "long_path"}
ANY_FRAME_LINE = re.compile(r"(?:color = \d+ |decode err )frame= *(\d+)\n")


def report(video, audio, streams=2):
    """The report's lines: video is (scale, rate, length, h, w), audio (scale, rate, length)
    or None; Wine's library reports audio's scale and rate itself, so they are not compared."""
    text = "strs = %d \n" % streams
    text += "vi_S=%d vi_R=%d vi_length=%d \nh = %d w = %d\n" % video
    if audio:
        length = audio[2] - (1 << 32) if audio[2] >= 1 << 31 else audio[2]
        text += "au_S=* au_R=* au_length=%d %d(frame)\n" % (length, audio[2] // 1067)
    return text


class Cases:
    """name -> (bytes, expected report or None, expected frame lines or None)."""

    def __init__(self, folder, make_avi):
        self.folder = folder
        base_path = os.path.join(folder, "base.avi")
        subprocess.run([make_avi, "--out", base_path, "--frames", str(FRAMES), "--width",
                        str(WIDTH), "--height", str(HEIGHT)], check=True)
        with open(base_path, "rb") as f:
            self.base = f.read()
        top_path = os.path.join(folder, "top.avi")
        subprocess.run([make_avi, "--out", top_path, "--frames", str(FRAMES), "--width",
                        str(WIDTH), "--height", str(HEIGHT), "--top-down", "--empty-rcframe"],
                       check=True)
        with open(top_path, "rb") as f:
            self.top_down = f.read()
        self.cases = {}

    def add(self, name, data, report_text=None, frames=None):
        self.cases[name] = (data, report_text, frames)

    def build(self):
        b = self.base
        vh, ah = chunk_body(b, b"strh", 0), chunk_body(b, b"strh", 1)
        vf, af = chunk_body(b, b"strf", 0), chunk_body(b, b"strf", 1)
        video = (1000, 30000, FRAMES, HEIGHT, WIDTH)
        audio = (2, 64000, FRAMES * 1067)
        full = report(video, audio)
        for percent in (10, 50, 90):
            self.add("cut_%d" % percent, b[:len(b) * percent // 100])
        for name, length in (("length_2g", 0x7fffffff), ("length_4g", 0xffffffff)):
            self.add(name, patched(b, (vh + 32, "<I", length)), full, FRAMES)
        self.add("audio_length_4g", patched(b, (ah + 32, "<I", 0xffffffff)),
                 report(video, (2, 64000, 0xffffffff)), FRAMES)
        self.add("video_scale_0", patched(b, (vh + 20, "<I", 0)),
                 report((0,) + video[1:], audio), FRAMES)
        self.add("zero_rates", patched(b, (vh + 20, "<II", (0, 0)), (ah + 20, "<II", (0, 0))),
                 report((0, 0) + video[2:], audio), FRAMES)
        self.add("block_align_0", patched(b, (af + 12, "<H", 0)), full, FRAMES)
        self.add("block_align_3", patched(b, (af + 12, "<H", 3)), full, FRAMES)
        self.add("sample_size_4g", patched(b, (ah + 44, "<I", 0xffffffff), (af + 12, "<H", 0xffff)),
                 full, FRAMES)
        self.add("bitmap_2g", patched(b, (vf + 4, "<ii", (0x7fffffff, 0x7fffffff))), full, FRAMES)
        self.add("bitmap_negative", patched(b, (vf + 4, "<ii", (-WIDTH, -HEIGHT)),
                                            (vh + 48, "<hhhh", (0, 0, 0, 0))),
                 report(video[:3] + (0, 0), audio), FRAMES)
        self.add("colours_used_4g", patched(b, (vf + 32, "<I", 0xffffffff)), full, FRAMES)
        self.add("empty_rect_top_down", self.top_down, full, FRAMES)
        idx1 = b.rindex(b"idx1")
        self.add("no_index", b[:idx1], full, FRAMES)
        self.add("index_one_wrong", patched(b, (idx1 + 8 + 8, "<I", 0x7ffffff0)), full, FRAMES)
        nowhere = [(idx1 + 8 + 16 * k + 8, "<II", (0xfffffff0 - k, 0x7fffffff))
                   for k in range((len(b) - idx1 - 8) // 16)]
        self.add("index_all_wrong", patched(b, *nowhere), full, FRAMES)
        self.add("sample_and_align_4", patched(b, (ah + 44, "<I", 4), (af + 12, "<H", 4)), full,
                 FRAMES)
        self.add("wave_rate_0", patched(b, (af + 4, "<I", 0)), None, FRAMES)
        avih = b"avih" + struct.pack("<I14I", 56, 33333, 0, 0, 0x10, *([0] * 10))
        hdrl = b"LIST" + struct.pack("<I", 4 + len(avih)) + b"hdrl" + avih
        body = b"AVI " + hdrl + b"LIST" + struct.pack("<I", 4) + b"movi"
        self.add("no_streams", b"RIFF" + struct.pack("<I", len(body)) + body,
                 "strs = 0 \nno video stream\n", 0)
        self.add("empty", b"", "open err\n", 0)
        rng = random.Random(13)
        headers_end = b.index(b"movi")
        for k in range(2):
            damaged = bytearray(b)
            for _ in range(8):
                damaged[rng.randrange(12, headers_end)] = rng.randrange(256)
            self.add("random_headers_%d" % k, bytes(damaged))
        for path in sorted(os.listdir(os.path.join(SOURCE, "fuzz", "regressions"))):
            with open(os.path.join(SOURCE, "fuzz", "regressions", path), "rb") as f:
                self.add("fuzz_" + os.path.splitext(path)[0], f.read())

    def cinepak(self):
        """A Cinepak clip with sound, cut, and with colour counts it cannot hold."""
        video = os.path.join(self.folder, "cvid.video.avi")
        smoke_ffmpeg("-f", "lavfi", "-i", "testsrc=size=%dx%d:rate=30" % (WIDTH, HEIGHT),
                     "-frames:v", str(FRAMES), "-c:v", "cinepak", "-an", video)
        clip = os.path.join(self.folder, "cvid.avi")
        smoke_ffmpeg("-i", video, "-f", "lavfi", "-i", "sine=sample_rate=32000:duration=0.2",
                     "-map", "0:v", "-map", "1:a", "-c:v", "copy", "-c:a", "pcm_s16le", "-ac", "1",
                     clip)
        with open(clip, "rb") as f:
            data = f.read()
        vf = chunk_body(data, b"strf", 0)
        self.add("cinepak_cut_50", data[:len(data) // 2])
        self.add("cinepak_colours_used_4g", patched(data, (vf + 32, "<I", 0xffffffff)))


def pane_text(run):
    """The console as the terminal got it: UTF-8, lines ending in CR LF, perhaps with the
    console's own control sequences. The console drops spaces at the ends of lines: they are
    not compared."""
    raw = run.output().decode("utf-8", "replace").replace("\r\n", "\n")
    raw = re.sub(r"\x1b\[(\d*)C", lambda m: " " * int(m.group(1) or 1), raw)
    raw = re.sub(r"\x1b\[[0-9;?]*[A-Za-z]|\x1b\][^\x07]*\x07|\r", "", raw)
    return re.sub(r" +\n", "\n", raw).rstrip(" ")


def smoke_ffmpeg(*arguments):
    subprocess.run(["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y",
                    *arguments], check=True, capture_output=True)


class BadFiles:
    def __init__(self, args):
        self.args = args
        self.t = smoke.texts()
        self.passed = 0
        self.failed = 0

    def launch(self, s, name, cwd):
        """avistep.exe in a tmux pane, its console output copied to a file as it comes: output
        redirected to a file would be held in the runtime's buffer until the program ends."""
        exe = os.path.join(self.args.build, "avistep.exe")
        out = os.path.join(s.folder, name + ".out")
        status = os.path.join(s.folder, name + ".status")
        for path in (out, status):
            if os.path.exists(path):
                os.remove(path)
        env = " ".join("%s=%s" % (k, v) for k, v in s.env().items()
                       if k in ("DISPLAY", "WINEPREFIX", "WINEDEBUG", "LC_ALL", "LANG",
                                "WINEDLLOVERRIDES"))
        shell = "cd '%s' && env %s '%s' '%s' 2> '%s.err'; echo $? > '%s'" % (
            cwd, env, s.wine, exe, out, status)
        run = smoke.Run(s, name, out, status)
        s.runs.append(run)
        subprocess.run(run.tmux + ["new-session", "-d", "-s", name, "-x", "200", "-y", "50",
                                   shell], check=True)
        subprocess.run(run.tmux + ["pipe-pane", "-t", name, "-o", "cat >> '%s'" % out],
                       check=True)
        return run

    def run_one(self, s, name, path, want_report, want_frames):
        run = self.launch(s, name, os.path.dirname(path))
        chooser = run.dialog(self.t["text_choose_title"])
        run.focus_and(chooser, "type", "--delay", "10", smoke.windows_path(path))
        run.focus_and(chooser, "key", "Return")
        started = time.monotonic()
        prompt, quit_text = self.t["text_prompt_monitor"], self.t["text_quit"]

        def text():
            return pane_text(run)

        def at_prompt():
            if os.path.exists(run.status) and open(run.status).read().strip():
                smoke.fail("ended before quit? with status %s: %r" % (
                    open(run.status).read().strip(), text()[-300:]))
            return text().endswith((prompt.rstrip(" "), quit_text))

        s.wait_until(at_prompt, "the first prompt or quit?", LIMIT)
        if not text().endswith(quit_text):
            run.key("n")
        s.wait_until(lambda: at_prompt() and text().endswith(quit_text), "quit?",
                     LIMIT - (time.monotonic() - started))
        took = time.monotonic() - started
        run.key("x")
        status = run.wait_exit()
        got = text()
        if status != 0:
            smoke.fail("exit status %d" % status)
        if want_report is not None:
            shown = re.sub(r"au_S=\d+ au_R=\d+ ", "au_S=* au_R=* ", got)
            if not shown.startswith(re.sub(r" +\n", "\n", want_report)):
                smoke.fail("report %r, want %r" % (shown[:len(want_report) + 40], want_report))
        if want_frames is not None:
            frames = [int(k) for k in ANY_FRAME_LINE.findall(got)]
            if frames != list(range(want_frames)):
                smoke.fail("frame lines %r, want 0 to %d" % (frames[:20], want_frames - 1))
        return took, got

    def run(self):
        s = smoke.Session(self.args.display, self.args.keep)
        started = time.monotonic()
        try:
            s.start()
            cases = Cases(s.folder, self.args.make_avi)
            cases.build()
            cases.cinepak()
            # A path of 259 characters in Windows' form (Z:\...), the longest MAX_PATH holds, in
            # folders of short names (Wine's library cannot open files with long names).
            folder = os.path.join(s.folder, "long")
            while len(smoke.windows_path(folder)) < 259 - 40:
                folder = os.path.join(folder, "d" * 30)
            name = "p" * (259 - len(smoke.windows_path(folder)) - 1 - 4)
            os.makedirs(folder)
            cases.long_path = os.path.relpath(os.path.join(folder, name), s.folder)
            cases.cases[cases.long_path] = (
                cases.base, report((1000, 30000, FRAMES, HEIGHT, WIDTH),
                                   (2, 64000, FRAMES * 1067)), FRAMES)
            only = set(self.args.only or [])
            for name, (data, want_report, want_frames) in cases.cases.items():
                kind = "long_path" if name == cases.long_path else name
                if only and kind not in only:
                    continue
                if not only and not self.args.all and kind not in SUBSET:
                    continue
                path = os.path.join(s.folder, name + ".avi")
                with open(path, "wb") as f:
                    f.write(data)
                try:
                    took, got = self.run_one(s, os.path.basename(name)[:40], path, want_report,
                                             want_frames)
                except Exception as e:
                    self.failed += 1
                    print("FAILED %s: %s" % (name[:60], e))
                    s.end_runs()
                else:
                    self.passed += 1
                    lines = got.split("\n")
                    print("ok %s (%.1f s): %s" % (os.path.basename(name)[:60], took, " | ".join(
                        line for line in lines[:4])))
        finally:
            s.stop()
        print("damaged files under Wine: %.1f s" % (time.monotonic() - started))
        print("%d passed, %d failed" % (self.passed, self.failed))
        return 0 if self.failed == 0 and self.passed > 0 else 1


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(SOURCE, "build-win64"))
    parser.add_argument("--make-avi", required=True)
    parser.add_argument("--display", type=int, default=96)
    parser.add_argument("--keep", action="store_true")
    parser.add_argument("--only", nargs="*", help="these cases alone")
    parser.add_argument("--all", action="store_true", help="every case, not the CI subset")
    args = parser.parse_args()
    sys.stdout.reconfigure(line_buffering=True)
    args.build = os.path.abspath(args.build)
    args.make_avi = os.path.abspath(args.make_avi)
    sys.exit(BadFiles(args).run())


if __name__ == "__main__":
    main()
