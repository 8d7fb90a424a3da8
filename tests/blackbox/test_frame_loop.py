"""The frame loop driven from the console and the dialogs: walks, steps, interruptions, sound,
Ctrl+C."""

import signal
import unittest

import avistep_harness as h


def slices(pcm, frames):
    """Each frame's 1067 samples of the clip's audio, in the order the frames are shown."""
    return [pcm[k * h.SAMPLES_PER_FRAME:(k + 1) * h.SAMPLES_PER_FRAME] for k in frames]


class FrameLoopTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.short = h.make_avi("short.avi", "--frames", "12")
        cls.long = h.make_avi("long.avi", "--frames", "300")

    def start_playing(self, app, clip, step=False):
        app.choose(clip)
        app.wait_for(h.PROMPT_MONITOR)
        app.send("x")
        app.wait_for(h.PROMPT_STEP)
        app.send("s" if step else "x")

    def test_non_monitor_walk(self):
        clip = h.make_avi("walk.avi", "--frames", "40", "--width", "32", "--height", "24")
        with h.Avistep("non_monitor_walk") as app:
            app.choose(clip)
            app.wait_for(h.PROMPT_MONITOR)
            app.send("n")
            app.finish(self)
            head = h.report(2, (1000, 30000, 40, 24, 32), (2, 64000, 40 * 1067))
            self.assertEqual(app.transcript,
                             head + h.PROMPT_MONITOR + h.cnt_line(32, 24) +
                             "".join(h.frame_line(24, k) for k in range(40)) + h.QUIT)
            # Nothing is played without a display.
            self.assertIsNone(h.find_slices(app.captured_samples(), []))

    def test_step_session(self):
        with h.Avistep("step_session") as app:
            self.start_playing(app, self.short, step=True)
            # The step dialog after every frame: Yes next, No previous, Cancel continuous play.
            shown = 1
            for key, next_lines in (("y", 2), ("y", 3), ("n", 4), ("y", 5), ("y", 6)):
                app.wait_for_frame_lines(shown)
                app.answer(key)
                app.wait_for_frame_lines(next_lines)
                shown = next_lines
            app.answer("Escape")
            app.finish(self)
            expected = [0, 1, 2, 1, 2, 3] + list(range(4, 12))
            self.assertEqual(app.wait_for_frame_lines(len(expected)), expected)
            self.assertTrue(app.transcript.startswith(
                h.report(2, (1000, 30000, 12, 48, 64), (2, 64000, 12 * 1067)) + h.PROMPT_MONITOR +
                h.PROMPT_STEP + h.cnt_line(64, 48) + h.frame_line(24, 0)))
            self.assertTrue(app.transcript.endswith(h.frame_line(24, 11) + h.QUIT))
            # Stepping back plays the frame's slice again, identical to the first time.
            problem = h.find_slices(app.captured_samples(), slices(h.clip_pcm(self.short),
                                                                   expected))
            self.assertIsNone(problem)

    def test_keystroke_then_quit_in_the_interruption_dialog(self):
        with h.Avistep("interrupt_cancel") as app:
            self.start_playing(app, self.long)
            app.wait_for_frame_lines(10)
            app.send("x")
            app.answer("Escape")
            app.wait_for(h.QUIT)
            frames = app.wait_for_frame_lines(1)
            self.assertEqual(frames, list(range(len(frames))))
            self.assertLess(len(frames), 300, "playback went on to the end")
            self.assertTrue(app.transcript.endswith(h.frame_line(24, frames[-1]) + h.QUIT))
            self.assertEqual(app.dialog_windows(), [], "a dialog is still open")
            app.finish(self)

    def test_arrow_key_brings_the_dialog_up_twice(self):
        # An arrow is two codes: the first opens the dialog, the second opens it again a frame on.
        with h.Avistep("arrow_key") as app:
            self.start_playing(app, self.long)
            app.wait_for_frame_lines(5)
            app.send("\x1b[A")
            dialog = app.next_dialog()
            first = app.wait_for_frame_lines(1)[-1]
            app.answer("n", dialog)   # resume
            app.answer("Escape")      # the second code's dialog: quit
            app.wait_for(h.QUIT)
            self.assertEqual(app.wait_for_frame_lines(1), list(range(first + 2)),
                             "the second code should stop playback one frame after the first")
            app.finish(self)

    def test_interruption_yes_steps_back_and_on(self):
        with h.Avistep("interrupt_yes") as app:
            self.start_playing(app, self.long)
            app.wait_for_frame_lines(5)
            app.send("x")
            app.answer("y")                  # interruption: step mode, then the step dialog
            dialog = app.next_dialog()
            k = app.wait_for_frame_lines(1)[-1]
            app.answer("n", dialog)          # step: the previous frame
            app.answer("Return")             # step: Return is Yes, the next frame
            dialog = app.next_dialog()
            app.send("x")                    # waits in the terminal while the step dialog is open
            app.answer("Escape", dialog)     # step: continuous play from the next frame
            app.answer("Escape")             # interruption for the waiting key: quit
            app.wait_for(h.QUIT)
            self.assertEqual(app.wait_for_frame_lines(1), list(range(k + 1)) + [k - 1, k, k + 1])
            app.finish(self)

    def test_closing_the_window_stops_playback(self):
        with h.Avistep("window_close") as app:
            self.start_playing(app, self.long)
            app.wait_for_frame_lines(10)
            h.context.ask_to_close(app.display_window())
            app.wait_for(h.QUIT)
            frames = app.wait_for_frame_lines(1)
            self.assertEqual(frames, list(range(len(frames))))
            self.assertLess(len(frames), 300, "playback went on to the end")
            self.assertEqual(h.context.find_windows(class_name="^GRC0$"), [])
            app.finish(self)

    def test_sound_is_every_frames_slice_in_order(self):
        clip = h.make_avi("sound.avi", "--frames", "45", "--width", "32", "--height", "24")
        with h.Avistep("sound") as app:
            self.start_playing(app, clip)
            app.finish(self)
            self.assertEqual(app.wait_for_frame_lines(45), list(range(45)))
            pcm = h.clip_pcm(clip)
            self.assertEqual(len(pcm), 45 * 1067)
            problem = h.find_slices(app.captured_samples(), slices(pcm, range(45)))
            self.assertIsNone(problem)

    def test_ctrl_c_during_playback(self):
        with h.Avistep("ctrl_c") as app:
            app.choose(self.long)
            app.wait_for(h.PROMPT_MONITOR)
            # At a prompt Ctrl+C is a key like any other: not n, so the second prompt follows.
            app.send_ctrl_c_as_key()
            app.wait_for(h.PROMPT_STEP)
            app.send("x")
            app.wait_for_frame_lines(10)
            app.send("\x03")
            status = app.wait_exit()
            self.assertIn(status, (-signal.SIGINT, 128 + signal.SIGINT),
                          "Ctrl+C ends the program as an interrupt")
            self.assertNotIn(h.QUIT, app.transcript)
            self.assertLess(len(app.wait_for_frame_lines(1)), 300)
            app.check_terminal_restored(self)


if __name__ == "__main__":
    h.run_tests("frame_loop")
