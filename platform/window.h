// Window service: one top-level window showing an off-screen image. The display thread creates
// it and runs its events; the main thread draws into the image and asks for the rest.
#pragma once

#include "platform/dib.h"

struct window_handle;

// Display thread: creates the visible window, client area width x height, not resizable, with
// a white off-screen image of that size; nullptr when it cannot.
window_handle* window_create(int width, int height, const char* class_name, const char* title);
// Display thread: handles the window's events, repainting from the off-screen image, until the
// window is closed (by window_close or by the user); the window is destroyed on return.
void window_run(window_handle* window);
// Frees the handle once window_run has returned.
void window_free(window_handle* window);

// Main thread: fills the off-screen image with white.
void window_clear(window_handle* window);
// Main thread: draws a 16, 24 or 32-bit DIB at the image's top-left, at the DIB's own size,
// clipped to the image.
void window_draw_dib(window_handle* window, const bitmap_info_header* header, const void* pixels);
// Main thread: copies the off-screen image to the window.
void window_present(window_handle* window);
// Main thread: sets the window's title; returns once the window shows it.
void window_set_title(window_handle* window, const char* title);
// Main thread: brings the window to the front.
void window_raise(window_handle* window);
// Main thread: asks the window to close; returns once the display thread has closed it.
void window_close(window_handle* window);
// Main thread: true once the window has been closed, by the user or by window_close.
bool window_closed(window_handle* window);
