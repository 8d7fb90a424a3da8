// The video window's rectangle on the screen, kept for the dialogs to stay clear of.
#pragma once

#include <windows.h>

// Display thread: records where the window is on the screen now, frame included.
void publish_window_rect(HWND hwnd);
// Display thread: the window is gone; dialogs may go anywhere.
void forget_window_rect();
