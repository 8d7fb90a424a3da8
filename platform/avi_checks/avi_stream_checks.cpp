#include "platform/avi_checks/avi_stream_checks.h"

namespace {

constexpr uint32_t bitmap_header_size = 40;  // BITMAPINFOHEADER
constexpr uint32_t max_colours = 256;

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
    switch (s.bitmap_bits) {
    case 0:  // set by some compressed formats: the codec decides
    case 1:
    case 4:
    case 8:
    case 12:
    case 16:
    case 24:
    case 32:
        break;
    default:
        return false;
    }
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
