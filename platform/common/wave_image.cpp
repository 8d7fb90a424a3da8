#include "platform/common/wave_image.h"

#include <cstring>

namespace {

constexpr uint16_t format_pcm = 1;
constexpr uint16_t format_float = 3;

uint16_t read_u16(const unsigned char* p)
{
    return uint16_t(p[0] | p[1] << 8);
}

uint32_t read_u32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool is_tag(const unsigned char* p, const char* tag)
{
    return std::memcmp(p, tag, 4) == 0;
}

// The 16 bytes every "fmt " chunk starts with; extensions after them are not needed.
bool read_format(const unsigned char* p, uint32_t size, wave_image* out)
{
    if (size < 16)
        return false;
    const uint16_t tag = read_u16(p);
    const uint16_t channels = read_u16(p + 2);
    const uint32_t rate = read_u32(p + 4);
    const uint16_t block_align = read_u16(p + 12);
    const uint16_t bits = read_u16(p + 14);

    sample_encoding encoding;
    if (tag == format_pcm && bits == 8)
        encoding = sample_encoding::unsigned8;
    else if (tag == format_pcm && bits == 16)
        encoding = sample_encoding::signed16;
    else if (tag == format_pcm && bits == 32)
        encoding = sample_encoding::signed32;
    else if (tag == format_float && bits == 32)
        encoding = sample_encoding::float32;
    else
        return false;
    if (channels < 1 || channels > 8 || rate < 1000 || rate > 384000)
        return false;
    if (block_align != channels * (bits / 8))
        return false;

    out->format = {encoding, channels, rate};
    out->frame_bytes = block_align;
    return true;
}

}  // namespace

bool same_wave_format(const wave_format& a, const wave_format& b)
{
    return a.encoding == b.encoding && a.channels == b.channels && a.sample_rate == b.sample_rate;
}

bool parse_wave_image(const void* image, size_t size, wave_image* out)
{
    const auto* bytes = static_cast<const unsigned char*>(image);
    if (!bytes || size < 12 || !is_tag(bytes, "RIFF") || !is_tag(bytes + 8, "WAVE"))
        return false;
    // A RIFF size beyond the image means the image was cut short.
    const uint64_t riff_end = uint64_t(read_u32(bytes + 4)) + 8;
    if (riff_end < 12 || riff_end > size)
        return false;

    bool have_format = false;
    bool have_data = false;
    wave_image found = {};
    uint64_t pos = 12;
    while (!(have_format && have_data) && pos + 8 <= riff_end) {
        const unsigned char* chunk = bytes + pos;
        const uint32_t chunk_size = read_u32(chunk + 4);
        if (chunk_size > riff_end - pos - 8)
            return false;
        if (!have_format && is_tag(chunk, "fmt ")) {
            if (!read_format(chunk + 8, chunk_size, &found))
                return false;
            have_format = true;
        } else if (!have_data && is_tag(chunk, "data")) {
            found.samples = chunk + 8;
            found.sample_bytes = chunk_size;
            have_data = true;
        }
        // Chunks start on even offsets: an odd-sized chunk is followed by a pad byte.
        pos += 8 + uint64_t(chunk_size) + (chunk_size & 1);
    }
    if (!have_format || !have_data)
        return false;

    found.sample_bytes -= found.sample_bytes % found.frame_bytes;
    *out = found;
    return true;
}
