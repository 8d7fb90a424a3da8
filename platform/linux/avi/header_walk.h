// Frames described without their rows, for a walk that shows no pictures: a thread of its own
// decodes the frames after the one asked for, so that decoding goes on while the caller reports
// the frame (its title waits for the display thread) instead of waiting for it.
#pragma once

#include <cstdint>

#include "platform/dib.h"
#include "platform/linux/avi/video_frames.h"

struct header_walk;

// Starts the thread on `frames`, a stream of `limit` frames, which the thread alone uses until
// header_walk_stop: the walk needs no decoder of its own.
header_walk* header_walk_start(video_frames* frames, int64_t limit);
// The header of the DIB frame `index` decodes to, with the rows of that DIB left as they are:
// valid until the next call on `w`. nullptr if the frame does not exist or cannot be decoded.
// Going on from the frame asked for last is what the thread prepares; any other frame is decoded
// from where it is.
const bitmap_info_header* header_walk_get(header_walk* w, int64_t index);
// Ends the thread and frees what it holds; the decoder is the caller's again. Null is ignored.
void header_walk_stop(header_walk* w);
