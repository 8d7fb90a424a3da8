// What the benchmarks share: a clip opened and its streams taken into a playback_state as
// playback setup does, so that frames and audio slices come as the frame loop asks for them.
#pragma once

#include "platform/avi_file.h"
#include "playback/audio_slice.h"
#include "playback/playback_state.h"

// Opens the clip, takes its streams, opens a decoder on the video and prepares the slice
// buffer; false if there is no video to decode.
inline bool bench_open_clip(playback_state& state, const char* path)
{
    state.path = path;
    if (avi_file_open(&state.file, path) != 0)
        return false;
    avi_file_get_info(state.file, &state.file_info);
    for (uint32_t i = 0; i < state.file_info.streams; i++) {
        stream_slot slot;
        slot.stream = avi_file_get_stream(state.file, i);
        avi_stream_get_info(slot.stream, &slot.info);
        state.stream_slots.push_back(slot);
        if (slot.info.type == stream_type_video)
            state.video_index = int(i);
        else if (slot.info.type == stream_type_audio)
            state.audio_index = int(i);
    }
    if (state.video_index < 0)
        return false;
    state.decoder = avi_frame_open(video_slot(state)->stream);
    prepare_audio_slice(state);
    return state.decoder != nullptr;
}

inline void bench_close_clip(playback_state& state)
{
    avi_frame_close(state.decoder);
    state.decoder = nullptr;
    for (stream_slot& slot : state.stream_slots)
        avi_stream_release(slot.stream);
    state.stream_slots.clear();
    avi_file_release(state.file);
    state.file = nullptr;
}

// The machine's load average over the last minute.
inline double bench_load_average()
{
    double load = 0;
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &load) != 1)
            load = 0;
        std::fclose(f);
    }
    return load;
}
