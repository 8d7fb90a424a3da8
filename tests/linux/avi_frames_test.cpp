// Decoded frames as packed DIBs: depths, row order, padding, random access.
#include <set>

#include "platform/linux/avi/avi_frame_cache.h"
#include "platform/linux/avi/colour_description.h"
#include "platform/linux/avi/ffmpeg_input.h"
#include "platform/linux/avi/frame_to_dib.h"
#include "platform/linux/avi/video_frames.h"
#include "tests/linux/avi_test_clips.h"

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace {

using AviFrames = avi_scratch;

TEST_F(AviFrames, RawClipsDecodePixelExactAtEveryDepthAndWidth)
{
    for (int bits : {8, 16, 24, 32}) {
        for (int32_t width : {1, 3, 5, 66, 67}) {
            for (bool top_down : {false, true}) {
                test_avi_options o;
                o.width = width;
                o.height = 7;
                o.frames = 3;
                o.bits = bits;
                o.top_down = top_down;
                o.audio = false;
                open_clip c(clip("a.avi", o));
                ASSERT_EQ(c.count, 1u);
                frame_decoder_handle d(c.streams[0]);
                ASSERT_NE(d.d, nullptr);
                for (int32_t k = 0; k < 3; k++)
                    EXPECT_TRUE(dib_matches_clip(avi_frame_get(d.d, k), k, width, 7, bits))
                        << bits << " bits, width " << width << (top_down ? ", top-down" : "");
            }
        }
    }
}

TEST_F(AviFrames, RandomAccessGivesTheAskedFrame)
{
    test_avi_options o;
    o.width = 21;
    o.height = 9;
    o.frames = 40;
    open_clip c(clip("a.avi", o));
    frame_decoder_handle d(c.find(stream_type_video));
    ASSERT_NE(d.d, nullptr);
    // Forward, sequential, backward, far jumps and back to the start.
    for (int32_t k : {0, 1, 2, 3, 10, 11, 39, 38, 5, 0, 20, 19, 21}) {
        const bitmap_info_header* h = avi_frame_get(d.d, k);
        EXPECT_TRUE(dib_matches_clip(h, k, 21, 9, 24)) << "frame " << k;
    }
    // The same index twice: the same picture in the same place.
    const bitmap_info_header* first = avi_frame_get(d.d, 7);
    ASSERT_TRUE(dib_matches_clip(first, 7, 21, 9, 24));
    const bitmap_info_header* again = avi_frame_get(d.d, 7);
    EXPECT_EQ(first, again);
    EXPECT_TRUE(dib_matches_clip(again, 7, 21, 9, 24));
    // Out of range, then a valid frame still decodes.
    EXPECT_EQ(avi_frame_get(d.d, -1), nullptr);
    EXPECT_EQ(avi_frame_get(d.d, 40), nullptr);
    EXPECT_EQ(avi_frame_get(d.d, INT32_MAX), nullptr);
    EXPECT_EQ(avi_frame_get(d.d, INT32_MIN), nullptr);
    EXPECT_TRUE(dib_matches_clip(avi_frame_get(d.d, 8), 8, 21, 9, 24));
    // Pictures come out of a few buffers reused across frames: as many as the cache's budget
    // holds, however many frames go by.
    const int64_t picture_block = 64 + dib_row_bytes(21, 24) * 9 + 64;
    cached_frames_configure(avi_frame_cache(d.d), 3 * picture_block, true);
    std::set<const void*> buffers;
    for (int pass = 0; pass < 2; pass++) {
        for (int32_t k = 0; k < 40; k++) {
            const bitmap_info_header* h = avi_frame_get(d.d, k);
            EXPECT_TRUE(dib_matches_clip(h, k, 21, 9, 24)) << "frame " << k;
            buffers.insert(h);
        }
    }
    EXPECT_LE(buffers.size(), 3u);
}

TEST_F(AviFrames, DroppedFramesRepeatThePictureBefore)
{
    test_avi_options o;
    o.width = 10;
    o.height = 4;
    o.frames = 8;
    o.empty_frames = {3, 4, 7};
    open_clip c(clip("a.avi", o));
    frame_decoder_handle d(c.find(stream_type_video));
    for (int pass = 0; pass < 2; pass++) {
        EXPECT_TRUE(dib_matches_clip(avi_frame_get(d.d, 2), 2, 10, 4, 24));
        EXPECT_TRUE(dib_matches_clip(avi_frame_get(d.d, 3), 2, 10, 4, 24));
        EXPECT_TRUE(dib_matches_clip(avi_frame_get(d.d, 4), 2, 10, 4, 24));
        EXPECT_TRUE(dib_matches_clip(avi_frame_get(d.d, 5), 5, 10, 4, 24));
        EXPECT_TRUE(dib_matches_clip(avi_frame_get(d.d, 7), 6, 10, 4, 24));
    }
    // Reached by a jump rather than in order.
    EXPECT_TRUE(dib_matches_clip(avi_frame_get(d.d, 0), 0, 10, 4, 24));
    EXPECT_TRUE(dib_matches_clip(avi_frame_get(d.d, 4), 2, 10, 4, 24));

    // A run of dropped frames longer than a request reads ahead of the frame it wants.
    o.frames = 60;
    o.empty_frames.clear();
    for (int32_t k = 3; k <= 40; k++)
        o.empty_frames.push_back(k);
    open_clip gap(clip("gap.avi", o));
    frame_decoder_handle g(gap.find(stream_type_video));
    for (int32_t k = 0; k < o.frames; k++)
        EXPECT_TRUE(dib_matches_clip(avi_frame_get(g.d, k), k < 3 || k > 40 ? k : 2, 10, 4, 24))
            << k;
    for (int32_t k : {35, 20, 50, 38, 1})
        EXPECT_TRUE(dib_matches_clip(avi_frame_get(g.d, k), k < 3 || k > 40 ? k : 2, 10, 4, 24))
            << k;
}

TEST_F(AviFrames, TheFrameAfterADroppedOneIsReachedByAJump)
{
    // The demuxer's seek to the frame after an empty chunk lands on the frame after that.
    test_avi_options o;
    o.width = 10;
    o.height = 4;
    o.frames = 40;
    o.empty_frames = {30};
    const std::string path = clip("a.avi", o);
    video_frames v;
    ASSERT_TRUE(video_frames_open(&v, open_avi_input(path.c_str(), false), 0, 40, 1));
    for (int64_t k : {31, 5, 31}) {
        int64_t pts = -1;
        EXPECT_NE(video_frames_decode(&v, k, &pts), nullptr) << k;
        EXPECT_EQ(pts, k);
    }
    video_frames_close(&v);
}

// Pictures of pixel formats no raw clip produces, straight into the converter.
struct synthetic_frame {
    AVFrame* f = av_frame_alloc();
    synthetic_frame(AVPixelFormat format, int w, int h)
    {
        f->format = format;
        f->width = w;
        f->height = h;
        av_frame_get_buffer(f, 0);
    }
    ~synthetic_frame() { av_frame_free(&f); }
};

TEST(FrameToDib, DepthFollowsTheSourceFormat)
{
    EXPECT_EQ(dib_bits_for(AV_PIX_FMT_RGB555LE), 16);
    EXPECT_EQ(dib_bits_for(AV_PIX_FMT_RGB565LE), 16);
    EXPECT_EQ(dib_bits_for(AV_PIX_FMT_BGR565BE), 16);
    EXPECT_EQ(dib_bits_for(AV_PIX_FMT_BGRA), 32);
    EXPECT_EQ(dib_bits_for(AV_PIX_FMT_BGR0), 32);
    EXPECT_EQ(dib_bits_for(AV_PIX_FMT_RGBA), 32);
    EXPECT_EQ(dib_bits_for(AV_PIX_FMT_ARGB), 32);
    EXPECT_EQ(dib_bits_for(AV_PIX_FMT_BGR24), 24);
    EXPECT_EQ(dib_bits_for(AV_PIX_FMT_PAL8), 24);
    EXPECT_EQ(dib_bits_for(AV_PIX_FMT_YUV420P), 24);
    EXPECT_EQ(dib_bits_for(AV_PIX_FMT_YUVJ422P), 24);
    EXPECT_EQ(dib_bits_for(AV_PIX_FMT_GBRP), 24);
    EXPECT_EQ(dib_bits_for(AV_PIX_FMT_RGB48LE), 24);
    EXPECT_EQ(dib_bits_for(AV_PIX_FMT_GRAY8), 24);
}

TEST(FrameToDib, Rgb565BecomesRgb555BottomUp)
{
    synthetic_frame src(AV_PIX_FMT_RGB565LE, 3, 2);
    // Top row pure red, bottom row pure green then white.
    const uint16_t top[3] = {0xf800, 0xf800, 0xf800};
    const uint16_t bottom[3] = {0x07e0, 0xffff, 0x001f};
    std::memcpy(src.f->data[0], top, sizeof top);
    std::memcpy(src.f->data[0] + src.f->linesize[0], bottom, sizeof bottom);
    dib_converter c;
    const bitmap_info_header* h = frame_to_dib(&c, src.f);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->biBitCount, 16);
    EXPECT_EQ(h->biHeight, 2);
    EXPECT_EQ(h->biSizeImage, 16u);  // 6 bytes per row padded to 8
    const uint8_t* p = dib_pixels(h);
    auto word = [&](int row, int x) { return uint16_t(p[row * 8 + 2 * x] | p[row * 8 + 2 * x + 1] << 8); };
    // First stored row is the picture's bottom row.
    EXPECT_EQ(word(0, 0), 0x03e0);
    EXPECT_EQ(word(0, 1), 0x7fff);
    EXPECT_EQ(word(0, 2), 0x001f);
    EXPECT_EQ(word(1, 0), 0x7c00);
    EXPECT_EQ(p[6], 0);
    EXPECT_EQ(p[7], 0);
    dib_converter_free(&c);
}

