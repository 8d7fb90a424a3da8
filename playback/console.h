// Console keyboard for prompts and for interrupting playback.
#pragma once

// Sets up the console for the run (see platform/console.h); call once at start.
void start_console();
// Blocks for one key and returns its character code, unechoed; a key without a character gives
// two codes, 0 or 224 now and its extended code on the next call. -1 when there is no console.
int wait_key();
// Nonzero when wait_key would return at once; consumes nothing.
int key_pending();
