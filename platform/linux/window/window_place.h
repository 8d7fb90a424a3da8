// Where the SDL video window opens, and its rectangle kept for the dialogs to stay clear of.
#pragma once

#include <SDL.h>

// The client area's top-left corner for a window of this size: centred across the usable area
// and high in it, leaving room below for the dialogs.
void opening_position(int width, int height, int* x, int* y);
// Display thread: records where the window is on the screen now, frame included.
void publish_window_rect(SDL_Window* window);
// Display thread: the window is gone; dialogs may go anywhere.
void forget_window_rect();
