// The picture cache behind avi_frame_get: the store's budget and choice of what goes, then
// through the service, pictures from the cache against fresh decodes on walks both ways across
// keyframes, the worker's fills, large pictures, the conversions of the pictures shown and the
// lifetime of the picture handed out.
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/linux/avi/avi_frame_cache.h"
#include "platform/linux/avi/frame_cache_store.h"
#include "tests/linux/avi_test_clips.h"

namespace {

// ---- the store on its own ----

// A stand-in decoded picture: the store charges what it is told, and keeps its own reference.
struct test_frame {
    AVFrame* frame = av_frame_alloc();
    test_frame()
    {
        frame->format = AV_PIX_FMT_GRAY8;
        frame->width = frame->height = 8;
        av_frame_get_buffer(frame, 0);
    }
    ~test_frame() { av_frame_free(&frame); }
};

void publish(frame_cache* c, int slot, int64_t index)
{
    test_frame t;
    ASSERT_TRUE(frame_cache_publish(c, slot, t.frame, index, index));
}

// Reserves a slot for frame `index` at position `index` and publishes it; the slot, or -1.
int put(frame_cache* c, int64_t index, size_t bytes, bool grow = true)
{
    c->position = index;
    const int slot = frame_cache_reserve(c, index, bytes, grow, false);
    if (slot >= 0)
        publish(c, slot, index);
    return slot;
}

struct store {
    frame_cache c;
    explicit store(int64_t budget) { frame_cache_init(&c, budget, 100); }
    ~store() { frame_cache_free(&c); }
};

TEST(FrameCache, BudgetBoundsTheBlocksAndTheFarthestPictureGoes)
{
    store s(10000);  // three pictures of 3000 bytes
    EXPECT_EQ(frame_cache_capacity(&s.c, 3000), 3);
    for (int64_t k = 0; k < 3; k++)
        ASSERT_GE(put(&s.c, k, 3000), 0);
    EXPECT_EQ(s.c.blocks, 3);
    EXPECT_FALSE(frame_cache_has_room(&s.c, 3000));

    // Full: frame 3 takes the place of frame 0, the farthest from it.
    const int slot0 = frame_cache_find(&s.c, 0);
    EXPECT_EQ(put(&s.c, 3, 3000), slot0);
    EXPECT_EQ(frame_cache_find(&s.c, 0), -1);
    EXPECT_GE(frame_cache_find(&s.c, 1), 0);
    EXPECT_GE(frame_cache_find(&s.c, 2), 0);
    EXPECT_EQ(s.c.blocks, 3);
    EXPECT_LE(s.c.bytes, s.c.budget);

    // Back at frame 1, a fill may bring frame 0 only at the expense of something farther (3),
    // and at frame 2 not at all: everything cached is nearer than frame 0.
    s.c.position = 1;
    const int slot3 = frame_cache_find(&s.c, 3);
    const int fill = frame_cache_reserve(&s.c, 0, 3000, true, true);
    EXPECT_EQ(fill, slot3);
    frame_cache_abandon(&s.c, fill);
    put(&s.c, 3, 3000);
    s.c.position = 2;
    EXPECT_EQ(frame_cache_reserve(&s.c, 0, 3000, true, true), -1);

    // The lent picture and one being converted are never taken, however far.
    s.c.position = 3;
    const int slot1 = frame_cache_find(&s.c, 1);
    s.c.lent = slot1;
    const int busy = frame_cache_reserve(&s.c, 4, 3000, false, false);
    ASSERT_GE(busy, 0);
    EXPECT_NE(busy, slot1);
    EXPECT_EQ(frame_cache_find(&s.c, 1), slot1);
    const int second = frame_cache_reserve(&s.c, 5, 3000, false, false);
    ASSERT_GE(second, 0);
    EXPECT_NE(second, slot1);
    EXPECT_NE(second, busy);
    EXPECT_EQ(frame_cache_reserve(&s.c, 6, 3000, false, false), -1);
    publish(&s.c, busy, 4);
    publish(&s.c, second, 5);
    EXPECT_EQ(s.c.stored, 7);
}

TEST(FrameCache, PicturesLargerThanTheBudgetStillGetTwo)
{
    store s(1000);
    EXPECT_EQ(frame_cache_capacity(&s.c, 5000), 2);
    const int a = put(&s.c, 0, 5000, false);
    const int b = put(&s.c, 1, 5000, false);
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    EXPECT_NE(a, b);
    EXPECT_FALSE(frame_cache_has_room(&s.c, 5000));
    EXPECT_EQ(put(&s.c, 2, 5000), a);
    EXPECT_EQ(s.c.blocks, 2);
}

TEST(FrameCache, ChargesKeepToTheBudget)
{
    store s(4 * 1000 + 500);
    int charged = 0;
    for (int64_t k = 0; k < 10; k++) {
        const int before = s.c.blocks;
        put(&s.c, k, 1000);
        charged += s.c.blocks > before;
    }
    EXPECT_EQ(charged, 4);
    EXPECT_EQ(s.c.bytes, 4000);
    // The last four pictures stay, each charged once.
    for (int64_t k = 6; k < 10; k++)
        EXPECT_GE(frame_cache_find(&s.c, k), 0) << k;
    EXPECT_EQ(s.c.blocks, 4);
    // A picture given back empty gives its charge back.
    const int slot = frame_cache_reserve(&s.c, 10, 1000, true, false);
    ASSERT_GE(slot, 0);
    frame_cache_abandon(&s.c, slot);
    EXPECT_EQ(s.c.bytes, 3000);
}

TEST(FrameCache, DroppedFramesShareOnePictureAndGoWithIt)
{
    store s(10000);
    const int slot = put(&s.c, 2, 1000);
    frame_cache_extend(&s.c, slot, 3);
    frame_cache_extend(&s.c, slot, 5);  // 4 and 5 dropped too
    for (int64_t k = 2; k <= 5; k++)
        EXPECT_EQ(frame_cache_find(&s.c, k), slot) << k;
    EXPECT_EQ(frame_cache_find_picture(&s.c, 2), slot);
    EXPECT_EQ(frame_cache_run(&s.c, 1, +1, 100), 4);
    EXPECT_EQ(frame_cache_run(&s.c, 6, -1, 2), 2);
    // Frame 6 arrives from the other end of the clip's index: the shared picture goes whole.
    s.c.position = 90;
    frame_cache_clear(&s.c);
    for (int64_t k = 2; k <= 5; k++)
        EXPECT_EQ(frame_cache_find(&s.c, k), -1) << k;
}

TEST(FrameCache, ClearKeepsTheLentPictureReadable)
{
    store s(10000);
    const int slot = put(&s.c, 7, 1000);
    const AVFrame* lent = s.c.slots[size_t(slot)].frame;
    ASSERT_NE(lent, nullptr);
    s.c.lent = slot;
    put(&s.c, 8, 1000);
    frame_cache_clear(&s.c);
    EXPECT_EQ(frame_cache_find(&s.c, 7), -1);
    EXPECT_EQ(frame_cache_find(&s.c, 8), -1);
    EXPECT_EQ(s.c.blocks, 1);
    EXPECT_EQ(s.c.slots[size_t(slot)].frame, lent);
}

// ---- through the service ----

std::vector<uint8_t> bytes_of(const bitmap_info_header* h)
{
    if (!h)
        return {};
    const uint8_t* p = reinterpret_cast<const uint8_t*>(h);
    return std::vector<uint8_t>(p, p + h->biSize + h->biSizeImage);
}

cached_frames* cache_of(const frame_decoder_handle& d)
{
    return avi_frame_cache(d.d);
}

int64_t picture_bytes(int32_t width, int32_t height)
{
    return 64 + dib_row_bytes(width, 24) * height + 64;
}

class AviFrameCache : public avi_scratch {
protected:
    // A clip the ffmpeg command encodes: a moving picture with fresh noise in every frame, in
    // MPEG-4 with a keyframe every 12 frames and B-frames stored in decoding order.
    std::string gop_clip(int frames)
    {
        return ffmpeg("gop.avi", "-f lavfi -i testsrc=size=96x64:rate=30,noise=alls=40:allf=t "
                                 "-frames:v " + std::to_string(frames) +
                                 " -c:v mpeg4 -g 12 -bf 2 -q:v 6");
    }

