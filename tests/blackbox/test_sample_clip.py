"""The bundled sample clip, played to the end as a new user first plays it. The package test runs
this script against the installed program too."""

import os
import unittest

import avistep_harness as h

FRAMES = 300


class SampleClipTest(unittest.TestCase):
    def test_plays_to_the_end_with_picture_and_sound(self):
        clip = os.path.join(h.args.source, "samples", "sample.avi")
        with h.Avistep("sample_clip") as app:
            app.choose(clip)
            app.wait_for(h.PROMPT_MONITOR)
            app.send("x")
            app.wait_for(h.PROMPT_STEP)
            app.send("x")
            window = app.display_window()
            self.assertEqual(app.wait_for_frame_lines(FRAMES, timeout=60), list(range(FRAMES)))
            app.wait_for(h.QUIT)
            size = h.context.geometry(window)
            self.assertEqual((size["width"], size["height"]), (320, 240))
            app.finish(self)
            self.assertTrue(app.transcript.startswith(
                h.report(2, (1001, 30000, FRAMES, 240, 320), (1, 32000, 320100)) +
                h.PROMPT_MONITOR + h.PROMPT_STEP + h.cnt_line(320, 240)))
            # Every frame's own slice of the clip's sound was played, in order.
            pcm = h.clip_pcm(clip)
            slices = [pcm[k * h.SAMPLES_PER_FRAME:(k + 1) * h.SAMPLES_PER_FRAME]
                      for k in range(FRAMES)]
            self.assertIsNone(h.find_slices(app.captured_samples(), slices))


if __name__ == "__main__":
    h.run_tests("sample_clip")
