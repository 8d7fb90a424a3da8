// The raw header parser on clips from the test writer, and on cut or lying headers.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/avi_file.h"
#include "platform/avi_checks/avi_headers.h"
#include "tests/support/avi_writer.h"

namespace {

avi_raw_headers parse(const test_avi_options& o)
{
    std::vector<uint8_t> clip;
    EXPECT_TRUE(build_test_avi(o, &clip));
    avi_raw_headers h;
    EXPECT_TRUE(parse_avi_headers(clip.data(), clip.size(), &h));
    return h;
}

TEST(AviHeaders, VideoThenAudioAsWritten)
{
    test_avi_options o;
    o.width = 33;
    o.height = 17;
    o.frames = 12;
    o.video_scale = 1001;
    o.video_rate = 30000;
    const avi_raw_headers h = parse(o);
    EXPECT_EQ(h.stream_count, 2u);
    EXPECT_EQ(h.total_frames, 12u);
    ASSERT_EQ(h.streams.size(), 2u);
    const avi_raw_stream& v = h.streams[0];
    EXPECT_EQ(v.type, stream_type_video);
    EXPECT_EQ(v.scale, 1001u);
    EXPECT_EQ(v.rate, 30000u);
    EXPECT_EQ(v.length, 12u);
    EXPECT_EQ(v.frame[2], 33);
    EXPECT_EQ(v.frame[3], 17);
    EXPECT_EQ(v.bitmap_width, 33);
    EXPECT_EQ(v.bitmap_height, 17);
    EXPECT_EQ(v.bitmap_bits, 24);
    const avi_raw_stream& a = h.streams[1];
    EXPECT_EQ(a.type, stream_type_audio);
    EXPECT_EQ(a.scale, 2u);
    EXPECT_EQ(a.rate, 64000u);
    EXPECT_EQ(a.length, 12u * 1067u);
    EXPECT_EQ(a.sample_size, 2u);
    EXPECT_EQ(a.wave_format, 1);
    EXPECT_EQ(a.wave_channels, 1);
    EXPECT_EQ(a.wave_rate, 32000u);
    EXPECT_EQ(a.wave_block_align, 2);
}

TEST(AviHeaders, StreamOrderRectanglesAndTopDown)
{
    test_avi_options o;
    o.audio_first = true;
    o.third_stream = true;
    o.top_down = true;
    o.empty_rcframe = true;
    avi_raw_headers h = parse(o);
    ASSERT_EQ(h.streams.size(), 3u);
    EXPECT_EQ(h.streams[0].type, stream_type_audio);
    EXPECT_EQ(h.streams[1].type, stream_type_video);
    EXPECT_EQ(h.streams[2].type, stream_type_audio);
    EXPECT_EQ(h.streams[1].bitmap_height, -48);
    for (int16_t v : h.streams[1].frame)
        EXPECT_EQ(v, 0);

    o = test_avi_options{};
    o.has_rcframe = true;
    const int16_t rect[4] = {-2, 3, 30, 40};
    std::memcpy(o.rcframe, rect, sizeof rect);
    h = parse(o);
    ASSERT_EQ(h.streams.size(), 2u);
    EXPECT_EQ(0, std::memcmp(h.streams[0].frame, rect, sizeof rect));
}

TEST(AviHeaders, RejectsOtherFilesAndSurvivesCutsAndLies)
{
    avi_raw_headers h;
    const uint8_t wave[12] = {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'};
    EXPECT_FALSE(parse_avi_headers(wave, sizeof wave, &h));
    EXPECT_FALSE(parse_avi_headers(wave, 3, &h));

    std::vector<uint8_t> clip;
    ASSERT_TRUE(build_test_avi(test_avi_options{}, &clip));
    // Every prefix parses without reading past its end (checked by the sanitizers and valgrind).
    for (size_t cut = 0; cut < 400 && cut < clip.size(); cut++) {
        std::vector<uint8_t> part(clip.begin(), clip.begin() + cut);
        parse_avi_headers(part.data(), part.size(), &h);
        EXPECT_LE(h.streams.size(), 2u);
    }
    // A header list claiming 4 GB is cut to the bytes present.
    std::vector<uint8_t> lying = clip;
    lying[16] = lying[17] = lying[18] = lying[19] = 0xff;
    EXPECT_TRUE(parse_avi_headers(lying.data(), lying.size(), &h));
    EXPECT_EQ(h.streams.size(), 2u);
}

}  // namespace
