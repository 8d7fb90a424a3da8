// The pace of continuous play when no sound device plays the slices: one slice's duration per
// frame, measured against a steady clock so the walk neither drifts nor races.
#pragma once

#include <cstdint>

struct slice_clock {
    int64_t next_ns = 0;  // the steady clock's time the next frame is due
    bool running = false;
};

// Sleeps until one slice (2134 bytes at 64000 bytes/s) after the previous call's deadline; after a
// pause longer than a slice (a dialog, a step) the clock starts again from now.
void wait_slice_time(slice_clock& clock);
