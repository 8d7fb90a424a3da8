// Opening files, stream descriptions as stored in the file, and reference counting.
#include <cstdio>
#include <fstream>

#include "tests/linux/avi_test_clips.h"

namespace {

using AviStreams = avi_scratch;

TEST_F(AviStreams, DescriptionsKeepTheStoredUnreducedValues)
{
    test_avi_options o;
    o.width = 40;
    o.height = 30;
    o.frames = 9;
    o.video_scale = 1000;
    o.video_rate = 30000;
    open_clip c(clip("a.avi", o));
    ASSERT_NE(c.file, nullptr);
    ASSERT_EQ(c.count, 2u);
    EXPECT_EQ(c.info[0].type, stream_type_video);
    EXPECT_EQ(c.info[0].scale, 1000u);  // not libavformat's 1/30
    EXPECT_EQ(c.info[0].rate, 30000u);
    EXPECT_EQ(c.info[0].length, 9u);
    EXPECT_EQ(c.info[0].frame.left, 0);
    EXPECT_EQ(c.info[0].frame.top, 0);
    EXPECT_EQ(c.info[0].frame.right, 40);
    EXPECT_EQ(c.info[0].frame.bottom, 30);
    EXPECT_EQ(c.info[1].type, stream_type_audio);
    EXPECT_EQ(c.info[1].scale, 2u);
    EXPECT_EQ(c.info[1].rate, 64000u);
    EXPECT_EQ(c.info[1].length, 9u * 1067u);

    o.video_scale = 1001;
    o.frames = 3;
    open_clip ntsc(clip("b.avi", o));
    ASSERT_EQ(ntsc.count, 2u);
    EXPECT_EQ(ntsc.info[0].scale, 1001u);
    EXPECT_EQ(ntsc.info[0].rate, 30000u);
    EXPECT_EQ(ntsc.info[0].length, 3u);
}

TEST_F(AviStreams, StreamsInFileOrder)
{
    test_avi_options o;
    o.audio_first = true;
    o.frames = 5;
    open_clip two(clip("a.avi", o));
    ASSERT_EQ(two.count, 2u);
    EXPECT_EQ(two.info[0].type, stream_type_audio);
    EXPECT_EQ(two.info[0].length, 5u * 1067u);
    EXPECT_EQ(two.info[1].type, stream_type_video);
    EXPECT_EQ(two.info[1].length, 5u);

    o.third_stream = true;
    o.audio_samples = 4000;
    open_clip three(clip("b.avi", o));
    ASSERT_EQ(three.count, 3u);
    EXPECT_EQ(three.info[0].type, stream_type_audio);
    EXPECT_EQ(three.info[1].type, stream_type_video);
    EXPECT_EQ(three.info[2].type, stream_type_audio);
    EXPECT_EQ(three.info[2].length, 4000u);
    EXPECT_EQ(avi_file_get_stream(three.file, 3), nullptr);

    test_avi_options single;
    single.video = false;
    open_clip audio_only(clip("c.avi", single));
    ASSERT_EQ(audio_only.count, 1u);
    EXPECT_EQ(audio_only.info[0].type, stream_type_audio);
    EXPECT_EQ(avi_frame_open(audio_only.streams[0]), nullptr);
}

TEST_F(AviStreams, EmptyFrameRectangleTakesThePictureSize)
{
    test_avi_options o;
    o.width = 52;
    o.height = 27;
    o.frames = 2;
    o.empty_rcframe = true;
    o.top_down = true;  // the stored height is negative
    open_clip c(clip("a.avi", o));
    ASSERT_EQ(c.count, 2u);
    EXPECT_EQ(c.info[0].frame.left, 0);
    EXPECT_EQ(c.info[0].frame.top, 0);
    EXPECT_EQ(c.info[0].frame.right, 52);
    EXPECT_EQ(c.info[0].frame.bottom, 27);
    // Audio rectangles stay as stored.
    EXPECT_EQ(c.info[1].frame.right, 0);

    o.empty_rcframe = false;
    o.has_rcframe = true;
    const int16_t rect[4] = {2, 4, 50, 20};
    std::memcpy(o.rcframe, rect, sizeof rect);
    open_clip explicit_rect(clip("b.avi", o));
    EXPECT_EQ(explicit_rect.info[0].frame.left, 2);
    EXPECT_EQ(explicit_rect.info[0].frame.top, 4);
    EXPECT_EQ(explicit_rect.info[0].frame.right, 50);
    EXPECT_EQ(explicit_rect.info[0].frame.bottom, 20);
}

TEST_F(AviStreams, OpenFailuresAreReportedNotFatal)
{
    avi_file* f = reinterpret_cast<avi_file*>(&f);
    EXPECT_NE(avi_file_open(&f, nullptr), 0);
    EXPECT_EQ(f, nullptr);
    EXPECT_NE(avi_file_open(nullptr, "x.avi"), 0);
    EXPECT_NE(avi_file_open(&f, ""), 0);
    EXPECT_NE(avi_file_open(&f, path("missing.avi").c_str()), 0);
    EXPECT_NE(avi_file_open(&f, dir_.c_str()), 0);

    {
        std::ofstream text(path("text.avi"));
        text << "this is not a video file\n";
    }
    EXPECT_NE(avi_file_open(&f, path("text.avi").c_str()), 0);

    // A WAVE file is RIFF too.
    {
        std::ofstream wav(path("sound.avi"), std::ios::binary);
        const char header[] = "RIFF\x24\x00\x00\x00WAVEfmt \x10\x00\x00\x00\x01\x00\x01\x00"
                              "\x00\x7d\x00\x00\x00\xfa\x00\x00\x02\x00\x10\x00data\x00\x00\x00\x00";
        wav.write(header, sizeof header - 1);
    }
    EXPECT_NE(avi_file_open(&f, path("sound.avi").c_str()), 0);

    // Clips cut short anywhere either open or fail cleanly; whatever opens can be used.
    std::vector<uint8_t> bytes;
    test_avi_options o;
    o.frames = 3;
    ASSERT_TRUE(build_test_avi(o, &bytes));
    for (size_t cut : {size_t(8), size_t(12), size_t(100), size_t(300), bytes.size() / 2,
                       bytes.size() - 20}) {
        const std::string p = path("cut.avi");
        {
            std::ofstream out(p, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(cut));
        }
        avi_file* cut_file = nullptr;
        if (avi_file_open(&cut_file, p.c_str()) != 0) {
            EXPECT_EQ(cut_file, nullptr);
            continue;
        }
        open_clip c(p);
        for (uint32_t i = 0; i < c.count && i < 4; i++) {
            frame_decoder_handle d(c.streams[i]);
            for (int32_t k = 0; k < 4; k++)
                avi_frame_get(d.d, k);
            int16_t samples[3000];
            avi_stream_read(c.streams[i], 0, 3000, samples, sizeof samples, nullptr, nullptr);
        }
        avi_file_release(cut_file);
    }
}

TEST_F(AviStreams, VideoWithoutADecoderIsDescribedButNotDecoded)
{
    test_avi_options o;
    o.frames = 3;
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(build_test_avi(o, &bytes));
    // The video format's biCompression: a code no decoder knows.
    size_t strf = 0;
    while (strf + 4 < bytes.size() && std::memcmp(&bytes[strf], "strf", 4) != 0)
        strf++;
    ASSERT_LT(strf + 28, bytes.size());
    std::memcpy(&bytes[strf + 8 + 16], "QQ7Z", 4);
    const std::string p = path("unknown.avi");
    {
        std::ofstream out(p, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    open_clip c(p);
    ASSERT_EQ(c.count, 2u);
    EXPECT_EQ(c.info[0].type, stream_type_video);
    EXPECT_EQ(c.info[0].length, 3u);
    EXPECT_EQ(avi_frame_open(c.streams[0]), nullptr);
    int16_t s[4];
    int32_t samples = 0;
    EXPECT_EQ(avi_stream_read(c.streams[1], 5, 4, s, sizeof s, nullptr, &samples), 0);
    EXPECT_EQ(samples, 4);
    EXPECT_EQ(s[3], test_sample(8));
}

TEST_F(AviStreams, NullHandlesAreIgnored)
{
    avi_file_info fi{};
    avi_stream_info si{};
    EXPECT_NE(avi_file_get_info(nullptr, &fi), 0);
    EXPECT_EQ(avi_file_get_stream(nullptr, 0), nullptr);
    avi_stream_add_ref(nullptr);
    EXPECT_NE(avi_stream_get_info(nullptr, &si), 0);
    EXPECT_EQ(avi_frame_open(nullptr), nullptr);
    EXPECT_EQ(avi_frame_get(nullptr, 0), nullptr);
    int32_t bytes = -1, samples = -1;
    char buffer[8];
    EXPECT_NE(avi_stream_read(nullptr, 0, 4, buffer, sizeof buffer, &bytes, &samples), 0);
    EXPECT_EQ(bytes, 0);
    EXPECT_EQ(samples, 0);
    avi_frame_close(nullptr);
    avi_stream_release(nullptr);
    avi_file_release(nullptr);
}

// Every release order below must leave nothing behind (run under valgrind or ASan) and must keep
// each handle usable while anything still holds it.
TEST_F(AviStreams, StreamsAndDecodersKeepTheFileAlive)
{
    test_avi_options o;
    o.width = 8;
    o.height = 6;
    o.frames = 4;
    const std::string p = clip("a.avi", o);

    // File first: the stream still reads and decodes.
    {
        avi_file* f = nullptr;
        ASSERT_EQ(avi_file_open(&f, p.c_str()), 0);
        avi_stream* video = avi_file_get_stream(f, 0);
        avi_stream* audio = avi_file_get_stream(f, 1);
        avi_file_release(f);
        avi_file_release(f);  // a second release of the file's own reference is ignored
        avi_stream_info info{};
        EXPECT_EQ(avi_stream_get_info(video, &info), 0);
        EXPECT_EQ(info.type, stream_type_video);
        avi_frame_decoder* d = avi_frame_open(video);
        EXPECT_TRUE(dib_matches_clip(avi_frame_get(d, 2), 2, 8, 6, 24));
        avi_frame_close(d);
        int16_t s[4];
        int32_t bytes = 0;
        EXPECT_EQ(avi_stream_read(audio, 100, 4, s, sizeof s, &bytes, nullptr), 0);
        EXPECT_EQ(bytes, 8);
        EXPECT_EQ(s[0], test_sample(100));
        avi_stream_release(audio);
        avi_stream_release(video);
    }
    // Each fetch and add_ref counts: the stream lives until the last of three releases, and the
    // same index gives back the same handle while it lives.
    {
        avi_file* f = nullptr;
        ASSERT_EQ(avi_file_open(&f, p.c_str()), 0);
        avi_stream* a = avi_file_get_stream(f, 1);
        avi_stream* b = avi_file_get_stream(f, 1);
        EXPECT_EQ(a, b);
        avi_stream_add_ref(a);
        avi_stream_release(a);
        avi_stream_release(a);
        int16_t s[2];
        EXPECT_EQ(avi_stream_read(a, 0, 2, s, sizeof s, nullptr, nullptr), 0);
        EXPECT_EQ(s[1], test_sample(1));
        avi_stream_release(a);
        avi_file_release(f);
    }
    // The decoder outlives every handle it was made from.
    {
        avi_file* f = nullptr;
        ASSERT_EQ(avi_file_open(&f, p.c_str()), 0);
        avi_stream* video = avi_file_get_stream(f, 0);
        avi_frame_decoder* d = avi_frame_open(video);
        avi_stream_release(video);
        avi_file_release(f);
        EXPECT_TRUE(dib_matches_clip(avi_frame_get(d, 3), 3, 8, 6, 24));
        avi_frame_close(d);
    }
    // As the playback does it: two references per stream, two releases, the file last.
    {
        open_clip c(p);
        for (uint32_t i = 0; i < c.count; i++)
            avi_stream_add_ref(c.streams[i]);
        for (uint32_t i = 0; i < c.count; i++)
            avi_stream_release(c.streams[i]);
    }
}

}  // namespace
