// The display: one window sized to the video, run by a thread of its own, showing the frames
// the playback draws into its off-screen image.
#pragma once

#include "platform/dib.h"

// Creates the window (white, client area width x height) on a new display thread and returns
// once that thread has tried; nonzero when the window exists.
int open_display(int width, int height);
// Fills the off-screen image with white.
void clear_frame();
// Keeps a copy of the frame's 40-byte header for drawing; returns the pixel rows behind it.
const void* set_frame_header(const bitmap_info_header* frame);
// Draws pixel rows described by the kept header into the off-screen image, top-left, clipped.
void draw_frame_bits(const void* pixels);
// Copies the off-screen image to the window.
void present_frame();
// Sets the window title; returns once the window shows it.
void set_display_title(const char* text);
// Brings the window to the front.
void raise_display();
// Closes the window and ends the display thread; returns once both are done.
void close_display();
// True when the user has closed the window while it was open.
bool display_closed();
