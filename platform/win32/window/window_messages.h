// The video window's messages that concern the rest of the program: its keys, which are console
// keys, and where it is on the screen, which the dialogs keep clear of.
#pragma once

#include <windows.h>

// Display thread: hands a key message's console key to the key queue. True when the message is
// done with; false when it still needs its default handling.
bool take_key_message(UINT message, WPARAM wparam, LPARAM lparam);
// Display thread: records the window's rectangle on the screen; an empty one once it is gone.
void publish_window_rect(HWND hwnd);
void forget_window_rect();
