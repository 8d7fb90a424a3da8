"""non_monitor walks over clips that the ffmpeg command encodes with common AVI codecs."""

import os
import re
import unittest

import avistep_harness as h

FRAMES = 24
WIDTH, HEIGHT = 128, 96


class CodecTest(unittest.TestCase):
    def walk(self, name, clip, bits, frames, width, height):
        with h.Avistep(name, capture_sound=False) as app:
            app.choose(clip)
            app.wait_for(h.PROMPT_MONITOR)
            head = app.transcript
            self.assertRegex(head, r"^strs = 2 \nvi_S=\d+ vi_R=\d+ vi_length=%d \n"
                             r"h = %d w = %d\nau_S=\d+ au_R=\d+ au_length=%d %d\(frame\)\n%s$"
                             % (frames, height, width, frames * 1067, frames,
                                re.escape(h.PROMPT_MONITOR)))
            app.send("n")
            app.finish(self)
            self.assertEqual(app.transcript,
                             head + h.cnt_line(width, height) +
                             "".join(h.frame_line(bits, k) for k in range(frames)) + h.QUIT)

    def test_mjpeg(self):
        clip = h.ffmpeg_clip("mjpeg.avi", FRAMES, "%dx%d" % (WIDTH, HEIGHT),
                             ["-c:v", "mjpeg", "-q:v", "3", "-pix_fmt", "yuvj420p"])
        self.walk("mjpeg", clip, 24, FRAMES, WIDTH, HEIGHT)

    def test_ms_video_1(self):
        clip = h.ffmpeg_clip("msvideo1.avi", FRAMES, "%dx%d" % (WIDTH, HEIGHT),
                             ["-c:v", "msvideo1"])
        self.walk("msvideo1", clip, 16, FRAMES, WIDTH, HEIGHT)

    def test_cinepak(self):
        clip = h.ffmpeg_clip("cinepak.avi", FRAMES, "%dx%d" % (WIDTH, HEIGHT),
                             ["-c:v", "cinepak"])
        self.walk("cinepak", clip, 24, FRAMES, WIDTH, HEIGHT)

    def test_raw_top_down(self):
        # ffmpeg stores raw RGB rows top first, with a negative height.
        clip = h.ffmpeg_clip("raw.avi", FRAMES, "%dx%d" % (WIDTH, HEIGHT),
                             ["-c:v", "rawvideo", "-pix_fmt", "bgr24"])
        self.walk("raw", clip, 24, FRAMES, WIDTH, HEIGHT)

    def test_b_frames_and_10_bit_raw_give_every_frame(self):
        # B-frames reordered in MPEG-1 and in XviD's packed bitstream (with its placeholder
        # chunks), and v210, which stores 20 bits a pixel: a picture for every frame from 0 on.
        for name, codec in (("mpeg1_b", ["-c:v", "mpeg1video", "-bf", "2", "-g", "12"]),
                            ("xvid_b", ["-c:v", "libxvid", "-bf", "2", "-g", "12"]),
                            ("v210", ["-c:v", "v210"])):
            with self.subTest(name):
                clip = h.ffmpeg_clip(name + ".avi", FRAMES, "%dx%d" % (WIDTH, HEIGHT), codec)
                self.walk(name, clip, 24, FRAMES, WIDTH, HEIGHT)

    def test_a_codec_without_decoder(self):
        clip = h.ffmpeg_clip("unknown.avi", 4, "64x48", ["-c:v", "mjpeg"], audio=False)
        with open(clip, "r+b") as f:
            head = f.read(4096)
            self.assertEqual(head.count(b"MJPG"), 2, "fccHandler and biCompression")
            f.seek(0)
            f.write(head.replace(b"MJPG", b"ZZZZ"))
        with h.Avistep("no_decoder", capture_sound=False) as app:
            app.choose(clip)
            app.wait_for(h.PROMPT_MONITOR)
            head = app.transcript
            self.assertRegex(head, r"^strs = 1 \nvi_S=\d+ vi_R=\d+ vi_length=4 \nh = 48 w = 64\n"
                             r"no audio stream\nno decoder\n%s$" % re.escape(h.PROMPT_MONITOR))
            app.send("x")
            app.wait_for(h.PROMPT_STEP)
            app.send("x")
            app.finish(self)
            self.assertEqual(app.transcript, head + h.PROMPT_STEP + h.cnt_line(64, 48) +
                             "".join("decode err frame= %4d \n" % k for k in range(4)) + h.QUIT)

    def test_mp3_sound_is_heard_at_its_pitch_and_level(self):
        video = h.ffmpeg_clip("mp3.video.avi", 45, "64x48", ["-c:v", "rawvideo"], audio=False)
        clip = h.context.path("mp3.avi")
        h.ffmpeg("-i", video, "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=2",
                 "-af", "pan=stereo|c0=c0|c1=c0", "-map", "0:v", "-map", "1:a", "-c:v", "copy",
                 "-c:a", "libmp3lame", clip)
        with h.Avistep("mp3") as app:
            app.choose(clip)
            app.wait_for(h.PROMPT_MONITOR)
            app.send("x")
            app.wait_for(h.PROMPT_STEP)
            app.send("x")
            app.finish(self)
            self.assertNotIn("no audio decoder", app.transcript)
            played = app.captured_samples()
            # One second from the middle of the 1.5 s played: a 440 Hz sine at 1/8 of full scale.
            start = next(i for i, v in enumerate(played) if abs(v) > 1000) + 4000
            second = played[start:start + 32000]
            self.assertEqual(len(second), 32000)
            rises = sum(1 for a, b in zip(second, second[1:]) if a < 0 <= b)
            self.assertTrue(437 <= rises <= 443, "%d Hz" % rises)
            level = (sum(v * v for v in second) / len(second)) ** 0.5
            self.assertAlmostEqual(level, 4096 / 2 ** 0.5, delta=290)

    def test_the_sample_clip(self):
        sample = os.path.join(os.path.abspath(h.args.source), "samples", "sample.avi")
        self.walk("sample", sample, 24, 300, 320, 240)


if __name__ == "__main__":
    h.run_tests("codecs")