    // Every frame as a decoder with no room to keep anything decodes it, in order.
    std::vector<std::vector<uint8_t>> fresh_pictures(avi_stream* video, int frames)
    {
        frame_decoder_handle d(video);
        cached_frames_configure(cache_of(d), 0, false);
        std::vector<std::vector<uint8_t>> pictures;
        for (int32_t k = 0; k < frames; k++)
            pictures.push_back(bytes_of(avi_frame_get(d.d, k)));
        return pictures;
    }
};

TEST_F(AviFrameCache, WalksBothWaysAcrossKeyframesGiveTheFreshPictures)
{
    if (!have_ffmpeg_cli())
        GTEST_SKIP() << "the ffmpeg command-line tool is not installed";
    const int frames = 100;
    open_clip c(gop_clip(frames));
    ASSERT_EQ(c.count, 1u);
    const auto fresh = fresh_pictures(c.streams[0], frames);
    for (int32_t k = 0; k < frames; k++) {
        ASSERT_FALSE(fresh[k].empty()) << k;
        ASSERT_TRUE(k == 0 || fresh[k] != fresh[k - 1]) << "frames " << k - 1 << ", " << k << " alike";
    }

    for (bool prefetch : {true, false}) {
        SCOPED_TRACE(prefetch ? "fills ahead of need" : "fills at the moment of need");
        frame_decoder_handle d(c.streams[0]);
        // Room for 16 pictures: a group of pictures and a bit.
        cached_frames_configure(cache_of(d), 16 * picture_bytes(96, 64), prefetch);
        for (int32_t k = 0; k < frames; k++)
            ASSERT_EQ(bytes_of(avi_frame_get(d.d, k)), fresh[k]) << "forward, frame " << k;
        cached_frames_settle(cache_of(d));

        // Back to the start at a user's pace, as one who answers a dialog per step.
        int decoding_steps = 0;
        for (int32_t k = frames - 2; k >= 0; k--) {
            const int64_t before = cached_frames_get_stats(cache_of(d)).decodes;
            ASSERT_EQ(bytes_of(avi_frame_get(d.d, k)), fresh[k]) << "back, frame " << k;
            decoding_steps += cached_frames_get_stats(cache_of(d)).decodes != before;
            cached_frames_settle(cache_of(d));
        }
        const cached_frames_stats stats = cached_frames_get_stats(cache_of(d));
        EXPECT_LE(stats.bytes, stats.budget);
        if (prefetch) {
            // The worker kept ahead: no step back waited for a decode.
            EXPECT_EQ(decoding_steps, 0);
            EXPECT_GT(stats.prefetches, 0);
        } else {
            // Each decode brings a batch of the frames before: few steps pay for it.
            EXPECT_GT(decoding_steps, 0);
            EXPECT_LE(decoding_steps, frames / 8 + 1);
        }

        // And forward again, then a wander of steps both ways with jumps.
        for (int32_t k = 1; k < frames; k++)
            ASSERT_EQ(bytes_of(avi_frame_get(d.d, k)), fresh[k]) << "forward again, frame " << k;
        std::mt19937 random(prefetch ? 1 : 2);
        int32_t k = frames / 2;
        for (int step = 0; step < 400; step++) {
            const int roll = int(random() % 20);
            k = roll == 0 ? int32_t(random() % frames) : k + (roll < 9 ? -1 : 1);
            k = std::clamp(k, 0, frames - 1);
            ASSERT_EQ(bytes_of(avi_frame_get(d.d, k)), fresh[k]) << "step " << step << ", frame " << k;
        }
    }
}

TEST_F(AviFrameCache, SteppingBackGrowsTheBudgetUntilPlaybackResumes)
{
    if (!have_ffmpeg_cli())
        GTEST_SKIP() << "the ffmpeg command-line tool is not installed";
    const int frames = 100;
    open_clip c(gop_clip(frames));
    const auto fresh = fresh_pictures(c.streams[0], frames);
    frame_decoder_handle d(c.streams[0]);
    const int64_t one = picture_bytes(96, 64);
    cached_frames_configure(cache_of(d), 8 * one, true);
    cached_frames_set_step_budget(cache_of(d), 40 * one);
    for (int32_t k = 0; k < frames; k++)
        ASSERT_EQ(bytes_of(avi_frame_get(d.d, k)), fresh[k]) << "forward, frame " << k;
    cached_frames_settle(cache_of(d));
    EXPECT_EQ(cached_frames_get_stats(cache_of(d)).budget, 8 * one);

    // Back over eight keyframes at a user's pace: the fills, in batches of the larger budget
    // split at keyframes, bring exactly the pictures of a straight walk, before they are needed.
    const int64_t decodes = cached_frames_get_stats(cache_of(d)).decodes;
    for (int32_t k = frames - 2; k >= 0; k--) {
        ASSERT_EQ(bytes_of(avi_frame_get(d.d, k)), fresh[k]) << "back, frame " << k;
        cached_frames_settle(cache_of(d));
        const cached_frames_stats s = cached_frames_get_stats(cache_of(d));
        ASSERT_EQ(s.budget, 40 * one) << k;
        ASSERT_LE(s.bytes, s.budget) << k;
    }
    const cached_frames_stats back = cached_frames_get_stats(cache_of(d));
    EXPECT_EQ(back.decodes, decodes);
    EXPECT_GT(back.pictures, 8);

    // Playback again: the memory goes back to the playing budget.
    for (int32_t k = 1; k < 30; k++)
        ASSERT_EQ(bytes_of(avi_frame_get(d.d, k)), fresh[k]) << "playing, frame " << k;
    cached_frames_settle(cache_of(d));
    const cached_frames_stats played = cached_frames_get_stats(cache_of(d));
    EXPECT_EQ(played.budget, 8 * one);
    EXPECT_LE(played.bytes, 8 * one);
}

TEST_F(AviFrameCache, EachFrameIsConvertedOnce)
{
    test_avi_options o;
    o.width = 40;
    o.height = 30;
    o.frames = 60;
    o.empty_frames = {10, 11, 30};
    open_clip c(clip("a.avi", o));
    frame_decoder_handle d(c.find(stream_type_video));
    // The worker readies the cache's memory after the first picture; a walk faster than that
    // keeps only what there was room for.
    ASSERT_NE(avi_frame_get(d.d, 0), nullptr);
    cached_frames_settle(cache_of(d));
    for (int32_t k = 1; k < 60; k++)
        ASSERT_NE(avi_frame_get(d.d, k), nullptr) << k;
    const cached_frames_stats walked = cached_frames_get_stats(cache_of(d));
    // A dropped frame repeats the picture before it without keeping or converting it again.
    // Whether the caller or the worker reading ahead decoded a frame, it was kept once, and
    // converted once to be shown, ahead of its request or at it.
    EXPECT_EQ(walked.stored, 57);
    EXPECT_EQ(walked.conversions, 57);
    for (int32_t k = 59; k >= 0; k--) {
        const int32_t shown = k == 10 || k == 11 ? 9 : k == 30 ? 29 : k;
        ASSERT_TRUE(dib_matches_clip(avi_frame_get(d.d, k), shown, 40, 30, 24)) << k;
    }
    const cached_frames_stats back = cached_frames_get_stats(cache_of(d));
    EXPECT_EQ(back.stored, walked.stored);
    EXPECT_EQ(back.decodes, walked.decodes);
    // Each picture shown again is converted again, at most once.
    EXPECT_LE(back.conversions - walked.conversions, 57);
}

TEST_F(AviFrameCache, AWalkWithoutRowsGivesTheSameHeadersAndConvertsNothing)
{
    if (!have_ffmpeg_cli())
        GTEST_SKIP() << "the ffmpeg command-line tool is not installed";
    const int frames = 60;
    open_clip c(gop_clip(frames));
    const auto fresh = fresh_pictures(c.streams[0], frames);
    // Forward over two keyframes, back across one, a jump, and on to the end and past it.
    std::vector<int32_t> order;
    for (int32_t k = 0; k < 30; k++)
        order.push_back(k);
    for (int32_t k = 28; k >= 20; k--)
        order.push_back(k);
    for (int32_t k = 45; k <= frames; k++)
        order.push_back(k);

    frame_decoder_handle d(c.streams[0]);
    avi_frame_set_rows_wanted(d.d, false);
    // What the worker read ahead at open, before it was told, is converted; nothing after.
    const int64_t converted = cached_frames_get_stats(cache_of(d)).conversions;
    for (int32_t k : order) {
        const bitmap_info_header* h = avi_frame_get(d.d, k);
        if (k == frames) {
            EXPECT_EQ(h, nullptr);
            continue;
        }
        ASSERT_NE(h, nullptr) << k;
        EXPECT_EQ(bytes_of(h).size(), fresh[k].size()) << k;  // the rows have their room
        EXPECT_EQ(std::memcmp(h, fresh[k].data(), sizeof *h), 0) << "header of frame " << k;
    }
    EXPECT_EQ(cached_frames_get_stats(cache_of(d)).conversions, converted);

    // Rows wanted again: the pictures are whole once more.
    avi_frame_set_rows_wanted(d.d, true);
    for (int32_t k : {59, 3, 4})
        EXPECT_EQ(bytes_of(avi_frame_get(d.d, k)), fresh[k]) << k;

    // A damaged frame is told apart at its place, walking on and coming back to it.
    const std::string damaged = ffmpeg("mjpeg.avi", "-f lavfi -i testsrc=size=96x64:rate=30 "
                                                    "-frames:v 8 -c:v mjpeg");
    zero_video_chunk(damaged, 3);
    open_clip m(damaged);
    frame_decoder_handle md(m.streams[0]);
    avi_frame_set_rows_wanted(md.d, false);
    for (int32_t k : {0, 1, 2, 3, 4, 5, 6, 7, 3, 4})
        EXPECT_EQ(avi_frame_get(md.d, k) == nullptr, k == 3) << k;
}

TEST_F(AviFrameCache, WalkingForwardFindsTheNextFramesDecoded)
{
    test_avi_options o;
    o.width = 40;
    o.height = 30;
    o.frames = 60;
    open_clip c(clip("a.avi", o));
    frame_decoder_handle d(c.find(stream_type_video));
    cached_frames_configure(cache_of(d), 32 * picture_bytes(40, 30), true);
    for (int32_t k = 0; k < 20; k++)
        ASSERT_TRUE(dib_matches_clip(avi_frame_get(d.d, k), k, 40, 30, 24)) << k;
    // As a frame's sound lets the worker go on: the frames after the last one given are ready.
    cached_frames_settle(cache_of(d));
    const int64_t decodes = cached_frames_get_stats(cache_of(d)).decodes;
    for (int32_t k = 20; k < 28; k++)
        ASSERT_TRUE(dib_matches_clip(avi_frame_get(d.d, k), k, 40, 30, 24)) << k;
    EXPECT_EQ(cached_frames_get_stats(cache_of(d)).decodes, decodes);
}

TEST_F(AviFrameCache, LargePicturesKeepToTheBudget)
{
    test_avi_options o;
    o.width = 1280;
    o.height = 720;
    o.frames = 12;
    o.audio = false;
    open_clip c(clip("large.avi", o));
    const int64_t one = picture_bytes(1280, 720);  // 2.6 MB
    for (int64_t budget : {int64_t(10) << 20, int64_t(1) << 20}) {
        SCOPED_TRACE(budget);
        frame_decoder_handle d(c.streams[0]);
        cached_frames_configure(cache_of(d), budget, true);
        for (int32_t k = 0; k < 12; k++) {
            ASSERT_TRUE(dib_matches_clip(avi_frame_get(d.d, k), k, 1280, 720, 24)) << k;
            cached_frames_settle(cache_of(d));
            const cached_frames_stats s = cached_frames_get_stats(cache_of(d));
            // Never more than fits, and never fewer than two pictures.
            EXPECT_LE(s.bytes, std::max(budget, 2 * one)) << k;
            EXPECT_LE(s.pictures, std::max<int64_t>(budget / one, 2)) << k;
        }
        for (int32_t k = 11; k >= 0; k--)
            ASSERT_TRUE(dib_matches_clip(avi_frame_get(d.d, k), k, 1280, 720, 24)) << k;
        const cached_frames_stats s = cached_frames_get_stats(cache_of(d));
        EXPECT_LE(s.bytes, std::max(budget, 2 * one));
    }
}

TEST_F(AviFrameCache, AHighDefinitionWalkConvertedBesideTheDecoderGivesTheFreshPictures)
{
    if (!have_ffmpeg_cli())
        GTEST_SKIP() << "the ffmpeg command-line tool is not installed";
    // From 720p up the decoder runs frame threads, and the worker's pictures are converted on a
    // thread of their own while it decodes the next ones.
    const int frames = 40;
    open_clip c(ffmpeg("hd.avi", "-f lavfi -i testsrc=size=1280x720:rate=30,noise=alls=40:allf=t "
                                 "-frames:v 40 -c:v mpeg4 -g 12 -bf 2 -q:v 6"));
    const auto fresh = fresh_pictures(c.streams[0], frames);
    frame_decoder_handle d(c.streams[0]);
    for (int32_t k = 0; k < frames; k++)
        ASSERT_EQ(bytes_of(avi_frame_get(d.d, k)), fresh[k]) << "frame " << k;
    const cached_frames_stats s = cached_frames_get_stats(cache_of(d));
    EXPECT_EQ(s.decodes, 0);  // every frame came from the worker
    EXPECT_EQ(s.stored, frames);
    EXPECT_EQ(s.conversions, frames);
}

TEST_F(AviFrameCache, TheLastPictureStaysWhileTheWorkerFillsAndEvicts)
{
    if (!have_ffmpeg_cli())
        GTEST_SKIP() << "the ffmpeg command-line tool is not installed";
    const int frames = 60;
    open_clip c(gop_clip(frames));
    const auto fresh = fresh_pictures(c.streams[0], frames);
    frame_decoder_handle d(c.streams[0]);
    // Eight pictures: each fill pushes out most of what is cached.
    cached_frames_configure(cache_of(d), 8 * picture_bytes(96, 64), true);
    for (int32_t k = 0; k < frames; k++)
        ASSERT_NE(avi_frame_get(d.d, k), nullptr);
    for (int32_t k = frames - 2; k >= 0; k--) {
        const bitmap_info_header* h = avi_frame_get(d.d, k);
        cached_frames_settle(cache_of(d));
        // Still the picture of frame k, though the worker has been filling since.
        ASSERT_EQ(bytes_of(h), fresh[k]) << "frame " << k;
    }
    EXPECT_GT(cached_frames_get_stats(cache_of(d)).prefetches, 0);
}

TEST_F(AviFrameCache, QuickStepsRaceTheWorkerAndStayExact)
{
    if (!have_ffmpeg_cli())
        GTEST_SKIP() << "the ffmpeg command-line tool is not installed";
    const int frames = 100;
    open_clip c(gop_clip(frames));
    const auto fresh = fresh_pictures(c.streams[0], frames);
    frame_decoder_handle d(c.streams[0]);
    cached_frames_configure(cache_of(d), 12 * picture_bytes(96, 64), true);
    // No pause between steps: requests meet the worker's fills half-way.
    std::mt19937 random(7);
    int32_t k = 0;
    for (int step = 0; step < 3000; step++) {
        const int roll = int(random() % 40);
        if (roll == 0)
            k = int32_t(random() % frames);
        else
            k += step / 300 % 2 ? -1 : 1;  // runs of steps back and forth
        k = std::clamp(k, 0, frames - 1);
        ASSERT_EQ(bytes_of(avi_frame_get(d.d, k)), fresh[k]) << "step " << step << ", frame " << k;
    }
    EXPECT_GT(cached_frames_get_stats(cache_of(d)).prefetches, 0);
}

}  // namespace
