// The display server shared by the video window (SDL2) and the dialogs (GTK 3): on a desktop
// that offers both X11 (Xwayland) and Wayland, the two toolkits would otherwise pick different
// ones, and the dialogs could neither take the keyboard from nor be placed beside the window.
#pragma once

// "x11" or "wayland" (the name both SDL and GDK use) from the values of SDL_VIDEODRIVER,
// GDK_BACKEND, DISPLAY and WAYLAND_DISPLAY (null when unset); null to leave both toolkits alone.
const char* choose_display_server(const char* sdl_driver, const char* gdk_backend,
                                  const char* x11_display, const char* wayland_display);
// The choice for the environment as it is now.
const char* display_server();
