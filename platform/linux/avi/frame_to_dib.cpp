#include "platform/linux/avi/frame_to_dib.h"

#include "platform/linux/avi/colour_description.h"

#include <climits>
#include <cstring>

extern "C" {
#include <libavutil/mem.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace {

// The pixel rows start at this offset in the block, 64-byte aligned for the scaler's vector
// code; the header sits just before them.
constexpr size_t pixels_offset = 64;
constexpr size_t header_offset = pixels_offset - sizeof(bitmap_info_header);
// Room after the last row in case a vector loop writes a little past the picture.
constexpr size_t tail_slack = 64;

AVPixelFormat dib_format_for(int bits)
{
    switch (bits) {
    case 16:
        return AV_PIX_FMT_RGB555LE;  // the DIB's x1r5g5b5 word
    case 32:
        return AV_PIX_FMT_BGRA;
    default:
        return AV_PIX_FMT_BGR24;
    }
}

bool is_full_range_format(AVPixelFormat f)
{
    return f == AV_PIX_FMT_YUVJ420P || f == AV_PIX_FMT_YUVJ422P || f == AV_PIX_FMT_YUVJ444P ||
           f == AV_PIX_FMT_YUVJ440P || f == AV_PIX_FMT_YUVJ411P;
}

// Keeps one scaler per picture geometry and colour description. (sws_getCachedContext would
// remake it for every picture: the scaler adjusts its own flags, which then never match.)
bool prepare_scaler(dib_converter* c, const AVFrame* frame, AVPixelFormat target)
{
    const AVPixelFormat source = AVPixelFormat(frame->format);
    const colour_description colour = frame_colour(frame);
    const int range = colour.full_range || is_full_range_format(source);
    const int space = colour.matrix;
    if (c->scaler && c->width == frame->width && c->height == frame->height &&
        c->format == frame->format && c->range == range && c->space == space)
        return true;
    sws_freeContext(c->scaler);
    c->scaler = sws_getContext(frame->width, frame->height, source, frame->width, frame->height,
                               target, SWS_POINT, nullptr, nullptr, nullptr);
    c->format = -1;
    if (!c->scaler)
        return false;
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(source);
    if (!(d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) && d->nb_components >= 3) {
        // YUV pictures: their own matrix and range, to full-range RGB.
        const int* matrix = sws_getCoefficients(space);
        sws_setColorspaceDetails(c->scaler, matrix, range, matrix, 1, 0, 1 << 16, 1 << 16);
    }
    c->width = frame->width;
    c->height = frame->height;
    c->format = frame->format;
    c->range = range;
    c->space = space;
    return true;
}

// A block's size for a DIB whose rows take `image` bytes.
size_t block_bytes_for(int64_t image)
{
    return pixels_offset + size_t(image) + tail_slack;
}

bitmap_info_header dib_header(int w, int h, int bits)
{
    bitmap_info_header header{};
    header.biSize = sizeof(bitmap_info_header);
    header.biWidth = w;
    header.biHeight = h;
    header.biPlanes = 1;
    header.biBitCount = uint16_t(bits);
    header.biCompression = 0;
    header.biSizeImage = uint32_t(dib_row_bytes(w, bits) * h);
    return header;
}

const bitmap_info_header* place_header(uint8_t* block, const bitmap_info_header& header)
{
    std::memcpy(block + header_offset, &header, sizeof header);
    return reinterpret_cast<const bitmap_info_header*>(block + header_offset);
}

// The converter's own buffer with room for `needed` bytes; a new one starts out zeroed, so rows
// never converted into read as black rather than as stale memory.
uint8_t* own_block(dib_converter* c, size_t needed)
{
    if (needed > c->capacity) {
        av_free(c->block);
        c->block = static_cast<uint8_t*>(av_mallocz(needed));
        c->capacity = c->block ? needed : 0;
    }
    return c->block;
}

}  // namespace

int dib_bits_for(AVPixelFormat format)
{
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
    if (!d || !(d->flags & AV_PIX_FMT_FLAG_RGB) || (d->flags & (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_PLANAR)) ||
        d->nb_components < 3)
        return 24;
    const int bits = av_get_bits_per_pixel(d);
    if (bits == 15 || bits == 16)
        return 16;
    if (av_get_padded_bits_per_pixel(d) == 32 && d->comp[0].depth == 8)
        return 32;
    return 24;
}

size_t dib_block_bytes(const AVFrame* frame)
{
    const int w = frame->width;
    const int h = frame->height;
    if (w <= 0 || h <= 0 || !frame->data[0] || !av_pix_fmt_desc_get(AVPixelFormat(frame->format)))
        return 0;
    const int64_t image = dib_row_bytes(w, dib_bits_for(AVPixelFormat(frame->format))) * h;
    if (image > INT32_MAX)
        return 0;
    return block_bytes_for(image);
}

const bitmap_info_header* frame_to_dib_in(dib_converter* c, const AVFrame* frame, uint8_t* block,
                                          size_t capacity)
{
    const size_t needed = dib_block_bytes(frame);
    if (needed == 0 || !block || capacity < needed)
        return nullptr;
    const int w = frame->width;
    const int h = frame->height;
    const int bits = dib_bits_for(AVPixelFormat(frame->format));
    const int64_t row = dib_row_bytes(w, bits);
    if (!prepare_scaler(c, frame, dib_format_for(bits)))
        return nullptr;

    uint8_t* pixels = block + pixels_offset;
    // Writing the top picture line into the last stored row, with a negative stride, turns the
    // picture bottom-up in the same pass as the conversion.
    uint8_t* const dst[4] = {pixels + (h - 1) * row, nullptr, nullptr, nullptr};
    const int dst_stride[4] = {-int(row), 0, 0, 0};
    if (sws_scale(c->scaler, frame->data, frame->linesize, 0, h, dst, dst_stride) != h)
        return nullptr;
    if (row > int64_t(w) * bits / 8) {
        // Row padding is part of the image the caller copies; keep it deterministic.
        const int64_t used = int64_t(w) * bits / 8;
        for (int y = 0; y < h; y++)
            std::memset(pixels + y * row + used, 0, size_t(row - used));
    }

    return place_header(block, dib_header(w, h, bits));
}

const bitmap_info_header* frame_to_dib(dib_converter* c, const AVFrame* frame)
{
    const size_t needed = dib_block_bytes(frame);
    uint8_t* block = needed ? own_block(c, needed) : nullptr;
    return block ? frame_to_dib_in(c, frame, block, c->capacity) : nullptr;
}

bool frame_dib_header(const AVFrame* frame, bitmap_info_header* header)
{
    if (dib_block_bytes(frame) == 0 || !sws_isSupportedInput(AVPixelFormat(frame->format)))
        return false;
    *header = dib_header(frame->width, frame->height, dib_bits_for(AVPixelFormat(frame->format)));
    return true;
}

const bitmap_info_header* dib_without_rows(dib_converter* c, const bitmap_info_header& header)
{
    uint8_t* block = own_block(c, block_bytes_for(header.biSizeImage));
    return block ? place_header(block, header) : nullptr;
}

void dib_converter_free(dib_converter* c)
{
    sws_freeContext(c->scaler);
    av_free(c->block);
    *c = dib_converter{};
}