TEST(FrameToDib, YuvAndPaddedRgbTakeTheirDepths)
{
    synthetic_frame yuv(AV_PIX_FMT_YUV420P, 5, 3);
    for (int plane = 0; plane < 3; plane++)
        std::memset(yuv.f->data[plane], plane == 0 ? 235 : 128,
                    size_t(yuv.f->linesize[plane]) * (plane == 0 ? 3 : 2));
    dib_converter c;
    const bitmap_info_header* h = frame_to_dib(&c, yuv.f);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->biBitCount, 24);
    EXPECT_EQ(h->biSizeImage, 3u * 16u);  // 15 bytes per row padded to 16
    for (int i = 0; i < 15; i++)
        EXPECT_GE(dib_pixels(h)[i], 250) << i;  // video white
    EXPECT_EQ(dib_pixels(h)[15], 0);

    synthetic_frame bgr0(AV_PIX_FMT_BGR0, 5, 3);
    for (int y = 0; y < 3; y++)
        for (int x = 0; x < 5; x++) {
            uint8_t* px = bgr0.f->data[0] + y * bgr0.f->linesize[0] + 4 * x;
            px[0] = uint8_t(10 * x);
            px[1] = uint8_t(50 * y);
            px[2] = 7;
        }
    const bitmap_info_header* h32 = frame_to_dib(&c, bgr0.f);
    ASSERT_NE(h32, nullptr);
    EXPECT_EQ(h32->biBitCount, 32);
    EXPECT_EQ(h32->biSizeImage, 60u);
    const uint8_t* bottom_right = dib_pixels(h32) + 4 * 4;  // stored row 0 is picture row 2
    EXPECT_EQ(bottom_right[0], 40);
    EXPECT_EQ(bottom_right[1], 100);
    EXPECT_EQ(bottom_right[2], 7);
    dib_converter_free(&c);
}

