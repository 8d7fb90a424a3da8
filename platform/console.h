// Console service: the user's own terminal, for key-by-key input and prompt output.
#pragma once

// Prepares the console for the run: standard output written out at once on a terminal (buffered
// when redirected), keys read unechoed and unbuffered; the console is restored on every way out.
void console_open();
// Blocks for one key press, typed in the console or into the video window while it has the
// keyboard, whichever came first; both give the same codes. Plain keys give their character in
// *code and 0 in *extended; keys with no character give 0 or 224 in *code and their extended
// code in *extended. False when console input cannot be used and no window key waits. Ctrl+C is
// read as the character 3 here.
bool console_read_key(int* code, int* extended);
// True when a key press (console or window) waits to be read; never blocks, consumes nothing.
bool console_key_waiting();
