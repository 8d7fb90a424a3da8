// The picture cache behind a frame decoder, for tests and benchmarks that tune or inspect it:
// nothing here is used by the program itself.
#pragma once

#include "platform/avi_file.h"
#include "platform/linux/avi/frame_cache_policy.h"

struct cached_frames_stats {
    int64_t budget;        // bytes the cache may hold
    int64_t bytes;         // bytes it holds
    int64_t pictures;      // pictures it holds
    int64_t stored;        // decoded pictures kept, ever
    int64_t conversions;   // pictures converted to DIBs, ever
    int64_t decodes;       // frames the caller's requests decoded
    int64_t prefetches;    // fills the worker ran
    int64_t waits;         // requests that waited for the worker
};

// The decoder's cache; nullptr for no decoder.
cached_frames* avi_frame_cache(avi_frame_decoder* decoder);
// Empties the cache and sets its byte budget (playing and stepping back alike) and whether the
// worker fills ahead of need; without it, a step back beyond the cache decodes a batch of frames
// before it at that moment.
void cached_frames_configure(cached_frames* f, int64_t budget, bool prefetch);
// Sets the budget the cache grows to once the user steps back (never below the playing one); it
// keeps it until requests come at playback's pace again.
void cached_frames_set_step_budget(cached_frames* f, int64_t budget);
// Returns once the worker has no fill, and the converter no picture, in progress.
void cached_frames_settle(cached_frames* f);
cached_frames_stats cached_frames_get_stats(cached_frames* f);