// A decoder stores the stream's colour numbers as they stand: numbers no enumerator names convert
// as an unlabelled picture does, known ones pick their matrix and range.
TEST(FrameToDib, ColourNumbersFromTheStreamAreCheckedBeforeUse)
{
    synthetic_frame yuv(AV_PIX_FMT_YUV420P, 4, 2);
    const uint8_t planes[3] = {100, 200, 60};  // a colour the matrices disagree on
    for (int plane = 0; plane < 3; plane++)
        std::memset(yuv.f->data[plane], planes[plane], size_t(yuv.f->linesize[plane]) * 2);
    dib_converter c;
    const bitmap_info_header* h = frame_to_dib(&c, yuv.f);
    ASSERT_NE(h, nullptr);
    const std::vector<uint8_t> unlabelled(dib_pixels(h), dib_pixels(h) + h->biSizeImage);

    const int unknown_space = 216;
    const int unknown_range = 77;
    std::memcpy(&yuv.f->colorspace, &unknown_space, sizeof unknown_space);
    std::memcpy(&yuv.f->color_range, &unknown_range, sizeof unknown_range);
    EXPECT_EQ(frame_colour(yuv.f).matrix, SWS_CS_DEFAULT);
    EXPECT_FALSE(frame_colour(yuv.f).full_range);
    h = frame_to_dib(&c, yuv.f);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(dib_pixels(h), dib_pixels(h) + h->biSizeImage), unlabelled);

    yuv.f->colorspace = AVCOL_SPC_BT709;
    yuv.f->color_range = AVCOL_RANGE_JPEG;
    EXPECT_EQ(frame_colour(yuv.f).matrix, SWS_CS_ITU709);
    EXPECT_TRUE(frame_colour(yuv.f).full_range);
    h = frame_to_dib(&c, yuv.f);
    ASSERT_NE(h, nullptr);
    EXPECT_NE(std::vector<uint8_t>(dib_pixels(h), dib_pixels(h) + h->biSizeImage), unlabelled);
    dib_converter_free(&c);
}

}  // namespace
