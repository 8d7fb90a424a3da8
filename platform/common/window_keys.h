// Keys typed into the video window, read as console keys: the window's backend hands them in as
// they are typed, the console's backend gives them out between its own keys in typed order.
// Shared by the backends.
#pragma once

#include <cstdint>

// Display thread: a key typed into the video window, as console codes (see platform/console.h).
// It goes after every console key already typed, whether read yet or not.
void window_key_typed(int code, int extended);
// Takes the oldest window key when it was typed before the console key that starts at console
// input position `next_console_key`; false when there is none such.
bool take_window_key(uint64_t next_console_key, int* code, int* extended);
// True when a window key waits; consumes nothing.
bool window_key_waiting();

// Supplied by the console's backend, any thread: how many units of console input (bytes, input
// events) have been typed so far, read or not.
uint64_t console_input_mark();
