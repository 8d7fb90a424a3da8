// Keys typed into an SDL window turned into the codes the console gives for the same keys
// (see platform/console.h and key_decode.h): what a terminal would have sent for them.
#pragma once

#include <SDL.h>

#include <functional>

// Calls `key` with the codes of every console key in the event: a key press without a character
// (Return, Escape, arrows, function keys, Ctrl+letter) or the characters of a text event. Other
// events, and modifier keys alone, give none.
void sdl_event_keys(const SDL_Event& event, const std::function<void(int, int)>& key);
