// The playback routine: opens the chosen clip, reports its streams, asks for the mode, opens
// the display and walks the frames.
#pragma once

// Plays the AVI file at `path`; nullptr (no file chosen) reports an open error. The display
// window stays open on return.
void play_avi(const char* path);
