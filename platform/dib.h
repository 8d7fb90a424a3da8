// Packed device-independent bitmaps: the picture format every decoded frame arrives in.
#pragma once

#include <cstdint>

// The 40-byte bitmap header, laid out exactly as in a DIB; the pixel rows follow it directly
// (bottom-up when height is positive, each row padded to 4 bytes, no colour table).
struct bitmap_info_header {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};
static_assert(sizeof(bitmap_info_header) == 40, "a DIB header is 40 bytes");

// Bytes in one stored row: width * bits rounded up to whole 32-bit words.
inline int64_t dib_row_bytes(int64_t width, int bits)
{
    return ((width * bits + 31) / 32) * 4;
}
