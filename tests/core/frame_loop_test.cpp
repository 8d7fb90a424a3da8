// The frame loop's walk through a clip: continuous play, step mode, interruptions, the window
// titles, and the ways playback ends.
#include <chrono>
#include <cstring>
#include <regex>

#include "core/playback_fixture.h"
#include "playback/audio_slice.h"

namespace {

using frame_loop = playback_test;

const std::string interrupt_text = "ステップ動作にする-はい 連続処理再開-いいえ 終了-キャンセル";
const std::string step_text = "次のフレーム-はい 前のフレーム-いいえ 連続表示-キャンセル";

// The first sample of the audio in a played WAVE image, which tells the frame it belongs to.
int32_t frame_of_slice(const std::vector<unsigned char>& wave)
{
    int16_t first;
    std::memcpy(&first, wave.data() + slice_header_bytes, 2);
    return (first - 1) / samples_per_frame;
}

std::vector<int32_t> played_frames()
{
    std::vector<int32_t> frames;
    for (const auto& wave : fake.played)
        frames.push_back(frame_of_slice(wave));
    return frames;
}

TEST_F(frame_loop, continuous_play_shows_plays_and_reports_every_frame_in_order)
{
    clip(5);
    modes('x', 'x');
    const std::string out = play();
    EXPECT_NE(out.find("cnt = 196\ncolor = 24 frame=    0 \ncolor = 24 frame=    1 \n"
                       "color = 24 frame=    2 \ncolor = 24 frame=    3 \ncolor = 24 frame=    4 \n"),
              std::string::npos)
        << out;
    EXPECT_EQ(fake.drawn, (std::vector<int32_t>{0, 1, 2, 3, 4}));
    EXPECT_EQ(played_frames(), (std::vector<int32_t>{0, 1, 2, 3, 4}));
    for (const auto& wave : fake.played)
        EXPECT_EQ(wave.size(), size_t(slice_wave_bytes));
    EXPECT_TRUE(fake.dialogs.empty());
    EXPECT_TRUE(fake.sound_closed);
    EXPECT_EQ(fake.file_refs, 0);
}

TEST_F(frame_loop, step_mode_from_the_prompt_asks_after_frame_0s_slice)
{
    clip(3);
    modes('x', 's');
    fake.answers = {answer_yes, answer_yes, answer_yes};
    play();
    ASSERT_EQ(fake.dialogs.size(), 3u);
    EXPECT_EQ(fake.dialogs[0].text, step_text);
    EXPECT_EQ(fake.dialogs[0].after_frame, 0);
    EXPECT_EQ(played_frames(), (std::vector<int32_t>{0, 1, 2}));
}

TEST_F(frame_loop, no_on_frame_5_shows_frame_4_and_plays_its_slice_again)
{
    clip(8);
    modes('x', 's');
    fake.answers = {answer_yes, answer_yes, answer_yes, answer_yes, answer_yes, answer_no,
                    answer_cancel};
    play();
    EXPECT_EQ(fake.decoded, (std::vector<int32_t>{0, 1, 2, 3, 4, 5, 4, 5, 6, 7}));
    EXPECT_EQ(played_frames(), fake.decoded);
    EXPECT_EQ(fake.played[4], fake.played[6]);  // frame 4's slice, byte for byte
}

TEST_F(frame_loop, a_step_session_yes_yes_no_yes_yes_cancel)
{
    clip(10);
    modes('x', 's');
    fake.answers = {answer_yes, answer_yes, answer_no, answer_yes, answer_yes, answer_cancel};
    const std::string out = play();
    // After frame 0: Yes→1, Yes→2, No→1, Yes→2, Yes→3, Cancel→ continuous from 4.
    EXPECT_EQ(fake.decoded, (std::vector<int32_t>{0, 1, 2, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(fake.dialogs.size(), 6u);
}

TEST_F(frame_loop, no_on_frame_0_shows_frame_0_again)
{
    clip(3);
    modes('x', 's');
    fake.answers = {answer_no, answer_yes, answer_yes, answer_yes};
    play();
    EXPECT_EQ(fake.decoded, (std::vector<int32_t>{0, 0, 1, 2}));
}

TEST_F(frame_loop, a_key_brings_up_the_interruption_and_yes_asks_the_step_question_at_once)
{
    clip(6);
    modes('x', 'x');
    fake.keys_after_frame[2] = {{'k', 0}};
    fake.answers = {answer_yes, answer_yes, answer_cancel};
    play();
    ASSERT_EQ(fake.dialogs.size(), 3u);
    EXPECT_EQ(fake.dialogs[0].text, interrupt_text);
    EXPECT_EQ(fake.dialogs[0].after_frame, 2);
    EXPECT_EQ(fake.dialogs[1].text, step_text);
    EXPECT_EQ(fake.dialogs[1].after_frame, 2);
    EXPECT_EQ(fake.dialogs[2].after_frame, 3);
    EXPECT_EQ(fake.decoded, (std::vector<int32_t>{0, 1, 2, 3, 4, 5}));
    // Each dialog waits for the frame's slice to be heard; continuous play never waits.
    for (const auto& dialog : fake.dialogs)
        EXPECT_TRUE(dialog.sound_done) << dialog.text << " after frame " << dialog.after_frame;
    EXPECT_EQ(fake.drains, 3);
}

TEST_F(frame_loop, cancel_in_the_interruption_ends_playback_with_no_step_question)
{
    clip(10);
    modes('x', 's');
    fake.keys_after_frame[3] = {{'k', 0}};
    fake.answers = {answer_yes, answer_yes, answer_yes, answer_cancel};
    const std::string out = play();
    EXPECT_EQ(fake.decoded, (std::vector<int32_t>{0, 1, 2, 3}));
    ASSERT_EQ(fake.dialogs.size(), 4u);
    EXPECT_EQ(fake.dialogs[3].text, interrupt_text);
    EXPECT_EQ(fake.drawn.back(), 3);  // frame 3 stays on display
    EXPECT_TRUE(out.ends_with("cnt = 196\ncolor = 24 frame=    0 \ncolor = 24 frame=    1 \n"
                             "color = 24 frame=    2 \ncolor = 24 frame=    3 \n"))
        << out;
}

TEST_F(frame_loop, no_in_the_interruption_resumes_continuous_play)
{
    clip(6);
    modes('x', 's');
    fake.keys_after_frame[1] = {{'k', 0}};
    fake.answers = {answer_yes, answer_no};
    play();
    // Yes after 0; at 1 the key: No clears step mode, so no step question follows it.
    EXPECT_EQ(fake.dialogs.size(), 2u);
    EXPECT_EQ(fake.decoded, (std::vector<int32_t>{0, 1, 2, 3, 4, 5}));
}

TEST_F(frame_loop, an_arrow_key_brings_up_the_interruption_twice)
{
    clip(6);
    modes('x', 'x');
    fake.keys_after_frame[1] = {{224, 72}};
    fake.answers = {answer_no, answer_no};
    play();
    ASSERT_EQ(fake.dialogs.size(), 2u);
    EXPECT_EQ(fake.dialogs[0].after_frame, 1);
    EXPECT_EQ(fake.dialogs[1].after_frame, 2);
    EXPECT_TRUE(fake.keys.empty());
}

TEST_F(frame_loop, a_dialog_that_cannot_be_shown_changes_nothing)
{
    clip(4);
    modes('x', 's');
    fake.answers = {0, 0, 0, 0};
    play();
    EXPECT_EQ(fake.decoded, (std::vector<int32_t>{0, 1, 2, 3}));
}

TEST_F(frame_loop, length_0_runs_no_pass_and_the_window_stays_white)
{
    clip(0);
    modes('x', 'x');
    play();
    EXPECT_TRUE(fake.decoded.empty());
    EXPECT_TRUE(fake.titles.empty());
    EXPECT_EQ(fake.clears, 1);
    EXPECT_EQ(fake.presents, 1);
}

TEST_F(frame_loop, titles_name_the_frame_its_addresses_and_the_whole_path)
{
    clip(3);
    modes('n');
    const std::string path = "/clips/" + std::string(300, 'x') + ".avi";
    play(path.c_str());
    ASSERT_EQ(fake.titles.size(), 3u);
    const std::regex shape("BITMAPINFOHEADER@([0-9A-F]{8,}),([0-9A-F]{8,}) \\[(.*)\\] frame (\\d+)/(\\d+) ");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(fake.titles[2], m, shape)) << fake.titles[2];
    EXPECT_EQ(std::stoull(m[2], nullptr, 16), std::stoull(m[1], nullptr, 16) + 40);
    EXPECT_EQ(m[3], path);
    EXPECT_EQ(m[4], "2");
    EXPECT_EQ(m[5], "3");
}

TEST_F(frame_loop, non_monitor_titles_and_reports_every_frame_without_picture_or_sound)
{
    clip(4);
    modes('n');
    const std::string out = play();
    EXPECT_EQ(fake.titles.size(), 4u);
    EXPECT_TRUE(fake.drawn.empty());
    EXPECT_TRUE(fake.played.empty());
    EXPECT_NE(out.find("color = 24 frame=    3 \n"), std::string::npos);
    EXPECT_TRUE(fake.window_open);  // the window exists, white
    EXPECT_FALSE(fake.rows_wanted);  // no picture is converted for nobody
}

TEST_F(frame_loop, an_undecodable_frame_keeps_the_last_picture_and_playback_goes_on)
{
    clip(4);
    fake.undecodable = {2};
    modes('x', 'x');
    const std::string out = play();
    EXPECT_NE(out.find("color = 24 frame=    1 \ndecode err frame=    2 \ncolor = 24 frame=    3 \n"),
              std::string::npos);
    EXPECT_EQ(fake.drawn, (std::vector<int32_t>{0, 1, 3}));
    EXPECT_EQ(played_frames(), (std::vector<int32_t>{0, 1, 2, 3}));
    EXPECT_EQ(fake.titles.size(), 4u);
}

TEST_F(frame_loop, closing_the_window_ends_playback_as_quitting_does)
{
    clip(10);
    modes('x', 'x');
    fake.close_window_after_frame = 3;
    play();
    EXPECT_EQ(fake.decoded, (std::vector<int32_t>{0, 1, 2, 3}));
    EXPECT_EQ(fake.file_refs, 0);
}

TEST_F(frame_loop, a_file_without_audio_plays_every_frame_in_silence)
{
    fake.streams = {{video_info(3)}};
    modes('x', 'x');
    play();
    ASSERT_EQ(fake.played.size(), 3u);
    for (const auto& wave : fake.played)
        for (int i = slice_header_bytes; i < slice_wave_bytes; i++)
            ASSERT_EQ(wave[i], 0);
}

TEST_F(frame_loop, without_a_sound_device_frames_still_come_one_slice_apart)
{
    clip(7);
    fake.no_sound_device = true;
    modes('x', 'x');
    const auto start = std::chrono::steady_clock::now();
    play();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(fake.decoded.size(), 7u);
    // Seven slices of 2134 bytes at 64000 bytes a second: at least 233 ms, however fast the rest.
    EXPECT_GE(elapsed, std::chrono::microseconds(7 * 2134 * 1000000LL / 64000));
}

}  // namespace
