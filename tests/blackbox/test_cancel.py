"""Cancelling the file chooser: "open err", then "quit?", one key, status 0."""

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


if __name__ == "__main__":
    h.run_tests("cancel")
