// Drawing packed DIB rows into a 32-bit XRGB image (0x00RRGGBB per pixel, rows packed).
#pragma once

#include <cstdint>

#include "platform/dib.h"

// The largest DIB side and pixel block drawn; anything beyond is taken for a corrupt header.
constexpr int64_t dib_max_side = 1 << 16;
constexpr int64_t dib_max_bytes = int64_t(1) << 30;

// Bytes of pixel rows the header describes, or -1 when it is not a drawable DIB: uncompressed
// 16-bit RGB555, 24-bit BGR or 32-bit BGRX, width and height within dib_max_side, rows within
// dib_max_bytes and within biSizeImage when that is set.
int64_t dib_pixel_bytes(const bitmap_info_header& header);

// Draws the DIB at the image's top-left at its own size, clipped to the image; the rest of the
// image keeps its content. Rows are bottom-up when biHeight is positive, top-down when negative.
// Reads only the dib_pixel_bytes(header) bytes at `pixels`; an undrawable DIB draws nothing.
// Returns whether it drew.
bool dib_blit(const bitmap_info_header& header, const void* pixels, uint32_t* image,
              int image_width, int image_height);
