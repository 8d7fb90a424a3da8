// The data a file really stores, and the formats a decoder may be given, as both backends see
// them before they call their libraries.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "platform/avi_checks/avi_chunk_count.h"
#include "platform/avi_checks/avi_stream_checks.h"
#include "platform/avi_file.h"
#include "tests/support/avi_writer.h"

namespace {

using bytes = std::vector<uint8_t>;

std::string write_scratch(const std::string& name, const bytes& data)
{
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("avi_stored_" + std::to_string(getpid()) + "_" + name))
                                 .string();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    return path;
}

size_t last_of(const bytes& data, const char* tag)
{
    for (size_t at = data.size() - 4; at > 0; at--)
        if (std::memcmp(&data[at], tag, 4) == 0)
            return at;
    return 0;
}

void put32(bytes& data, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        data[at + i] = uint8_t(v >> (8 * i));
}

TEST(AviStored, SamplesAreCountedInWholeStoredChunks)
{
    test_avi_options o;
    o.width = 8;
    o.height = 6;
    o.frames = 4;
    bytes clip;
    ASSERT_TRUE(build_test_avi(o, &clip));
    const int64_t samples = test_audio_samples(o);

    // Every idx1 entry's size says 2 GB: the index is not believed about sizes, the file is.
    bytes lying = clip;
    const size_t idx1 = last_of(lying, "idx1");
    for (size_t at = idx1 + 8; at + 16 <= lying.size(); at += 16)
        put32(lying, at + 12, 0x7fffffffu);
    // Cut in the last audio chunk, with no index: that chunk holds no sample.
    const bytes movi(clip.begin(), clip.begin() + long(idx1));
    const bytes cut(clip.begin(), clip.begin() + long(last_of(movi, "01wb") + 8 + 100));

    // The video frames before the cut are whole.
    int64_t frames_before_cut = 0;
    for (size_t at = 0; at + 4 <= cut.size(); at++)
        frames_before_cut += std::memcmp(&cut[at], "00db", 4) == 0;

    struct variant {
        const char* name;
        const bytes* data;
        int64_t frames, samples;
    };
    for (const variant& v : {variant{"as written", &clip, o.frames, samples},
                             variant{"index sizes lie", &lying, o.frames, samples},
                             variant{"cut short", &cut, frames_before_cut, samples - 1067}}) {
        SCOPED_TRACE(v.name);
        const std::string path = write_scratch("clip.avi", *v.data);
        avi_chunk_counts c;
        ASSERT_TRUE(count_stored_chunks(path.c_str(), {o.frames, 0}, &c));
        EXPECT_EQ(stored_chunks(c, true, 0, 0x7fffffff), v.frames);
        EXPECT_EQ(stored_samples(c, true, 1, 2), v.samples);
        EXPECT_EQ(c.size_divisor[1], 2134u);
        std::filesystem::remove(path);
    }

    // A file that cannot be counted holds no more than its size allows.
    const bytes text(1000, 'x');
    const std::string path = write_scratch("text.avi", text);
    avi_chunk_counts c;
    EXPECT_FALSE(count_stored_chunks(path.c_str(), {}, &c));
    EXPECT_EQ(stored_chunks(c, false, 0, 0xffffffff), 125);
    EXPECT_EQ(stored_chunks(c, false, 0, 3), 3);
    EXPECT_EQ(stored_samples(c, false, 1, 4), 250);
    EXPECT_EQ(stored_samples(c, false, 1, 0), 0);
    std::filesystem::remove(path);
}

TEST(AviStored, FormatsADecoderCannotBeGivenAreRefused)
{
    avi_raw_stream v;
    v.type = stream_type_video;
    v.has_format = true;
    v.format_bytes = 40;
    v.bitmap_header_bytes = 40;
    v.bitmap_width = 64;
    v.bitmap_height = -48;
    v.bitmap_bits = 24;
    EXPECT_TRUE(video_format_usable(v));

    auto refused = [&](auto change) {
        avi_raw_stream s = v;
        change(s);
        return !video_format_usable(s);
    };
    EXPECT_TRUE(refused([](avi_raw_stream& s) { s.has_format = false; }));
    EXPECT_TRUE(refused([](avi_raw_stream& s) { s.format_bytes = 39; }));
    EXPECT_TRUE(refused([](avi_raw_stream& s) { s.bitmap_header_bytes = 0x7fffffff; }));
    EXPECT_TRUE(refused([](avi_raw_stream& s) { s.bitmap_width = 0; }));
    EXPECT_TRUE(refused([](avi_raw_stream& s) { s.bitmap_width = -64; }));
    EXPECT_TRUE(refused([](avi_raw_stream& s) { s.bitmap_height = 0; }));
    EXPECT_TRUE(refused([](avi_raw_stream& s) { s.bitmap_width = s.bitmap_height = 0x7fffffff; }));
    EXPECT_TRUE(refused([](avi_raw_stream& s) { s.bitmap_bits = 7; }));
    EXPECT_TRUE(refused([](avi_raw_stream& s) { s.bitmap_bits = 20; }));
    // A compressed format's bit count is its codec's business: 10-bit 4:2:2 (v210) stores 20.
    EXPECT_FALSE(refused([](avi_raw_stream& s) {
        s.bitmap_compression = 0x30313276;  // "v210"
        s.bitmap_bits = 20;
    }));
    // Colour counts: the table must be in the format, and hold at most 256 colours.
    EXPECT_TRUE(refused([](avi_raw_stream& s) { s.bitmap_colours_used = 1; }));
    EXPECT_TRUE(refused([](avi_raw_stream& s) { s.bitmap_colours_used = 0xffffffff; }));
    EXPECT_TRUE(refused([](avi_raw_stream& s) {
        s.bitmap_colours_used = 257;
        s.format_bytes = 40 + 257 * 4;
    }));
    EXPECT_FALSE(refused([](avi_raw_stream& s) {
        s.bitmap_bits = 8;
        s.bitmap_colours_used = 256;
        s.format_bytes = 40 + 256 * 4;
    }));
    // 8000 x 8000 (64 Mpixels) is the largest picture given to a decoder.
    EXPECT_FALSE(refused([](avi_raw_stream& s) { s.bitmap_width = s.bitmap_height = 8192; }));
    EXPECT_TRUE(refused([](avi_raw_stream& s) { s.bitmap_width = 8193, s.bitmap_height = 8192; }));

    // Audio: chunks of 2134 bytes are whole blocks of 1 or 2 bytes, not of 0, 3 or 4.
    avi_chunk_counts counts;
    counts.size_divisor[1] = 2134;
    avi_raw_stream a;
    a.type = stream_type_audio;
    a.has_format = true;
    for (uint16_t align : {0, 1, 2, 3, 4}) {
        a.wave_block_align = align;
        EXPECT_EQ(audio_blocks_whole(a, counts, 1), align == 1 || align == 2) << align;
    }
    a.wave_block_align = 2;
    EXPECT_FALSE(audio_blocks_whole(a, counts, 100));
}

}  // namespace
