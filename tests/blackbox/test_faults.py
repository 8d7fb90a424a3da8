"""Faults around the program rather than in the file: signals at any moment give the terminal
back; no display, closed dialogs and a closed window end in "quit?" and exit status 0."""

import resource
import signal
import termios
import time
import unittest

import avistep_harness as h


class FaultsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.short = h.make_avi("short.avi", "--frames", "12", "--width", "32", "--height", "24")
        cls.long = h.make_avi("long.avi", "--frames", "300", "--width", "32", "--height", "24")
        # Signals that dump core would write one per run: not wanted here.
        resource.setrlimit(resource.RLIMIT_CORE, (0, 0))

    def start_playing(self, app, clip, step=False):
        app.choose(clip)
        app.wait_for(h.PROMPT_MONITOR)
        app.send("x")
        app.wait_for(h.PROMPT_STEP)
        app.send("s" if step else "x")

    def check_killed_by(self, app, sig):
        status = app.wait_exit()
        self.assertIn(status, (-sig, 128 + sig), "ended by %s" % signal.Signals(sig).name)
        app.check_terminal_restored(self)

    def test_signals_during_playback_restore_the_terminal(self):
        for sig in (signal.SIGTERM, signal.SIGHUP, signal.SIGSEGV):
            name = signal.Signals(sig).name
            with self.subTest(name), h.Avistep("playing_" + name, capture_sound=False) as app:
                self.start_playing(app, self.long)
                app.wait_for_frame_lines(5)
                app.process.send_signal(sig)
                self.check_killed_by(app, sig)
                self.assertNotIn(h.QUIT, app.transcript)

    def test_signals_while_waiting_restore_the_terminal(self):
        # At "quit?" the terminal is in its key-reading mode (no signal keys); in a dialog the
        # main thread is inside GTK.
        with h.Avistep("quit_prompt_SIGTERM", capture_sound=False) as app:
            app.cancel_chooser()
            app.wait_for(h.QUIT)
            deadline = time.monotonic() + h.WAIT
            while app.termios_now()[3] & termios.ISIG and time.monotonic() < deadline:
                time.sleep(0.01)
            self.assertFalse(app.termios_now()[3] & termios.ISIG, "never waited for the key")
            app.process.send_signal(signal.SIGTERM)
            self.check_killed_by(app, signal.SIGTERM)
        with h.Avistep("dialog_SIGSEGV", capture_sound=False) as app:
            self.start_playing(app, self.short, step=True)
            app.next_dialog()
            app.process.send_signal(signal.SIGSEGV)
            self.check_killed_by(app, signal.SIGSEGV)

    def test_no_display_at_all(self):
        # Without a display server the file chooser cannot be shown: as if cancelled.
        plain_env = h.context.env
        for name, display, wayland in (("unset", None, None), ("unreachable", ":97.9", None),
                                       ("wayland_unreachable", None, "avistep-none"),
                                       ("both_unreachable", ":97.9", "avistep-none")):
            def env(**extra):
                values = plain_env(**extra)
                values.pop("DISPLAY")
                if display:
                    values["DISPLAY"] = display
                if wayland:
                    values["WAYLAND_DISPLAY"] = wayland
                return values
            with self.subTest(name):
                app = h.Avistep("no_display_" + name)
                h.context.env = env
                try:
                    app.start()
                finally:
                    h.context.env = plain_env
                try:
                    app.wait_for(h.QUIT)
                    self.assertEqual(app.transcript, h.OPEN_ERR + h.QUIT)
                    app.finish(self)
                finally:
                    app.close()

    def test_dialogs_closed_by_their_close_box(self):
        # The file chooser: as Cancel.
        with h.Avistep("chooser_closed") as app:
            h.context.ask_to_close(app.chooser())
            app.finish(self)
            self.assertEqual(app.transcript, h.OPEN_ERR + h.QUIT)
        # The step dialog: Cancel, continuous play to the end.
        with h.Avistep("step_dialog_closed", capture_sound=False) as app:
            self.start_playing(app, self.short, step=True)
            h.context.ask_to_close(app.next_dialog())
            app.finish(self)
            self.assertEqual(app.wait_for_frame_lines(12), list(range(12)))
        # The interruption dialog: Cancel, playback ends.
        with h.Avistep("interrupt_dialog_closed", capture_sound=False) as app:
            self.start_playing(app, self.long)
            app.wait_for_frame_lines(5)
            app.send("x")
            h.context.ask_to_close(app.next_dialog())
            app.wait_for(h.QUIT)
            self.assertLess(len(app.wait_for_frame_lines(1)), 300, "playback went on")
            self.assertEqual(app.dialog_windows(), [])
            app.finish(self)

    def test_window_closed_while_a_dialog_waits(self):
        # The main thread is in the step dialog when the window goes; the next pass ends.
        with h.Avistep("window_closed_in_dialog", capture_sound=False) as app:
            self.start_playing(app, self.short, step=True)
            dialog = app.next_dialog()
            h.context.ask_to_close(app.display_window())
            app.answer("y", dialog)
            app.finish(self)
            self.assertEqual(app.wait_for_frame_lines(1), [0])
            self.assertEqual(h.context.find_windows(class_name="^GRC0$"), [])


if __name__ == "__main__":
    h.run_tests("faults")
