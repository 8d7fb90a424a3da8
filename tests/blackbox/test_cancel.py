"""The file chooser: cancelled, "open err", then "quit?", one key, status 0; a file that is not an
AVI; a name typed relative to the folder it shows."""

import os
import time
import unittest

import avistep_harness as h


class CancelTest(unittest.TestCase):
    def test_escape_in_the_file_chooser(self):
        with h.Avistep("cancel") as app:
            app.cancel_chooser()
            app.wait_for(h.QUIT)
            self.assertEqual(app.transcript, h.OPEN_ERR + h.QUIT)
            # No playback window is ever opened for a cancelled choice.
            self.assertEqual(h.context.find_windows(class_name="^GRC0$"), [])
            self.assertIsNone(app.process.poll(), "the program ended before its last key")
            app.finish(self)
            self.assertEqual(app.transcript, h.OPEN_ERR + h.QUIT)

    def test_a_file_that_is_not_an_avi(self):
        with h.Avistep("not_avi") as app:
            path = h.context.path("notes.avi")
            with open(path, "w") as f:
                f.write("this is text, not a RIFF file\n")
            app.choose(path)
            # Ctrl+C at "quit?" is the last key, not an interrupt.
            app.finish(self, key="\x03")
            self.assertEqual(app.transcript, h.OPEN_ERR + h.QUIT)

    def test_a_name_typed_relative_to_the_folder_shown_opens_on_the_first_return(self):
        folder = h.context.path("clips")
        os.makedirs(folder)
        h.make_avi(os.path.join("clips", "relative.avi"), "--frames", "2")
        # Into the location bar (Ctrl+L), and straight into the file list, which starts GTK's
        # search: either way the one Return opens the file.
        for how, keys in (("location", ["ctrl+l"]), ("search", [])):
            with h.Avistep("relative_" + how, cwd=folder) as app:
                window = app.chooser()
                if keys:
                    h.context.focus_and_key(window, *keys)
                else:
                    h.context.x("xdotool", "windowfocus", "--sync", str(window))
                time.sleep(0.5)
                h.context.x("xdotool", "type", "--delay", "12", "relative.avi")
                time.sleep(0.1)
                h.context.x("xdotool", "key", "Return")
                app.wait_for(h.PROMPT_MONITOR)
                self.assertNotIn(h.OPEN_ERR, app.transcript, how)


if __name__ == "__main__":
    h.run_tests("cancel")
