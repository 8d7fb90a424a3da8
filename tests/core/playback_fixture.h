// Runs the playback routine against the fake platform and captures its console transcript.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "display/display.h"
#include "fakes/fake_platform.h"
#include "platform/dialogs.h"
#include "playback/play_avi.h"

class playback_test : public ::testing::Test {
protected:
    void SetUp() override { reset_fake(); }
    void TearDown() override { close_display(); }

    // A clip of `frames` video frames with audio for all of them, video first.
    void clip(uint32_t frames)
    {
        fake.streams = {{video_info(frames)}, {audio_info(frames * 1067)}};
        fake.streams[1].samples = numbered_samples(frames * 1067);
    }

    // Types the answers to the mode prompts; a key the program does not read stays waiting.
    void modes(int first, int second = 0)
    {
        if (second)
            fake.keys.push_front({second, 0});
        fake.keys.push_front({first, 0});
    }

    std::string play(const char* path = "/clips/a.avi")
    {
        testing::internal::CaptureStdout();
        play_avi(path);
        return testing::internal::GetCapturedStdout();
    }
};
