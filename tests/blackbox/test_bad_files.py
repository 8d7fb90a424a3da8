"""Broken and hostile files, chosen as a user would choose them: every one ends with a clear
console line or plays what it can, then "quit?", one key, exit status 0, the terminal as it was,
and memory within bounds."""

import os
import random
import re
import struct
import sys
import unittest

import avistep_harness as h

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from avi_patch import chunk_body, patched  # noqa: E402

WIDTH, HEIGHT, FRAMES = 32, 24, 5
VIDEO = (1000, 30000, FRAMES, HEIGHT, WIDTH)   # make_test_avi's video stream header
AUDIO = (2, 64000, FRAMES * 1067)              # and its audio stream header
# Peak resident memory a run may reach; a normal run of a small clip needs well under half.
MEMORY_LIMIT_KB = 600 * 1024
ANY_FRAME_LINE = re.compile(r"(?:color = \d+ |decode err )frame= *(\d+) \n")


def signed(value):
    return value - (1 << 32) if value >= 1 << 31 else value


def peak_memory_kb(app):
    with open("/proc/%d/status" % app.process.pid) as status:
        return int(re.search(r"^VmHWM:\s*(\d+) kB", status.read(), re.M).group(1))


class BadFilesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        path = h.make_avi("base.avi", "--frames", str(FRAMES), "--width", str(WIDTH),
                          "--height", str(HEIGHT))
        with open(path, "rb") as f:
            cls.base = f.read()
        cls.video_strh = chunk_body(cls.base, b"strh", 0)
        cls.audio_strh = chunk_body(cls.base, b"strh", 1)
        cls.video_strf = chunk_body(cls.base, b"strf", 0)
        cls.audio_strf = chunk_body(cls.base, b"strf", 1)
        cls.idx1 = cls.base.rindex(b"idx1")

    def write(self, name, data):
        path = h.context.path(name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def no_window(self, app):
        self.assertEqual(h.context.find_windows(class_name="^GRC0$"), [], "a window opened")

    def run_clip(self, name, clip, keys="n", check=None):
        """Chooses the clip, answers the prompts that come with `keys`, and ends at "quit?" with
        one key. Returns the transcript; checks exit status 0, the terminal and peak memory, and
        at "quit?" whatever `check` checks."""
        with h.Avistep(name) as app:
            app.choose(clip)
            for key in keys:
                app.wait_until(lambda t: t.endswith((h.PROMPT_MONITOR, h.PROMPT_STEP, h.QUIT)),
                               "a prompt")
                if app.transcript.endswith(h.QUIT):
                    break
                app.send(key)
            app.wait_for(h.QUIT)
            self.assertLess(peak_memory_kb(app), MEMORY_LIMIT_KB, "peak memory of " + name)
            if check:
                check(app)
            app.finish(self)
            return app.transcript

    def walk(self, name, clip, report, frames, width=WIDTH, height=HEIGHT, bits=24):
        """A clip that opens: the report, a non_monitor walk of `frames` frames and "quit?"."""
        transcript = self.run_clip(name, clip)
        self.assertEqual(transcript, report + h.PROMPT_MONITOR + h.cnt_line(width, height) +
                         "".join(h.frame_line(bits, k) for k in range(frames)) + h.QUIT)

    def test_files_that_cannot_be_opened(self):
        rng = random.Random(1)
        wave = (b"RIFF\x24\x00\x00\x00WAVEfmt \x10\x00\x00\x00\x01\x00\x01\x00\x00\x7d\x00\x00"
                b"\x00\xfa\x00\x00\x02\x00\x10\x00data\x00\x00\x00\x00")
        cases = {
            "empty": b"",
            "random_bytes": bytes(rng.randrange(256) for _ in range(4096)),
            "signature_only": self.base[:12],
            "cut_in_the_headers": self.base[:300],
            "wave_file": wave,
        }
        for name, data in cases.items():
            with self.subTest(name):
                transcript = self.run_clip("open_" + name, self.write(name + ".avi", data),
                                           check=self.no_window)
                self.assertEqual(transcript, h.OPEN_ERR + h.QUIT)

    def test_no_streams_at_all(self):
        avih = b"avih" + struct.pack("<I14I", 56, 33333, 0, 0, 0x10, *([0] * 10))
        hdrl = b"LIST" + struct.pack("<I", 4 + len(avih)) + b"hdrl" + avih
        body = b"AVI " + hdrl + b"LIST" + struct.pack("<I", 4) + b"movi"
        clip = self.write("no_streams.avi", b"RIFF" + struct.pack("<I", len(body)) + body)
        self.assertEqual(self.run_clip("no_streams", clip), "strs = 0 \nno video stream\n" + h.QUIT)

    def test_cut_short_in_the_frames_plays_the_whole_frames(self):
        # Cut in the middle of frame 3: frames 0 to 2 are whole, and the stream is as long.
        cut = self.base.index(b"00db", self.base.index(b"movi")) + 8
        for _ in range(3):
            cut = self.base.index(b"00db", cut) + 8
        clip = self.write("cut_in_frame_3.avi", self.base[:cut + 100])
        self.walk("cut_in_frames", clip, h.report(2, VIDEO[:2] + (3,) + VIDEO[3:], AUDIO), 3)

    def test_lengths_beyond_the_stored_frames(self):
        # A video header claiming billions of frames plays the frames the file holds; an audio
        # header claiming billions of samples is reported as stored and plays the ones there.
        for name, length in (("length_2g", 0x7fffffff), ("length_4g", 0xffffffff)):
            with self.subTest(name):
                clip = self.write(name + ".avi", patched(self.base,
                                                         (self.video_strh + 32, "<I", length)))
                self.walk(name, clip, h.report(2, VIDEO, AUDIO), FRAMES)
        clip = self.write("audio_4g.avi", patched(self.base, (self.audio_strh + 32, "<I",
                                                              0xffffffff)))
        transcript = self.run_clip("audio_4g", clip, keys="xx")
        self.assertTrue(transcript.startswith(
            "strs = 2 \nvi_S=1000 vi_R=30000 vi_length=5 \nh = 24 w = 32\n"
            "au_S=2 au_R=64000 au_length=-1 %d(frame)\n" % (0xffffffff // 1067)), transcript)
        self.assertEqual([int(k) for k in ANY_FRAME_LINE.findall(transcript)], list(range(FRAMES)))

    def test_missing_and_lying_index(self):
        report = h.report(2, VIDEO, AUDIO)
        # No idx1 at all: the frames are found by walking the file.
        self.walk("no_index", self.write("no_index.avi", self.base[:self.idx1]), report, FRAMES)
        # Every entry pointing nowhere: the index is not believed.
        entries = (len(self.base) - self.idx1 - 8) // 16
        nowhere = [(self.idx1 + 8 + 16 * k + 8, "<II", (0xfffffff0 - k, 0x7fffffff))
                   for k in range(entries)]
        self.walk("index_all_wrong", self.write("index_all_wrong.avi",
                                                patched(self.base, *nowhere)), report, FRAMES)
        # One entry pointing past the end: what cannot be found is reported frame by frame.
        clip = self.write("index_one_wrong.avi",
                          patched(self.base, (self.idx1 + 8 + 8, "<I", 0x7ffffff0)))
        transcript = self.run_clip("index_one_wrong", clip)
        self.assertTrue(transcript.startswith(report + h.PROMPT_MONITOR +
                                              h.cnt_line(WIDTH, HEIGHT)), transcript)
        self.assertEqual([int(k) for k in ANY_FRAME_LINE.findall(transcript)], list(range(FRAMES)))
        self.assertTrue(transcript.endswith(h.QUIT))

    def test_absurd_picture_sizes(self):
        # rcFrame of 65535 x 65535: too large for a window; the frames still decode and the run
        # goes on without a window, in display mode too.
        clip = self.write("rect_65535.avi", patched(self.base, (self.video_strh + 48, "<hhhh",
                                                                (-32768, -32768, 32767, 32767))))
        transcript = self.run_clip("rect_65535", clip, keys="xx", check=self.no_window)
        cnt = signed((65535 * 65535 * 4 + 164) & 0xffffffff)
        self.assertEqual(transcript, h.report(2, VIDEO[:3] + (65535, 65535), AUDIO) +
                         h.PROMPT_MONITOR + h.PROMPT_STEP + "cnt = %d\n" % cnt +
                         "".join(h.frame_line(24, k) for k in range(FRAMES)) + h.QUIT)

        # A bitmap of 2^31-1 x 2^31-1 or of negative size in the format: no decoder takes it.
        huge = patched(self.base, (self.video_strf + 4, "<ii", (0x7fffffff, 0x7fffffff)))
        negative = patched(self.base, (self.video_strf + 4, "<ii", (-WIDTH, -HEIGHT)),
                           (self.video_strh + 48, "<hhhh", (0, 0, 0, 0)))
        for name, data, size in (("bitmap_2g", huge, (HEIGHT, WIDTH)),
                                 ("bitmap_negative", negative, (0, 0))):
            with self.subTest(name):
                transcript = self.run_clip(name, self.write(name + ".avi", data), keys="xx")
                self.assertEqual(transcript, h.report(2, VIDEO[:3] + size, AUDIO) +
                                 "no decoder\n" + h.PROMPT_MONITOR + h.PROMPT_STEP +
                                 h.cnt_line(size[1], size[0]) +
                                 "".join("decode err frame= %4d \n" % k for k in range(FRAMES)) +
                                 h.QUIT)

    def test_a_real_picture_too_large_to_show(self):
        # 16000 x 16000 MJPEG: a few kilobytes per frame that would decode into a gigabyte.
        clip = h.context.path("mjpeg_16000.avi")
        h.ffmpeg("-f", "lavfi", "-i", "color=c=red:size=16000x16000", "-frames:v", "1",
                 "-c:v", "mjpeg", "-q:v", "31", "-an", clip)
        transcript = self.run_clip("mjpeg_16000", clip, keys="xx", check=self.no_window)
        self.assertRegex(transcript, r"^strs = 1 \nvi_S=\d+ vi_R=\d+ vi_length=1 \n"
                         r"h = 16000 w = 16000\nno audio stream\nno decoder\n")
        self.assertTrue(transcript.endswith("decode err frame=    0 \n" + h.QUIT), transcript)

    def test_absurd_stream_header_values(self):
        # Zero scale and rate are reported as stored; they time nothing.
        zero = patched(self.base, (self.video_strh + 20, "<II", (0, 0)),
                       (self.audio_strh + 20, "<II", (0, 0)))
        self.walk("zero_rates", self.write("zero_rates.avi", zero),
                  h.report(2, (0, 0) + VIDEO[2:], (0, 0, AUDIO[2])), FRAMES)
        # The main header's stream count is not what the streams are counted by.
        avih = chunk_body(self.base, b"avih")
        many = patched(self.base, (avih + 24, "<I", 0xffffffff))
        self.walk("stream_count_4g", self.write("stream_count_4g.avi", many),
                  h.report(2, VIDEO, AUDIO), FRAMES)

    def test_audio_that_is_not_16_bit_pcm(self):
        # Decoded as the format says, silent where that fails; never a reason to stop.
        cases = {
            "format_tag_mp3": patched(self.base, (self.audio_strf, "<H", 0x55)),
            "block_align_0": patched(self.base, (self.audio_strf + 12, "<H", 0)),
            "sample_size_4g": patched(self.base, (self.audio_strh + 44, "<I", 0xffffffff),
                                      (self.audio_strf + 12, "<H", 0xffff)),
        }
        for name, data in cases.items():
            with self.subTest(name):
                transcript = self.run_clip(name, self.write(name + ".avi", data), keys="xx")
                self.assertTrue(transcript.startswith(h.report(2, VIDEO, AUDIO)), transcript)
                self.assertEqual([int(k) for k in ANY_FRAME_LINE.findall(transcript)],
                                 list(range(FRAMES)))
        # Real ADPCM from the ffmpeg command, and 8-bit PCM.
        video = h.context.path("adpcm.video.avi")
        h.ffmpeg("-f", "lavfi", "-i", "testsrc=size=32x24:rate=30", "-frames:v", "6", "-c:v",
                 "rawvideo", "-pix_fmt", "bgr24", "-an", video)
        for name, codec in (("adpcm", "adpcm_ima_wav"), ("u8", "pcm_u8")):
            with self.subTest(name):
                sound = h.context.path(name + ".wav")
                h.ffmpeg("-f", "lavfi", "-i", "sine=sample_rate=22050", "-t", "0.3", "-ac", "2",
                         "-c:a", codec, sound)
                clip = h.context.path(name + ".avi")
                h.ffmpeg("-i", video, "-i", sound, "-map", "0:v", "-map", "1:a", "-c", "copy", clip)
                transcript = self.run_clip(name, clip, keys="xx")
                self.assertRegex(transcript, r"^strs = 2 \n")
                self.assertEqual([int(k) for k in ANY_FRAME_LINE.findall(transcript)],
                                 list(range(6)))


if __name__ == "__main__":
    h.run_tests("bad_files")
