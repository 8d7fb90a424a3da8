// Opening files, stream descriptions as stored in the file, and reference counting.
#include <cstdio>
#include <fstream>

#include "tests/linux/avi_test_clips.h"

namespace {

using AviStreams = avi_scratch;

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
