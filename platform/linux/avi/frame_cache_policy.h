// The frames of one video stream as packed DIBs, each decoded and converted once and then kept
// in a bounded cache, so that going back over frames already seen costs no decoding. A worker
// thread with its own demuxer and decoder (and a thread converting what it decodes, so that
// decoding and converting overlap) keeps the next frames ready while the caller walks
// forward, and when the user steps back towards the start of what is cached it fills in the
// frames before it (and after it, once stepping forward again outruns what is kept), so that
// stepping back is as quick as stepping forward. The same worker readies the cache's memory
// while the caller is away between requests.
#pragma once

#include <cstdint>

#include "platform/dib.h"

struct cached_frames;

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

// Opens a decoder for stream `stream` of the AVI file at `path`, holding about `frames` frames;
// nullptr if none can be opened.
cached_frames* cached_frames_open(const char* path, int stream, int64_t frames);
// Frame `index`, valid until the next call on `f`; nullptr if it does not exist or cannot be
// decoded.
const bitmap_info_header* cached_frames_get(cached_frames* f, int64_t index);
// Whether the caller reads the rows of the pictures it gets (it does until told otherwise). When
// not, the caller's decoder goes on ahead of it on a thread of its own and frames are given
// with their header only: no picture is converted or kept, and the worker stays idle. The cache
// is emptied either way.
void cached_frames_set_rows_wanted(cached_frames* f, bool wanted);
// Ends the worker and frees everything.
void cached_frames_close(cached_frames* f);

// Empties the cache and sets its byte budget (playing and stepping back alike) and whether the
// worker fills ahead of need; without it, a step back beyond the cache decodes a batch of frames
// before it at that moment.
void cached_frames_configure(cached_frames* f, int64_t budget, bool prefetch);
// Sets the budget the cache grows to once the user steps back (never below the playing one); it
// keeps it until requests come at playback's pace again.
void cached_frames_set_step_budget(cached_frames* f, int64_t budget);
// Returns once the worker has no fill in progress.
void cached_frames_settle(cached_frames* f);
cached_frames_stats cached_frames_get_stats(cached_frames* f);
