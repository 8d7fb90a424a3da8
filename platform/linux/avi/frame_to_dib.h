// Decoded pictures to packed DIBs: a 40-byte header directly followed by bottom-up rows padded
// to 4 bytes, 16-bit RGB555 for 15/16-bit RGB pictures, 32-bit BGRA for 32-bit RGB pictures and
// 24-bit BGR for everything else.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/dib.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

struct SwsContext;

// Converts pictures, into its own buffer (reused while the picture size stays the same) or into
// blocks the caller owns.
struct dib_converter {
    SwsContext* scaler = nullptr;
    // What the scaler was made for; a new one is made only when a picture differs.
    int width = 0, height = 0, format = -1, range = -1, space = -1;
    uint8_t* block = nullptr;  // av_malloc'ed: padding, header, pixels
    size_t capacity = 0;
};

// The DIB bit depth a picture of this pixel format becomes: 16, 24 or 32.
int dib_bits_for(AVPixelFormat format);
// Bytes of the block a DIB of this picture is converted into; 0 if it cannot be converted.
size_t dib_block_bytes(const AVFrame* frame);
// Converts the picture into `block` (av_malloc'ed, at least dib_block_bytes(frame) bytes), using
// the converter's scaler; the DIB's header is inside the block. nullptr if it cannot.
const bitmap_info_header* frame_to_dib_in(dib_converter* converter, const AVFrame* frame,
                                          uint8_t* block, size_t capacity);
// Converts the picture into the converter's own buffer; nullptr if it cannot. Valid until the
// next conversion or dib_converter_free.
const bitmap_info_header* frame_to_dib(dib_converter* converter, const AVFrame* frame);
// The header of the DIB the picture converts to; false where frame_to_dib would fail for want of
// a size or a scaler.
bool frame_dib_header(const AVFrame* frame, bitmap_info_header* header);
// Puts `header` into the converter's own buffer, with room for its rows, which are left as they
// are (black in a new buffer); nullptr if the memory cannot be had. Valid as frame_to_dib's.
const bitmap_info_header* dib_without_rows(dib_converter* converter,
                                           const bitmap_info_header& header);
void dib_converter_free(dib_converter* converter);
