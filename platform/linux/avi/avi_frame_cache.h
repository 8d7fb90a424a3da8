// The picture cache behind a frame decoder, for tests and benchmarks that tune or inspect it.
#pragma once

#include "platform/avi_file.h"
#include "platform/linux/avi/frame_cache_policy.h"

// The decoder's cache; nullptr for no decoder.
cached_frames* avi_frame_cache(avi_frame_decoder* decoder);
