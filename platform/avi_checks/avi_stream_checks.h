// Which stored stream formats may be handed to a decoding library at all. Libraries trust these
// numbers: a zero block alignment, chunks that split blocks, or a colour table larger than its
// format have made them abort or write past their buffers. Shared by every backend.
#pragma once

#include <cstdint>

#include "platform/avi_checks/avi_chunk_count.h"
#include "platform/avi_checks/avi_headers.h"

// The largest picture any decoder is given: 64 Mpixels, the most the window service shows.
constexpr int64_t avi_max_picture_pixels = int64_t(64) << 20;

// True if the video stream's format describes a picture a decoder can be given: a bitmap header
// within its format chunk, a width above 0, a height other than 0, at most the pixels above, a
// bit count uncompressed rows can have (any for a compressed format: its decoder decides), and
// a colour table of at most 256 entries within the chunk.
bool video_format_usable(const avi_raw_stream& stream);
// True if the audio stream's stored chunks (stream `index` in `counts`) all hold whole blocks of
// its format's alignment, which must be above 0: a reader counting samples by blocks then never
// finds a sample split between two chunks.
bool audio_blocks_whole(const avi_raw_stream& stream, const avi_chunk_counts& counts,
                        uint32_t index);
