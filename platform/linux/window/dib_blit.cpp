#include "platform/linux/window/dib_blit.h"

#include <algorithm>

namespace {

constexpr uint32_t bi_rgb = 0;

uint32_t xrgb(uint32_t r, uint32_t g, uint32_t b)
{
    return r << 16 | g << 8 | b;
}

// 5-bit channels are widened by repeating their top bits, so 0x1F becomes 0xFF (pure white).
uint32_t widen5(uint32_t v)
{
    return v << 3 | v >> 2;
}

void copy_row_16(const unsigned char* src, uint32_t* dst, int count)
{
    for (int x = 0; x < count; ++x, src += 2) {
        uint32_t v = uint32_t(src[0]) | uint32_t(src[1]) << 8;
        dst[x] = xrgb(widen5(v >> 10 & 0x1F), widen5(v >> 5 & 0x1F), widen5(v & 0x1F));
    }
}

void copy_row_24(const unsigned char* src, uint32_t* dst, int count)
{
    for (int x = 0; x < count; ++x, src += 3)
        dst[x] = xrgb(src[2], src[1], src[0]);
}

void copy_row_32(const unsigned char* src, uint32_t* dst, int count)
{
    for (int x = 0; x < count; ++x, src += 4)
        dst[x] = xrgb(src[2], src[1], src[0]);
}

}  // namespace

int64_t dib_pixel_bytes(const bitmap_info_header& header)
{
    int bits = header.biBitCount;
    if (header.biCompression != bi_rgb || (bits != 16 && bits != 24 && bits != 32))
        return -1;
    int64_t width = header.biWidth;
    int64_t height = header.biHeight < 0 ? -int64_t(header.biHeight) : int64_t(header.biHeight);
    if (width <= 0 || height == 0 || width > dib_max_side || height > dib_max_side)
        return -1;
    int64_t bytes = dib_row_bytes(width, bits) * height;
    if (bytes > dib_max_bytes)
        return -1;
    // A stated image size smaller than the rows means the buffer behind may be that short.
    if (header.biSizeImage != 0 && header.biSizeImage < bytes)
        return -1;
    return bytes;
}

bool dib_blit(const bitmap_info_header& header, const void* pixels, uint32_t* image,
              int image_width, int image_height)
{
    if (!pixels || !image || image_width <= 0 || image_height <= 0 || dib_pixel_bytes(header) < 0)
        return false;
    int64_t height = header.biHeight < 0 ? -int64_t(header.biHeight) : int64_t(header.biHeight);
    bool bottom_up = header.biHeight > 0;
    int64_t row_bytes = dib_row_bytes(header.biWidth, header.biBitCount);
    int columns = int(std::min<int64_t>(header.biWidth, image_width));
    int rows = int(std::min<int64_t>(height, image_height));
    auto* base = static_cast<const unsigned char*>(pixels);
    for (int y = 0; y < rows; ++y) {
        int64_t stored = bottom_up ? height - 1 - y : y;
        const unsigned char* src = base + stored * row_bytes;
        uint32_t* dst = image + int64_t(y) * image_width;
        switch (header.biBitCount) {
        case 16: copy_row_16(src, dst, columns); break;
        case 24: copy_row_24(src, dst, columns); break;
        default: copy_row_32(src, dst, columns); break;
        }
    }
    return true;
}
