// The frame cache's rules without threads or clocks: how many pictures stepping needs, and the
// ring of pictures shown.
#include <gtest/gtest.h>

#include "platform/linux/avi/frame_cache_plan.h"
#include "platform/linux/avi/shown_pictures.h"

namespace {

stepping_pace pace(double decode_ms, int64_t group, int64_t ahead = 3)
{
    stepping_pace p;
    p.decode_ms = decode_ms;
    p.step_ms = 100;
    p.longest_group = group;
    p.ahead = ahead;
    return p;
}

TEST(FrameCacheBudget, StepsBackOutlastOneRefillFromTheKeyframe)
{
    // 1080p H.264, a group of 250 at 8 ms a frame: a refill from the keyframe takes 2 s, 19
    // steps of 100 ms and their decoding.
    EXPECT_EQ(frames_to_keep_behind(pace(8, 250)), 19);
    EXPECT_EQ(playing_pictures(pace(8, 250)), 19 + 3 + 2);
    EXPECT_EQ(stepping_pictures(pace(8, 250)), 2 * 19 + 2);
    // Faster decoding keeps fewer; short groups keep no more than the least worth reading ahead.
    EXPECT_LT(frames_to_keep_behind(pace(2, 250)), 19);
    EXPECT_EQ(playing_pictures(pace(30, 12)), frame_cache_least_pictures);
    EXPECT_EQ(stepping_pictures(pace(30, 12)), frame_cache_least_pictures);
    // Decoding slower than the user steps: never more than a whole group beside the read-ahead.
    EXPECT_EQ(stepping_pictures(pace(200, 90)), 90 + 3 + 2);
    // Before the decoding is timed, and for a clip without an index.
    EXPECT_EQ(playing_pictures(pace(0, 250)), frame_cache_untimed_pictures);
    EXPECT_EQ(frames_to_keep_behind(pace(8, 0)), 19);
}

TEST(FrameCacheBudget, ReadAheadCoversEightFramesOfDecodingAndSmallPicturesCostNothing)
{
    EXPECT_EQ(frames_to_read_ahead(2, 33.3), 3);
    EXPECT_EQ(frames_to_read_ahead(20, 33.3), 5);
    EXPECT_EQ(frames_to_read_ahead(100, 33.3), 8);
    EXPECT_EQ(frames_to_read_ahead(0, 33.3), 8);
    EXPECT_EQ(budget_for_pictures(24, 3110400), 24 * 3110400);
    EXPECT_EQ(budget_for_pictures(24, 1800), frame_cache_least_budget);
}

TEST(FrameCachePlan, AFillBehindWaitsForRoomWorthItsDecodingThenTakesAllThereIs)
{
    // 240 frames from the keyframe at 8 ms, 100 ms steps: a fill is worth 20 frames.
    EXPECT_EQ(frames_worth_filling(240, 8, 100, 0), 20);
    // A conversion per step leaves the user less time, never less than a quarter of a step.
    EXPECT_EQ(frames_worth_filling(240, 8, 100, 60), 49);
    EXPECT_EQ(frames_worth_filling(240, 8, 100, 200), 77);

    // At 260 with 30 of 40 cached behind: room for 10, less than worth it.
    fill_range r = fill_behind_range(260, 30, 40, 0, 20);
    EXPECT_GT(r.from, r.to);
    // With 20 cached, 20 of room: the 20 frames before the cached run.
    r = fill_behind_range(260, 20, 40, 0, 20);
    EXPECT_EQ(r.from, 220);
    EXPECT_EQ(r.to, 239);
    // Near the keyframe fewer are worth it: all that are left.
    r = fill_behind_range(20, 10, 40, 5, 20);
    EXPECT_EQ(r.from, 5);
    EXPECT_EQ(r.to, 9);
    // Where no batch would be worth it, half the frames kept behind make room enough.
    r = fill_behind_range(260, 20, 40, 0, 100);
    EXPECT_EQ(r.from, 220);
    // Nothing before the start, and nothing while all that is kept is cached.
    EXPECT_GT(fill_behind_range(10, 10, 40, 0, 1).from, fill_behind_range(10, 10, 40, 0, 1).to);
    EXPECT_GT(fill_behind_range(200, 40, 40, 0, 1).from, fill_behind_range(200, 40, 40, 0, 1).to);
}

TEST(ShownPictures, TheLentPictureStaysUntilTheNextAndOneConversionServesItsFrame)
{
    shown_pictures s;
    const int a = shown_take(&s, 10, 4096);
    ASSERT_GE(a, 0);
    EXPECT_EQ(shown_find(&s, 10), a);  // converting: found, to be waited for
    auto* picture = reinterpret_cast<const bitmap_info_header*>(s.entries[a].block);
    shown_done(&s, a, picture);
    EXPECT_EQ(shown_lend(&s, a), picture);
    // The next one goes elsewhere; with the other one converting, none is left.
    const int b = shown_take(&s, 11, 4096);
    ASSERT_GE(b, 0);
    EXPECT_NE(b, a);
    EXPECT_EQ(shown_take(&s, 12, 4096), -1);
    shown_done(&s, b, nullptr);  // failed: shows nothing
    EXPECT_EQ(shown_find(&s, 11), -1);
    // Handed out anew, the lent one may go; forgetting keeps its block readable.
    s.lent = -1;
    EXPECT_EQ(shown_find(&s, 10), a);
    shown_forget(&s);
    EXPECT_EQ(shown_find(&s, 10), -1);
    EXPECT_NE(s.entries[a].block, nullptr);
    EXPECT_EQ(s.conversions, 1);
    shown_free(&s);
}

}  // namespace
