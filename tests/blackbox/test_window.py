"""The playback window: its size, class, title and pixels, seen from the X server."""

import time
import unittest

import avistep_harness as h

WHITE = b"\xff\xff\xff"


class WindowTest(unittest.TestCase):
    def check_title(self, app, window, clip, frames):
        """The title of the last frame: both addresses, the path and "frame N-1/N "."""
        title = h.context.title(window)
        match = h.TITLE.fullmatch(title or "")
        if not match:
            app.fail("title %r is not BITMAPINFOHEADER@...,... [path] frame i/n " % title)
        header, pixels = int(match.group(1), 16), int(match.group(2), 16)
        self.assertEqual(pixels, header + 0x28, "the pixels follow the 40-byte header")
        self.assertEqual(match.group(3), clip)
        self.assertEqual((int(match.group(4)), int(match.group(5))), (frames - 1, frames))

    def check_size_and_class(self, app, window, width, height):
        geometry = h.context.geometry(window)
        self.assertEqual((geometry["width"], geometry["height"]), (width, height),
                         "the window's inner size is the video's")
        self.assertIn("GRC0", h.context.wm_class(window))

    def play_to_the_end(self, name, clip, width, height, frames):
        """Plays the clip continuously; at "quit?" checks the window and its last picture."""
        with h.Avistep(name) as app:
            app.choose(clip)
            app.wait_for(h.PROMPT_MONITOR)
            app.send("x")
            app.wait_for(h.PROMPT_STEP)
            app.send("x")
            app.wait_for(h.QUIT)
            self.assertEqual(app.wait_for_frame_lines(frames), list(range(frames)))
            window = app.display_window()
            self.check_size_and_class(app, window, width, height)
            self.check_title(app, window, clip, frames)
            shot = h.context.screenshot(name + "_last_frame", window)
            expected = h.clip_frame(clip, frames - 1, width, height)
            count, first = shot.differences(expected)
            self.assertEqual(count, 0, "%d pixels differ from the clip's last frame; first at "
                             "(x, y, shown, clip) %s" % (count, first))
            app.finish(self)
            self.assertEqual(h.context.find_windows(class_name="^GRC0$"), [],
                             "the window closes with the last key")

    def test_last_picture_of_a_bottom_up_clip(self):
        clip = h.make_avi("bottom_up.avi", "--width", "160", "--height", "120", "--frames", "20")
        self.play_to_the_end("bottom_up", clip, 160, 120, 20)

    def test_last_picture_of_a_top_down_clip(self):
        clip = h.make_avi("top_down.avi", "--width", "96", "--height", "64", "--frames", "9",
                          "--top-down")
        self.play_to_the_end("top_down", clip, 96, 64, 9)

    def test_last_picture_of_a_32_bit_clip(self):
        clip = h.make_avi("bits32.avi", "--width", "80", "--height", "60", "--frames", "5",
                          "--bits", "32")
        self.play_to_the_end("bits32", clip, 80, 60, 5)

    def test_the_frame_stays_on_screen_while_the_step_dialog_waits(self):
        clip = h.make_avi("step.avi", "--width", "320", "--height", "240", "--frames", "4")
        with h.Avistep("step_picture") as app:
            app.choose(clip)
            app.wait_for(h.PROMPT_MONITOR)
            app.send("x")
            app.wait_for(h.PROMPT_STEP)
            app.send("s")
            app.answer("y")                 # after frame 0: the next frame
            dialog = app.next_dialog()      # waiting after frame 1
            window = app.display_window()
            h.context.screenshot("step_dialog_beside_frame_1")
            # The dialog opens beside the window; dragged over it and off again, it uncovers the
            # window, which repaints frame 1 while the program waits in the dialog.
            shown = h.context.geometry(window)
            h.context.x("xdotool", "windowmove", "--sync", str(dialog), str(shown["x"]),
                        str(shown["y"]))
            time.sleep(0.2)
            h.context.x("xdotool", "windowmove", "--sync", str(dialog), "0", "0")
            moved = h.context.geometry(dialog)
            self.assertLessEqual(moved["x"] + moved["width"], shown["x"], "dialog still covers")
            time.sleep(0.3)
            shot = h.context.screenshot("step_frame_1_uncovered", window)
            count, first = shot.differences(h.clip_frame(clip, 1, 320, 240))
            self.assertEqual(count, 0, "%d pixels differ from frame 1; first %s" % (count, first))
            self.assertEqual(h.TITLE.fullmatch(h.context.title(window)).group(4, 5), ("1", "4"))
            app.answer("Escape", dialog)    # continuous play to the end
            app.finish(self)
            self.assertEqual(app.wait_for_frame_lines(4), [0, 1, 2, 3])

    def test_white_until_a_frame_is_drawn(self):
        # No frame at all: the window opens white and stays so, with its first title.
        clip = h.make_avi("no_frames.avi", "--width", "120", "--height", "90", "--frames", "0")
        with h.Avistep("no_frames") as app:
            app.choose(clip)
            app.wait_for(h.PROMPT_MONITOR)
            app.send("x")
            app.wait_for(h.PROMPT_STEP)
            app.send("x")
            app.wait_for(h.QUIT)
            window = app.display_window()
            self.check_size_and_class(app, window, 120, 90)
            self.assertEqual(h.context.title(window), "Windows example")
            shot = h.context.screenshot("no_frames_white", window)
            self.assertEqual(shot.colours(), {WHITE})
            app.finish(self)
            self.assertEqual(app.transcript, h.report(2, (1000, 30000, 0, 90, 120),
                                                      (2, 64000, 0)) + h.PROMPT_MONITOR +
                             h.PROMPT_STEP + h.cnt_line(120, 90) + h.QUIT)

    def test_non_monitor_stays_white(self):
        clip = h.make_avi("walk.avi", "--width", "100", "--height", "70", "--frames", "15")
        with h.Avistep("non_monitor_white") as app:
            app.choose(clip)
            app.wait_for(h.PROMPT_MONITOR)
            app.send("n")
            app.wait_for(h.QUIT)
            window = app.display_window()
            self.check_size_and_class(app, window, 100, 70)
            self.check_title(app, window, clip, 15)
            shot = h.context.screenshot("non_monitor_white", window)
            self.assertEqual(shot.colours(), {WHITE})
            app.finish(self)


if __name__ == "__main__":
    h.run_tests("window")
