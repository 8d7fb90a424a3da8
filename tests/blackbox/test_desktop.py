"""On a desktop, bare, under a window manager or on a Wayland compositor's Xwayland: the dialogs
stay clear of the picture (where the desktop places windows as asked) and take the keyboard,
keys typed into the video window work as console keys, the frame's sound has played when a
dialog opens, the terminal shows the program's own text only, a run leaves nothing in the
user's home and loads no GL, and the desktop lives through it."""

import os
import time
import unittest

import avistep_harness as h

FRAMES = 90


def intersect(a, b):
    return (a[0] < b[0] + b[2] and b[0] < a[0] + a[2] and a[1] < b[1] + b[3] and
            b[1] < a[1] + a[3])


class DesktopTest(unittest.TestCase):
    def test_step_and_interrupt_from_the_window_leave_home_empty(self):
        clip = h.make_avi("desktop.avi", "--width", "320", "--height", "240", "--frames",
                          str(FRAMES))
        home = h.context.path("home")
        os.makedirs(home)
        # As on a display where no GTK program ran yet: GDK would probe its GL visuals again.
        h.context.x("xprop", "-root", "-remove", "_GDK_VISUALS", check=False)
        with h.Avistep("desktop", home=home) as app:
            app.choose(clip)
            app.wait_for(h.PROMPT_MONITOR)
            app.send("x")
            app.wait_for(h.PROMPT_STEP)
            app.send("s")

            dialog = app.next_dialog()      # after frame 0
            window = app.display_window()
            shown, asked = h.context.outer_rect(window), h.context.outer_rect(dialog)
            h.context.screenshot("step_dialog_beside_the_window")
            if h.context.honours_positions:
                self.assertFalse(intersect(shown, asked), "the dialog %s covers the window %s"
                                 % (asked, shown))
            # The slice of frame 0 has played to its end before the dialog asks.
            slice_0 = h.clip_pcm(clip)[:h.SAMPLES_PER_FRAME]
            self.assertIsNone(h.find_slices(app.captured_samples(), [slice_0]))

            # The dialog has the keyboard: 'y' typed with no focusing answers it.
            time.sleep(0.3)
            h.context.key("y")
            app.wait_for_frame_lines(2)
            dialog = app.next_dialog()      # after frame 1
            h.context.key("Escape")
            self.assertTrue(app.window_gone(dialog, h.WAIT), "Escape did not close the dialog")

            # Playing on: a key typed into the focused video window interrupts, as in the console.
            h.context.focus_and_key(window, "k")
            interruption = app.next_dialog()
            self.assertLess(len(h.FRAME_LINE.findall(app.transcript)), FRAMES,
                            "the key in the window did not interrupt playback")
            if h.context.honours_positions:
                self.assertFalse(intersect(shown, h.context.outer_rect(interruption)))
            h.context.key("Escape")  # Cancel: playback ends
            app.wait_for(h.QUIT)
            # The dialogs draw without GL: Mesa and LLVM would take some 50 MB.
            with open("/proc/%d/maps" % app.process.pid) as maps:
                gl = sorted({line.split()[-1] for line in maps if "libGL" in line})
            self.assertEqual(gl, [], "the dialogs loaded GL")
            # "quit?" is answered in the window too.
            h.context.focus_and_key(window, "q")
            self.assertEqual(app.wait_exit(), 0)
            app.check_terminal_restored(self)
            # Nothing from the libraries: the program's own lines only, and no error output.
            rest = h.FRAME_LINE.sub("", app.transcript)
            self.assertEqual(rest, h.report(2, (1000, 30000, FRAMES, 240, 320),
                                            (2, 64000, FRAMES * h.SAMPLES_PER_FRAME)) +
                             h.PROMPT_MONITOR + h.PROMPT_STEP + h.cnt_line(320, 240) + h.QUIT)
            with open(app.stderr_path, errors="replace") as err:
                self.assertEqual(err.read(), "", "the libraries wrote to the terminal")
        self.assertTrue(h.context.desktop_alive(), "the compositor or its Xwayland ended")

        written = [os.path.join(folder, name) for folder, _, names in os.walk(home)
                   for name in names]
        self.assertEqual(written, [], "the run wrote into the home folder")

    def test_wayland_when_the_user_chooses_it(self):
        # SDL_VIDEODRIVER=wayland: the dialogs follow the window onto Wayland itself. (Only the
        # file chooser gets keys from the compositor here: SDL 2.26's Wayland keyboard crashes
        # on the keymap of every new virtual keyboard wtype makes.)
        if not hasattr(h.context.compositor, "windows"):
            self.skipTest("needs a compositor that lists Wayland windows (sway)")
        clip = h.make_avi("wayland.avi", "--width", "64", "--height", "48", "--frames", "3")
        with h.Avistep("wayland", env={"SDL_VIDEODRIVER": "wayland"}) as app:
            def wait_for_window(title):
                for _ in range(int(h.WAIT * 10)):
                    shown = h.context.compositor.windows(app.process.pid)
                    if any(title in (name or "") for name, _ in shown):
                        return shown
                    time.sleep(0.1)
                app.fail("no window titled %r on the screen" % title)

            self.assertEqual(wait_for_window(h.CHOOSER_TITLE), [(h.CHOOSER_TITLE, "xdg_shell")])
            h.context.type("/")  # the chooser has the keyboard: sway focuses new windows
            time.sleep(0.5)
            h.context.type(clip.lstrip("/"))
            time.sleep(0.1)
            h.context.key("Return")
            app.wait_for(h.PROMPT_MONITOR)
            app.send("x")
            app.wait_for(h.PROMPT_STEP)
            app.send("x")
            app.wait_for(h.QUIT)
            shown = wait_for_window("frame 2/3")
            self.assertEqual([shell for _, shell in shown], ["xdg_shell"])
            h.context.screenshot("wayland_last_frame")
            app.send("q")
            self.assertEqual(app.wait_exit(), 0)
            with open(app.stderr_path, errors="replace") as err:
                self.assertEqual(err.read(), "", "the libraries wrote to the terminal")
        self.assertTrue(h.context.desktop_alive(), "the compositor or its Xwayland ended")


if __name__ == "__main__":
    h.run_tests("desktop")
