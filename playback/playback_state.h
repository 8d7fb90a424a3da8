// The working record of one play_avi call: the open file, the chosen streams, the modes, the
// audio slice and the frame loop's position.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/avi_file.h"
#include "playback/audio_slice.h"
#include "playback/slice_clock.h"

// One stream of the file and its description; slot i holds the file's i-th stream.
struct stream_slot {
    avi_stream* stream = nullptr;
    avi_stream_info info{};
};

struct playback_state {
    const char* path = nullptr;

    // Setup.
    avi_file* file = nullptr;
    avi_file_info file_info{};
    std::vector<stream_slot> stream_slots;
    int video_index = -1;  // -1: the file has no stream of that type
    int audio_index = -1;
    avi_frame_decoder* decoder = nullptr;
    int32_t w = 0;
    int32_t h = 0;
    int non_monitor = 0;
    int step_mode = 0;
    int32_t cnt = 0;

    // Audio slice: allocated once per playback, reused for every frame.
    std::unique_ptr<unsigned char[]> slice_buffer;
    pcm_wave_format slice_format{};

    // Frame loop.
    int32_t frame = 0;
    const bitmap_info_header* decoded_frame = nullptr;
    const void* pixel_data = nullptr;
    std::string title_text;
    int answer = 0;
    slice_clock pace;  // keeps time only when the slices cannot be played
};

// The chosen video stream's slot, or nullptr when the file has none.
inline const stream_slot* video_slot(const playback_state& state)
{
    return state.video_index < 0 ? nullptr : &state.stream_slots[state.video_index];
}
inline const stream_slot* audio_slot(const playback_state& state)
{
    return state.audio_index < 0 ? nullptr : &state.stream_slots[state.audio_index];
}
