// Audio reads: sample-exact whatever the chunking and stream order, short at the end.
#include <vector>

#include "tests/linux/avi_test_clips.h"

namespace {

using AviAudio = avi_scratch;

constexpr int32_t slice_samples = 1067;

// Reads `count` samples from `first` and checks them against the writer's samples; returns the
// number of samples the read reported.
int32_t read_and_check(avi_stream* s, int32_t first, int32_t count, int salt = 0)
{
    std::vector<int16_t> buffer(size_t(count) + 8, int16_t(0x5a5a));
    int32_t bytes = -1, samples = -1;
    EXPECT_EQ(avi_stream_read(s, first, count, buffer.data(), count * 2, &bytes, &samples), 0);
    EXPECT_EQ(bytes, samples * 2);
    for (int32_t i = 0; i < samples; i++) {
        if (buffer[i] != test_sample(first + i, salt)) {
            ADD_FAILURE() << "sample " << first + i << " (read from " << first << ") differs";
            break;
        }
    }
    // Nothing is written past what the read reports.
    for (size_t i = size_t(std::max(samples, 0)); i < buffer.size(); i++)
        if (buffer[i] != int16_t(0x5a5a)) {
            ADD_FAILURE() << "read from " << first << " wrote past its " << samples << " samples";
            break;
        }
    return samples;
}

TEST_F(AviAudio, SliceReadsAreExactForEveryChunkingAndOrder)
{
    const int32_t frames = 40;
    const int64_t total = int64_t(frames) * slice_samples;
    int n = 0;
    for (int64_t chunk : {int64_t(1067), int64_t(1000), int64_t(16000), total}) {
        for (bool audio_first : {false, true}) {
            test_avi_options o;
            o.width = 4;
            o.height = 4;
            o.frames = frames;
            o.audio_chunk = chunk;
            o.audio_first = audio_first;
            open_clip c(clip("clip" + std::to_string(n++) + ".avi", o));
            avi_stream* audio = c.find(stream_type_audio);
            ASSERT_NE(audio, nullptr);
            SCOPED_TRACE("chunk " + std::to_string(chunk) + (audio_first ? " audio first" : ""));
            // Frames 0, 1, 30 and the last, then stepping back, then in order again.
            for (int32_t frame : {0, 1, 30, frames - 1, 29, 30, 31, 2})
                EXPECT_EQ(read_and_check(audio, frame * slice_samples, slice_samples), slice_samples)
                    << "frame " << frame;
            // Past the end: what exists, then nothing; both succeed.
            EXPECT_EQ(read_and_check(audio, int32_t(total) - 100, slice_samples), 100);
            EXPECT_EQ(read_and_check(audio, int32_t(total), slice_samples), 0);
            EXPECT_EQ(read_and_check(audio, int32_t(total) + 5000, slice_samples), 0);
            EXPECT_EQ(read_and_check(audio, 0, 3), 3);
        }
    }
}

TEST_F(AviAudio, OddSizedReadsAcrossPacketsContinueExactly)
{
    test_avi_options o;
    o.video = false;
    o.audio_samples = 50000;
    o.audio_chunk = 3001;
    open_clip c(clip("a.avi", o));
    avi_stream* audio = c.find(stream_type_audio);
    ASSERT_NE(audio, nullptr);
    int32_t at = 0;
    for (int32_t step : {1, 1023, 1024, 1, 2047, 5000, 3, 7777, 1067}) {
        ASSERT_EQ(read_and_check(audio, at, step), step);
        at += step;
    }
    // A small skip forward within what was read ahead.
    EXPECT_EQ(read_and_check(audio, at + 10, 100), 100);
}

TEST_F(AviAudio, StepsBackOverManySlicesStayExact)
{
    // Longer than the reader keeps in memory, so stepping back crosses what it holds.
    const int32_t frames = 1200;
    test_avi_options o;
    o.width = 4;
    o.height = 4;
    o.frames = frames;
    o.audio_chunk = 1000;
    open_clip c(clip("a.avi", o));
    avi_stream* audio = c.find(stream_type_audio);
    ASSERT_NE(audio, nullptr);
    for (int32_t frame = 0; frame < frames; frame++)
        ASSERT_EQ(read_and_check(audio, frame * slice_samples, slice_samples), slice_samples)
            << "forward, frame " << frame;
    for (int32_t frame = frames - 1; frame >= 0; frame--)
        ASSERT_EQ(read_and_check(audio, frame * slice_samples, slice_samples), slice_samples)
            << "back, frame " << frame;
    // Back and forth around one place, a jump ahead, a jump back, and a read larger than
    // what is kept.
    for (int32_t frame : {600, 601, 600, 599, 600, 601, 602, 900, 899, 100, 99, 101})
        ASSERT_EQ(read_and_check(audio, frame * slice_samples, slice_samples), slice_samples)
            << "frame " << frame;
    EXPECT_EQ(read_and_check(audio, 5000, 700000), 700000);
    EXPECT_EQ(read_and_check(audio, 4000, slice_samples), slice_samples);
}

TEST_F(AviAudio, InterleavedVideoAndBothAudioStreams)
{
    test_avi_options o;
    o.width = 6;
    o.height = 5;
    o.frames = 20;
    o.audio_first = true;
    o.third_stream = true;
    open_clip c(clip("a.avi", o));
    ASSERT_EQ(c.count, 3u);
    frame_decoder_handle d(c.streams[1]);
    // The frame loop's pattern: a frame, its slice, for both audio streams, with a step back.
    for (int32_t frame : {0, 1, 2, 3, 2, 3, 4, 19, 0}) {
        EXPECT_TRUE(dib_matches_clip(avi_frame_get(d.d, frame), frame, 6, 5, 24));
        EXPECT_EQ(read_and_check(c.streams[0], frame * slice_samples, slice_samples, 0),
                  slice_samples);
        EXPECT_EQ(read_and_check(c.streams[2], frame * slice_samples, slice_samples, 1),
                  slice_samples);
    }
}

}  // namespace
