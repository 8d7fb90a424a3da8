// Reading WAVE images: the frame slice and other valid layouts, and every malformed or cut-short
// image refused without a read past its end (each parse gets a heap block of exactly its size,
// so an address-sanitizer build catches any overrun).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/common/wave_image.h"

namespace {

using bytes = std::vector<unsigned char>;

void append_le(bytes& b, uint32_t v, int size)
{
    for (int i = 0; i < size; i++)
        b.push_back(uint8_t(v >> (8 * i)));
}

// A chunk with its pad byte when the size is odd; `declared` overrides the size field.
bytes chunk(const char* id, const bytes& body, int64_t declared = -1)
{
    bytes b(id, id + 4);
    append_le(b, declared >= 0 ? uint32_t(declared) : uint32_t(body.size()), 4);
    b.insert(b.end(), body.begin(), body.end());
    if (body.size() % 2)
        b.push_back(0);
    return b;
}

bytes fmt(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits, int align = -1)
{
    align = align >= 0 ? align : channels * bits / 8;
    bytes b;
    for (auto [value, size] : {std::pair<uint32_t, int>{tag, 2}, {channels, 2}, {rate, 4},
                               {rate * align, 4}, {align, 2}, {bits, 2}})
        append_le(b, value, size);
    return b;
}

bytes riff(const std::vector<bytes>& chunks, int64_t declared = -1)
{
    bytes body = {'W', 'A', 'V', 'E'};
    for (const bytes& c : chunks)
        body.insert(body.end(), c.begin(), c.end());
    return chunk("RIFF", body, declared);
}

bytes numbered(size_t count)
{
    bytes b(count);
    for (size_t i = 0; i < count; i++)
        b[i] = uint8_t(i * 7 + 1);
    return b;
}

// Parses the first `size` bytes from a heap block of exactly that size; the data offset is -1
// when the image is refused.
std::pair<wave_image, ptrdiff_t> parse_exact(const bytes& image, size_t size)
{
    auto block = std::make_unique<unsigned char[]>(size);
    std::memcpy(block.get(), image.data(), size);
    wave_image out = {};
    if (!parse_wave_image(block.get(), size, &out))
        return {out, -1};
    return {out, out.samples - block.get()};
}

std::pair<wave_image, ptrdiff_t> parse_exact(const bytes& image)
{
    return parse_exact(image, image.size());
}

// The frame loop's slice: the fixed 44-byte header and 2134 bytes of 16-bit mono PCM.
bytes frame_slice()
{
    bytes b = {0x52, 0x49, 0x46, 0x46, 0x7A, 0x08, 0x00, 0x00, 0x57, 0x41, 0x56, 0x45,
               0x66, 0x6D, 0x74, 0x20, 0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00,
               0x00, 0x7D, 0x00, 0x00, 0x00, 0xFA, 0x00, 0x00, 0x02, 0x00, 0x10, 0x00,
               0x64, 0x61, 0x74, 0x61, 0x56, 0x08, 0x00, 0x00};
    const bytes samples = numbered(2134);
    b.insert(b.end(), samples.begin(), samples.end());
    return b;
}

// fmt, an odd-sized unknown chunk, a LIST chunk, then data: 12 + 24 + 14 + 34 + 8 = 92.
bytes image_with_extra_chunks()
{
    return riff({chunk("fmt ", fmt(1, 2, 44100, 16)), chunk("junk", numbered(5)),
                 chunk("LIST", numbered(26)), chunk("data", numbered(400))});
}

TEST(wave_image, valid_layouts_locate_format_and_samples)
{
    auto [slice, slice_offset] = parse_exact(frame_slice());
    EXPECT_EQ(slice.format.encoding, sample_encoding::signed16);
    EXPECT_EQ(slice.format.channels, 1);
    EXPECT_EQ(slice.format.sample_rate, 32000u);
    EXPECT_EQ(slice_offset, 44);
    EXPECT_EQ(slice.sample_bytes, 2134u);

    auto [extra, extra_offset] = parse_exact(image_with_extra_chunks());
    EXPECT_EQ(extra.format.channels, 2);
    EXPECT_EQ(extra_offset, 92);
    EXPECT_EQ(extra.sample_bytes, 400u);

    // An odd-sized extended format chunk, and a chunk after the data.
    bytes extended = fmt(1, 1, 8000, 8);
    extended.insert(extended.end(), {0, 0, 0xEE});
    auto [odd, odd_offset] = parse_exact(
        riff({chunk("fmt ", extended), chunk("data", numbered(9)), chunk("LIST", numbered(3))}));
    EXPECT_EQ(odd.format.encoding, sample_encoding::unsigned8);
    EXPECT_EQ(odd_offset, 12 + 8 + 20 + 8);
    EXPECT_EQ(odd.sample_bytes, 9u);
}

TEST(wave_image, playable_encodings_keep_whole_frames_only)
{
    struct {
        uint16_t tag, channels, bits;
        sample_encoding encoding;
    } cases[] = {{1, 2, 8, sample_encoding::unsigned8}, {1, 1, 16, sample_encoding::signed16},
                 {1, 8, 32, sample_encoding::signed32}, {3, 6, 32, sample_encoding::float32}};
    for (const auto& c : cases) {
        auto [image, offset] = parse_exact(riff(
            {chunk("fmt ", fmt(c.tag, c.channels, 48000, c.bits)), chunk("data", numbered(1000))}));
        ASSERT_GE(offset, 0) << c.tag << "/" << c.bits;
        EXPECT_EQ(image.format.encoding, c.encoding);
        EXPECT_EQ(image.frame_bytes, c.channels * c.bits / 8);
        // A partial frame at the end is left out, so the next image stays frame-aligned.
        EXPECT_EQ(image.sample_bytes, 1000u - 1000u % image.frame_bytes);
    }
}

TEST(wave_image, every_cut_short_image_is_refused)
{
    for (const bytes& image : {frame_slice(), image_with_extra_chunks()})
        for (size_t size = 0; size < image.size(); size++)
            EXPECT_EQ(parse_exact(image, size).second, -1) << "cut at " << size;
}

TEST(wave_image, malformed_or_unplayable_images_are_refused)
{
    const bytes pcm = fmt(1, 1, 32000, 16);
    const bytes data = numbered(100);
    bytes not_wave = riff({chunk("fmt ", pcm), chunk("data", data)});
    not_wave[8] = 'A';
    const std::pair<std::string, bytes> cases[] = {
        // The data chunk declaring more than the image holds is refused, not clamped.
        {"data one byte over", riff({chunk("fmt ", pcm), chunk("data", data, 101)})},
        {"data size 0xFFFFFFFF", riff({chunk("fmt ", pcm), chunk("data", data, 0xFFFFFFFF)})},
        {"LIST past the end",
         riff({chunk("fmt ", pcm), chunk("LIST", data, 5000), chunk("data", data)})},
        {"fmt past the end", riff({chunk("fmt ", pcm, 0xFFFFFFF0), chunk("data", data)})},
        {"RIFF size past the end", riff({chunk("fmt ", pcm), chunk("data", data)}, 1000)},
        {"RIFF size short of its chunks", riff({chunk("fmt ", pcm), chunk("data", data)}, 40)},
        {"no fmt", riff({chunk("LIST", numbered(8)), chunk("data", data)})},
        {"no data", riff({chunk("fmt ", pcm), chunk("LIST", numbered(8))})},
        {"not WAVE", not_wave},
        {"ADPCM", riff({chunk("fmt ", fmt(2, 1, 32000, 4, 256)), chunk("data", data)})},
        {"24-bit", riff({chunk("fmt ", fmt(1, 1, 32000, 24)), chunk("data", data)})},
        {"extensible", riff({chunk("fmt ", fmt(0xFFFE, 2, 32000, 16)), chunk("data", data)})},
        {"9 channels", riff({chunk("fmt ", fmt(1, 9, 32000, 16)), chunk("data", data)})},
        {"rate 999", riff({chunk("fmt ", fmt(1, 1, 999, 16)), chunk("data", data)})},
        {"block align off", riff({chunk("fmt ", fmt(1, 2, 32000, 16, 2)), chunk("data", data)})},
        {"fmt of 14 bytes",
         riff({chunk("fmt ", bytes(pcm.begin(), pcm.end() - 2)), chunk("data", data)})},
    };
    for (const auto& [name, image] : cases)
        EXPECT_EQ(parse_exact(image).second, -1) << name;
}

}  // namespace
