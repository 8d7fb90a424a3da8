// Where a dialog opens: clear of the video window whenever the screen has room for it. Shared by
// the backends; the video window's backend keeps its outer rectangle here for the dialogs.
#pragma once

// A rectangle on the screen, in pixels: top-left corner and size.
struct screen_rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// Top-left corner of a dialog of this outer size, wholly inside `area` (as far as it fits):
// just below `avoid`, else to its right, else above, else to its left, centred along that side;
// where none of them fits, the place inside `area` that covers `avoid` the least.
screen_rect place_dialog(const screen_rect& avoid, int width, int height, const screen_rect& area);

// Any thread: records the video window's outer rectangle (frame included) and its client area on
// the screen; an empty outer rectangle once the window is gone.
void set_video_window_rect(const screen_rect& outer, const screen_rect& client);
// Any thread: the rectangles last recorded (client may be null); false when there is no window.
bool video_window_rect(screen_rect* outer, screen_rect* client);
