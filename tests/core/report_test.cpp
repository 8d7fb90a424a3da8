// The stream report, the mode prompts and what setup takes and gives back, for files of every
// shape the tool meets.
#include <algorithm>

#include "core/playback_fixture.h"
#include "playback/audio_slice.h"
#include "playback/report.h"

namespace {

const std::string prompt1 = "non_monitor - nキー , 表示 - n以外のキー ?";
const std::string prompt2 = "\nコマ送り - sキー , 連続表示 - s以外のキー ?";

using report = playback_test;

TEST_F(report, normal_setup_prints_the_four_lines_the_prompts_and_cnt)
{
    clip(0);
    fake.streams[0].info.frame = {0, 0, 320, 240};
    modes('x', 'x');
    EXPECT_EQ(play(), "strs = 2 \n"
                      "vi_S=1001 vi_R=30000 vi_length=0 \n"
                      "h = 240 w = 320\n"
                      "au_S=2 au_R=64000 au_length=0 0(frame)\n" +
                          prompt1 + prompt2 + "cnt = 307364\n");
    EXPECT_EQ(fake.window_width, 320);
    EXPECT_EQ(fake.window_height, 240);
}

TEST_F(report, audio_first_order_reports_the_same_lines)
{
    clip(3);
    std::swap(fake.streams[0], fake.streams[1]);
    modes('n');
    const std::string out = play();
    EXPECT_EQ(out.substr(0, out.find(prompt1)),
              "strs = 2 \nvi_S=1001 vi_R=30000 vi_length=3 \nh = 2 w = 4\n"
              "au_S=2 au_R=64000 au_length=3201 3(frame)\n");
}

TEST_F(report, frame_column_counts_whole_frames_of_audio)
{
    for (uint32_t samples : {1066u, 1067u, 2133u, 2134u}) {
        reset_fake();
        fake.streams = {{video_info(0)}, {audio_info(samples)}};
        modes('n');
        const std::string out = play();
        const std::string expected = "au_length=" + std::to_string(samples) + " " +
                                     std::to_string(samples / 1067) + "(frame)\n";
        EXPECT_NE(out.find(expected), std::string::npos) << out;
        close_display();
    }
}

TEST_F(report, header_values_are_shown_as_stored)
{
    clip(0);
    fake.streams[0].info.scale = 1000;
    fake.streams[0].info.rate = 30000;
    fake.streams[0].info.frame = {10, 20, 330, 260};  // size is the rectangle's, not its corner
    modes('n');
    const std::string out = play();
    EXPECT_NE(out.find("vi_S=1000 vi_R=30000 vi_length=0 \nh = 240 w = 320\n"), std::string::npos);
}

TEST_F(report, capital_n_is_not_non_monitor_and_n_skips_the_second_prompt)
{
    clip(0);
    modes('N', 's');
    EXPECT_NE(play().find(prompt1 + prompt2 + "cnt = "), std::string::npos);
    EXPECT_TRUE(fake.keys.empty());

    close_display();
    reset_fake();
    clip(0);
    modes('n', 's');
    const std::string out = play();
    EXPECT_NE(out.find(prompt1 + "cnt = "), std::string::npos);
    EXPECT_EQ(out.find(prompt2), std::string::npos);
    ASSERT_EQ(fake.keys.size(), 1u);  // the second key was never read
}

TEST_F(report, no_console_counts_as_any_other_key)
{
    clip(0);
    fake.has_console = false;
    EXPECT_NE(play().find(prompt1 + prompt2 + "cnt = "), std::string::npos);
}

TEST_F(report, open_failure_prints_open_err_and_touches_nothing)
{
    fake.open_fails = true;
    EXPECT_EQ(play(), "open err\n");
    EXPECT_FALSE(fake.window_open);
    EXPECT_EQ(play(nullptr), "open err\n");
}

TEST_F(report, three_streams_last_of_each_kind_wins_and_every_reference_is_returned)
{
    fake.streams = {{video_info(1, 8, 6)}, {audio_info(100)}, {audio_info(5000)}};
    fake.streams[2].samples = numbered_samples(5000);
    modes('n');
    const std::string out = play();
    EXPECT_EQ(out.substr(0, 8), "strs = 3");
    EXPECT_NE(out.find("au_length=5000 4(frame)"), std::string::npos);
    for (const fake_stream& s : fake.streams)
        EXPECT_EQ(s.refs, 0);
    EXPECT_EQ(fake.file_refs, 0);
    // Frame 0's slice came from the last audio stream.
    ASSERT_EQ(fake.played.size(), 0u);  // non_monitor plays nothing
}

TEST_F(report, no_video_stream_reports_what_exists_and_opens_no_window)
{
    fake.streams = {{audio_info(2134)}};
    EXPECT_EQ(play(), "strs = 1 \nau_S=2 au_R=64000 au_length=2134 2(frame)\nno video stream\n");
    EXPECT_FALSE(fake.window_open);
    EXPECT_EQ(fake.streams[0].refs, 0);
    EXPECT_EQ(fake.file_refs, 0);
}

TEST_F(report, no_streams_at_all)
{
    EXPECT_EQ(play(), "strs = 0 \nno video stream\n");
    EXPECT_EQ(fake.file_refs, 0);
}

TEST_F(report, no_audio_stream_is_said_and_playback_goes_on)
{
    fake.streams = {{video_info(2)}};
    modes('x', 'x');
    const std::string out = play();
    EXPECT_NE(out.find("h = 2 w = 4\nno audio stream\n" + prompt1), std::string::npos);
    EXPECT_NE(out.find("frame=    1 \n"), std::string::npos);
}

TEST_F(report, a_stream_without_a_decoder_is_said_and_every_frame_still_gets_its_line)
{
    clip(2);
    fake.no_decoder = true;
    modes('n');
    const std::string out = play();
    EXPECT_NE(out.find("(frame)\nno decoder\n"), std::string::npos);
    EXPECT_NE(out.find("decode err frame=    0 \ndecode err frame=    1 \n"), std::string::npos);
}

TEST_F(report, sound_without_a_decoder_is_said_once_and_plays_as_silence)
{
    clip(2);
    fake.no_sound_decoder = true;
    modes('x', 'x');
    const std::string out = play();
    EXPECT_NE(out.find("(frame)\nno audio decoder\n" + prompt1), std::string::npos);
    EXPECT_EQ(out.find("no audio decoder"), out.rfind("no audio decoder"));
    ASSERT_FALSE(fake.played.empty());
    for (const std::vector<unsigned char>& slice : fake.played)
        EXPECT_EQ(std::count(slice.begin() + slice_header_bytes, slice.end(), 0), slice_bytes);
}

TEST(report_lines, cnt_wraps_as_32_bit_arithmetic)
{
    EXPECT_EQ(frame_bytes_count(320, 240), 307364);
    EXPECT_EQ(frame_bytes_count(32768, 32768), 164);  // 2^32 + 164 wraps
    EXPECT_EQ(report_cnt(frame_bytes_count(0, 0)), "cnt = 164\n");
}

TEST(report_lines, huge_unsigned_header_values_print_as_stored_signed_numbers)
{
    avi_stream_info audio = audio_info(0xFFFFFFFFu);
    EXPECT_EQ(report_audio(audio), "au_S=2 au_R=64000 au_length=-1 4025273(frame)\n");
}

TEST(report_lines, frame_column_counts_the_duration_of_sound_in_other_formats)
{
    // MP3 at 44100 Hz: 308 blocks of 1152 samples, 8.05 s.
    EXPECT_EQ(report_audio({stream_type_audio, 1152, 44100, 308, {}}),
              "au_S=1152 au_R=44100 au_length=308 241(frame)\n");
    // 8-bit PCM at 22050 Hz: 6 s of one-byte samples.
    EXPECT_EQ(report_audio({stream_type_audio, 1, 22050, 132300, {}}),
              "au_S=1 au_R=22050 au_length=132300 179(frame)\n");
    // No time base: the length is taken as samples.
    EXPECT_EQ(report_audio({stream_type_audio, 0, 0, 2134, {}}),
              "au_S=0 au_R=0 au_length=2134 2(frame)\n");
    // A time base that makes the duration absurd stops at the largest count.
    EXPECT_EQ(report_audio({stream_type_audio, 0xFFFFFFFFu, 1, 0xFFFFFFFFu, {}}),
              "au_S=-1 au_R=1 au_length=-1 2147483647(frame)\n");
}

}  // namespace
