// Clips made by the ffmpeg command-line tool: the depth each codec decodes to, exact random access
// on a long group of pictures, and files laid out by another muxer.
#include <cstdio>
#include <string>
#include <vector>

#include "tests/linux/avi_test_clips.h"

namespace {

class AviCodecs : public avi_scratch {
protected:
    void SetUp() override
    {
        avi_scratch::SetUp();
        if (!have_ffmpeg_cli())
            GTEST_SKIP() << "the ffmpeg command-line tool is not installed";
    }

    // A moving test picture with fresh noise in every frame, so no two frames are alike.
    std::string test_source(int frames, const char* size = "96x64")
    {
        return "-f lavfi -i testsrc=size=" + std::string(size) +
               ":rate=30,noise=alls=40:allf=t -frames:v " + std::to_string(frames);
    }
};

uint64_t picture_hash(const bitmap_info_header* h)
{
    if (!h)
        return 0;
    uint64_t v = 1469598103934665603ull;
    const uint8_t* p = dib_pixels(h);
    for (uint32_t i = 0; i < h->biSizeImage; i++)
        v = (v ^ p[i]) * 1099511628211ull;
    return v;
}

struct codec_case {
    const char* name;
    const char* args;
    int bits;
};

TEST_F(AviCodecs, EachCodecDecodesToItsDepth)
{
    const codec_case cases[] = {
        {"mjpeg", "-c:v mjpeg -q:v 4", 24},
        {"msvideo1", "-c:v msvideo1", 16},
        {"cinepak", "-c:v cinepak", 24},
        {"mpeg4", "-c:v mpeg4 -g 250", 24},
        {"rgb555", "-c:v rawvideo -pix_fmt rgb555le", 16},
        {"bgra", "-c:v rawvideo -pix_fmt bgra", 32},
    };
    for (const codec_case& cc : cases) {
        SCOPED_TRACE(cc.name);
        const std::string p = ffmpeg(std::string(cc.name) + ".avi", test_source(6) + " " + cc.args);
        open_clip c(p);
        ASSERT_EQ(c.count, 1u);
        EXPECT_EQ(c.info[0].type, stream_type_video);
        EXPECT_EQ(c.info[0].length, 6u);
        EXPECT_EQ(c.info[0].frame.right, 96);
        EXPECT_EQ(c.info[0].frame.bottom, 64);
        frame_decoder_handle d(c.streams[0]);
        ASSERT_NE(d.d, nullptr);
        for (int32_t k : {0, 5, 2}) {
            const bitmap_info_header* h = avi_frame_get(d.d, k);
            ASSERT_NE(h, nullptr) << "frame " << k;
            EXPECT_EQ(h->biBitCount, cc.bits);
            EXPECT_EQ(h->biWidth, 96);
            EXPECT_EQ(h->biHeight, 64);
            EXPECT_EQ(h->biSizeImage, uint32_t(dib_row_bytes(96, cc.bits) * 64));
        }
        EXPECT_EQ(avi_frame_get(d.d, 6), nullptr);
    }
}

TEST_F(AviCodecs, SeekingOnLongGroupsOfPicturesIsExact)
{
    // A long group of pictures, and B-frames stored in decoding order with a keyframe every 50.
    const char* encodings[] = {"-c:v mpeg4 -g 250 -q:v 6", "-c:v mpeg4 -g 50 -bf 2 -q:v 6"};
    for (const char* encoding : encodings) {
        SCOPED_TRACE(encoding);
        const int32_t frames = 300;
        const std::string p = ffmpeg("gop.avi", test_source(frames, "64x48") + " " + encoding);
        open_clip c(p);
        ASSERT_EQ(c.count, 1u);
        std::vector<uint64_t> in_order;
        {
            frame_decoder_handle d(c.streams[0]);
            for (int32_t k = 0; k < frames; k++) {
                const bitmap_info_header* h = avi_frame_get(d.d, k);
                ASSERT_NE(h, nullptr) << k;
                in_order.push_back(picture_hash(h));
            }
            EXPECT_EQ(avi_frame_get(d.d, frames), nullptr);
        }
        // Every frame differs, so a wrong frame shows.
        for (int32_t k = 1; k < frames; k++)
            ASSERT_NE(in_order[k], in_order[k - 1]) << k;

        frame_decoder_handle d(c.streams[0]);
        for (int32_t k : {260, 100, 249, 250, 251, 0, 299, 150, 149, 151, 153, 40, 40, 41, 1, 48, 49})
            EXPECT_EQ(picture_hash(avi_frame_get(d.d, k)), in_order[k]) << "frame " << k;
        // Backwards over every keyframe boundary.
        for (int32_t k = frames - 1; k >= 190; k--)
            EXPECT_EQ(picture_hash(avi_frame_get(d.d, k)), in_order[k]) << "frame " << k;
    }
}

TEST_F(AviCodecs, AnotherMuxersLayoutReadsExactly)
{
    // Re-muxed by ffmpeg: raw video stored top-down, audio in its own chunking.
    test_avi_options o;
    o.width = 30;
    o.height = 11;
    o.frames = 35;
    o.audio_first = true;
    const std::string source = clip("source.avi", o);
    const std::string p =
        ffmpeg("remuxed.avi", "-i '" + source + "' -map 0 -c:v rawvideo -pix_fmt bgr24 -c:a copy");
    open_clip c(p);
    ASSERT_EQ(c.count, 2u);
    EXPECT_EQ(c.info[0].type, stream_type_audio);
    EXPECT_EQ(c.info[0].length, 35u * 1067u);
    EXPECT_EQ(c.info[1].scale, 1u);  // ffmpeg writes the reduced rate
    EXPECT_EQ(c.info[1].rate, 30u);
    frame_decoder_handle d(c.streams[1]);
    for (int32_t k : {0, 1, 34, 17, 18})
        EXPECT_TRUE(dib_matches_clip(avi_frame_get(d.d, k), k, 30, 11, 24)) << k;

    for (int32_t frame : {0, 1, 30, 34, 5}) {
        int16_t buffer[1067];
        int32_t samples = 0;
        ASSERT_EQ(avi_stream_read(c.streams[0], frame * 1067, 1067, buffer, sizeof buffer, nullptr,
                                  &samples),
                  0);
        ASSERT_EQ(samples, 1067);
        for (int32_t i = 0; i < samples; i++)
            ASSERT_EQ(buffer[i], test_sample(frame * 1067 + i)) << "frame " << frame << " sample " << i;
    }
}

TEST_F(AviCodecs, DamagedFrameGivesNoPictureAndOthersStillDecode)
{
    const std::string p = ffmpeg("mjpeg.avi", test_source(8) + " -c:v mjpeg");
    zero_video_chunk(p, 3);

    open_clip c(p);
    frame_decoder_handle d(c.streams[0]);
    EXPECT_NE(avi_frame_get(d.d, 2), nullptr);
    EXPECT_EQ(avi_frame_get(d.d, 3), nullptr);
    EXPECT_NE(avi_frame_get(d.d, 4), nullptr);
    EXPECT_EQ(avi_frame_get(d.d, 3), nullptr);
    EXPECT_NE(avi_frame_get(d.d, 7), nullptr);
}

}  // namespace
