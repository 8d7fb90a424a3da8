// The frames of one video stream as packed DIBs. Each frame is decoded once and kept as the
// decoder made it in a bounded cache, so that going back over frames already seen costs no
// decoding, and converted to a DIB when it is shown (the next one foreseen is converted on a
// thread of its own while the one before is shown). A worker thread with its own demuxer and
// decoder keeps the next frames ready while the caller walks forward, and when the user steps
// back towards the start of what is cached it fills in the frames before it (and after it, once
// stepping forward again outruns what is kept), so that stepping back is as quick as stepping
// forward.
#pragma once

#include <cstdint>

#include "platform/dib.h"

struct cached_frames;


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
