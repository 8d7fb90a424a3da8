// Every frame's WAVE slice: the fixed header, the right 1067 samples, silence where the stream
// has none.
#include <gtest/gtest.h>

#include <cstring>

#include "fakes/fake_platform.h"
#include "playback/audio_slice.h"
#include "playback/playback_state.h"

namespace {

class audio_slice : public ::testing::Test {
protected:
    playback_state state;

    void SetUp() override
    {
        reset_fake();
        prepare_audio_slice(state);
    }

    // An audio stream of `samples` numbered samples in slot 0, opened as the playback opens it.
    void audio(uint32_t samples)
    {
        fake.streams = {{audio_info(samples)}};
        fake.streams[0].samples = numbered_samples(samples);
        state.stream_slots = {{avi_file_get_stream(nullptr, 0), fake.streams[0].info}};
        state.audio_index = 0;
    }

    int16_t sample_at(int index) const
    {
        int16_t value;
        std::memcpy(&value, state.slice_buffer.get() + slice_header_bytes + 2 * index, 2);
        return value;
    }
};

TEST_F(audio_slice, header_is_the_same_44_bytes_for_every_frame)
{
    const unsigned char expected[44] = {
        0x52, 0x49, 0x46, 0x46, 0x7A, 0x08, 0x00, 0x00, 0x57, 0x41, 0x56, 0x45, 0x66, 0x6D, 0x74,
        0x20, 0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x7D, 0x00, 0x00, 0x00, 0xFA,
        0x00, 0x00, 0x02, 0x00, 0x10, 0x00, 0x64, 0x61, 0x74, 0x61, 0x56, 0x08, 0x00, 0x00};
    audio(40 * 1067);
    for (int32_t frame : {0, 1, 39, 500}) {
        build_audio_slice(state, frame);
        EXPECT_EQ(std::memcmp(state.slice_buffer.get(), expected, 44), 0) << "frame " << frame;
    }
}

TEST_F(audio_slice, frames_read_from_their_own_first_sample)
{
    audio(40 * 1067);
    for (int32_t frame : {0, 1, 30}) {
        build_audio_slice(state, frame);
        const std::vector<int16_t>& src = fake.streams[0].samples;
        EXPECT_EQ(std::memcmp(state.slice_buffer.get() + 44, src.data() + frame * 1067, 2134), 0)
            << "frame " << frame;
    }
    // Frame 30 starts at sample 32010.
    EXPECT_EQ(sample_at(0), fake.streams[0].samples[32010]);
}

TEST_F(audio_slice, stepping_back_reads_the_same_slice_again)
{
    audio(10 * 1067);
    build_audio_slice(state, 4);
    const std::vector<unsigned char> first(state.slice_buffer.get(),
                                           state.slice_buffer.get() + slice_wave_bytes);
    build_audio_slice(state, 5);
    build_audio_slice(state, 4);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), state.slice_buffer.get()));
}

TEST_F(audio_slice, a_short_read_ends_in_silence_not_in_the_previous_frames_sound)
{
    audio(2 * 1067 + 100);
    build_audio_slice(state, 1);  // fills the whole slice with sound
    build_audio_slice(state, 2);  // only 100 samples exist
    EXPECT_EQ(sample_at(99), fake.streams[0].samples[2 * 1067 + 99]);
    for (int i = 100; i < samples_per_frame; i++)
        ASSERT_EQ(sample_at(i), 0) << "sample " << i;
}

TEST_F(audio_slice, frames_past_the_audio_and_files_without_audio_are_silent)
{
    audio(1067);
    build_audio_slice(state, 0);
    build_audio_slice(state, 7);
    for (int i = 0; i < samples_per_frame; i++)
        ASSERT_EQ(sample_at(i), 0);

    playback_state silent;
    prepare_audio_slice(silent);
    std::memset(silent.slice_buffer.get(), 0x55, slice_buffer_bytes);
    build_audio_slice(silent, 0);
    for (int i = slice_header_bytes; i < slice_wave_bytes; i++)
        ASSERT_EQ(silent.slice_buffer[i], 0);
}

TEST_F(audio_slice, frame_numbers_too_large_for_a_sample_index_are_silent)
{
    audio(1067);
    build_audio_slice(state, 2100000);  // 2100000 * 1067 passes 2^31
    for (int i = 0; i < samples_per_frame; i++)
        ASSERT_EQ(sample_at(i), 0);
}

TEST(copy_bytes, chains_and_ignores_counts_of_zero_or_less)
{
    unsigned char out[8] = {};
    unsigned char* p = copy_bytes("ab", 2, out);
    p = copy_bytes("zz", 0, p);
    p = copy_bytes("zz", -3, p);
    p = copy_bytes("cd", 2, p);
    EXPECT_EQ(p, out + 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out)), "abcd");
}

}  // namespace
