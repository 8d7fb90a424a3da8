#include "platform/avi_checks/avi_stream_checks.h"

namespace {

constexpr uint32_t bitmap_header_size = 40;  // BITMAPINFOHEADER
constexpr uint32_t max_colours = 256;
constexpr uint32_t bitmap_rgb = 0;  // BI_RGB

bool rgb_bit_count(uint16_t bits)
{
    return bits == 0 || bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 ||
           bits == 32;
}

}  // namespace

bool video_format_usable(const avi_raw_stream& s)
{
    if (!s.has_format || s.format_bytes < bitmap_header_size ||
        s.bitmap_header_bytes < bitmap_header_size || s.bitmap_header_bytes > s.format_bytes)
        return false;
    const int64_t width = s.bitmap_width;
    const int64_t height = s.bitmap_height < 0 ? -int64_t(s.bitmap_height) : s.bitmap_height;
    if (width <= 0 || height <= 0 || width * height > avi_max_picture_pixels)
        return false;
    // Uncompressed RGB rows are sized by the bit count, so it must be one a bitmap can have; a
    // compressed format's count is what its codec says it is (v210 stores 20), and its decoder
    // sizes its own pictures.
    if (s.bitmap_compression == bitmap_rgb && !rgb_bit_count(s.bitmap_bits))
        return false;
    // The colour table follows the header: its entries must be in the chunk.
    const uint64_t table_bytes = uint64_t(s.bitmap_colours_used) * 4;
    return s.bitmap_colours_used <= max_colours &&
           s.bitmap_header_bytes + table_bytes <= s.format_bytes;
}

bool audio_blocks_whole(const avi_raw_stream& s, const avi_chunk_counts& counts, uint32_t index)
{
    if (!s.has_format || s.wave_block_align == 0 || index >= uint32_t(avi_max_chunk_streams))
        return false;
    return counts.size_divisor[index] % s.wave_block_align == 0;
}
