// Sound service: plays in-memory WAVE images, one after another.
#pragma once

#include <cstddef>

// Plays the complete WAVE image (RIFF, "fmt ", "data") of `size` bytes. Where the backend queues
// sound (SDL on Linux) it returns when at most about two frames' worth (64 ms) is still queued,
// its own end included, so that the next image joins it without a gap even after a slow frame;
// where it plays synchronously (PlaySoundA on Windows) it returns once the image has been heard,
// and the next starts after a short gap. False at once when the image is malformed or there is
// no sound device.
bool sound_play_wave(const void* wave, size_t size);
// Returns once every image played so far has been heard to its end, before the program waits
// on the user; the device stays open.
void sound_drain();
// Lets what is queued play out, then closes the device.
void sound_close();
