// Video frames decoded from a stream's stored chunks: through the codec manager (ICDecompress,
// with the codec the stream names) into the codec's default format, or, for frames stored as
// plain bitmaps, as stored. A frame the stream does not store anew (an empty chunk) is the one
// before it.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/dib.h"
#include "platform/win32/avi/chunk_reader.h"

struct chunk_frames;

// A decoder for the frames in `chunks` of the format `format` (the stored BITMAPINFO) and codec
// `handler` (the stream header's fccHandler); nullptr if no codec on the machine decodes it.
chunk_frames* chunk_frames_open(chunk_reader* chunks, const std::vector<uint8_t>& format,
                                uint32_t handler);
// Frame `index` as a packed DIB, valid until the next call; nullptr if it cannot be decoded.
const bitmap_info_header* chunk_frames_get(chunk_frames* frames, int64_t index);
void chunk_frames_close(chunk_frames* frames);
