"""The stream report and the two mode prompts, exactly as the console shows them."""

import unittest

import avistep_harness as h

# make_test_avi's audio stream header: 16-bit mono PCM, dwScale 2 (block), dwRate 64000 (bytes/s).
AUDIO_SCALE, AUDIO_RATE = 2, 64000


class ReportTest(unittest.TestCase):
    def walk(self, name, clip, expected_report, frames, width, height):
        """Opens the clip, checks the report, walks it in non_monitor mode and quits."""
        with h.Avistep(name) as app:
            app.choose(clip)
            app.wait_for(h.PROMPT_MONITOR)
            self.assertEqual(app.transcript, expected_report + h.PROMPT_MONITOR)
            app.send("n")
            app.finish(self)
            lines = "".join(h.frame_line(24, k) for k in range(frames))
            self.assertEqual(app.transcript, expected_report + h.PROMPT_MONITOR +
                             h.cnt_line(width, height) + lines + h.QUIT)
            # Every line starts at the left margin: the terminal gets CR LF for each line end.
            raw = app.raw_transcript
            self.assertEqual(raw.count(b"\n"), raw.count(b"\r\n"))

    def test_audio_first_with_1066_samples(self):
        clip = h.make_avi("audio_first.avi", "--audio-first", "--frames", "3",
                          "--audio-samples", "1066", "--audio-chunk", "533")
        self.walk("audio_first", clip,
                  h.report(2, (1000, 30000, 3, 48, 64), (AUDIO_SCALE, AUDIO_RATE, 1066)), 3, 64, 48)

    def test_1067_samples_and_an_unreduced_rate(self):
        # FFmpeg would reduce 1000/30000 to 1/30; the report shows the header's own numbers.
        clip = h.make_avi("video_first.avi", "--frames", "4", "--width", "40", "--height", "30",
                          "--audio-samples", "1067")
        self.walk("video_first", clip,
                  h.report(2, (1000, 30000, 4, 30, 40), (AUDIO_SCALE, AUDIO_RATE, 1067)), 4, 40, 30)

    def test_other_scale_and_rate(self):
        clip = h.make_avi("ntsc.avi", "--frames", "2", "--scale", "1001", "--rate", "30000")
        self.walk("ntsc", clip,
                  h.report(2, (1001, 30000, 2, 48, 64), (AUDIO_SCALE, AUDIO_RATE, 2 * 1067)),
                  2, 64, 48)

    def test_no_audio(self):
        clip = h.make_avi("silent.avi", "--no-audio", "--frames", "3")
        self.walk("no_audio", clip, h.report(1, (1000, 30000, 3, 48, 64)), 3, 64, 48)

    def test_no_video(self):
        clip = h.make_avi("sound_only.avi", "--no-video")
        with h.Avistep("no_video") as app:
            app.choose(clip)
            app.finish(self)
            # Nothing to show: no prompt, no window.
            self.assertEqual(app.transcript,
                             h.report(1, None, (AUDIO_SCALE, AUDIO_RATE, 32000)) + h.QUIT)

    def test_three_streams_play_the_last_audio_stream(self):
        clip = h.make_avi("three.avi", "--third-stream", "--frames", "3")
        with h.Avistep("three_streams") as app:
            app.choose(clip)
            expected = h.report(3, (1000, 30000, 3, 48, 64), (AUDIO_SCALE, AUDIO_RATE, 3 * 1067))
            app.wait_for(h.PROMPT_MONITOR)
            self.assertEqual(app.transcript, expected + h.PROMPT_MONITOR)
            # Capital N is not n: the second prompt follows.
            app.send("N")
            app.wait_for(h.PROMPT_STEP)
            app.send("x")
            app.finish(self)
            lines = "".join(h.frame_line(24, k) for k in range(3))
            self.assertEqual(app.transcript, expected + h.PROMPT_MONITOR + h.PROMPT_STEP +
                             h.cnt_line(64, 48) + lines + h.QUIT)
            # The last audio stream of the file is the one heard.
            third = h.clip_pcm(clip, "0:a:1")
            problem = h.find_slices(app.captured_samples(),
                                    [third[k * 1067:(k + 1) * 1067] for k in range(3)])
            self.assertIsNone(problem)


if __name__ == "__main__":
    h.run_tests("report")
