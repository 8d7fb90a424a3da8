#include "playback/play_avi.h"

#include <cstdio>

#include "display/display.h"
#include "platform/sound.h"
#include "playback/console.h"
#include "playback/frame_loop.h"
#include "playback/playback_state.h"
#include "playback/report.h"
#include "playback/texts.h"

namespace {

constexpr int key_n = 'n';
constexpr int key_s = 's';

void print(const std::string& text)
{
    std::fputs(text.c_str(), stdout);
}

// Takes every stream of the file into its slot; the last video and the last audio stream win.
void take_streams(playback_state& state)
{
    for (uint32_t i = 0; i < state.file_info.streams; i++) {
        stream_slot slot;
        slot.stream = avi_file_get_stream(state.file, i);
        if (!slot.stream)
            break;
        avi_stream_add_ref(slot.stream);
        avi_stream_get_info(slot.stream, &slot.info);
        state.stream_slots.push_back(slot);
        if (slot.info.type == stream_type_video)
            state.video_index = int(i);
        else if (slot.info.type == stream_type_audio)
            state.audio_index = int(i);
    }
}

// Gives back everything setup took: the decoder, both references of every stream, the file.
void release_all(playback_state& state)
{
    avi_frame_close(state.decoder);
    for (stream_slot& slot : state.stream_slots) {
        avi_stream_release(slot.stream);
        avi_stream_release(slot.stream);
    }
    avi_file_release(state.file);
}

void ask_modes(playback_state& state)
{
    std::fputs(text_prompt_monitor, stdout);
    if (wait_key() == key_n)
        state.non_monitor = 1;
    if (!state.non_monitor) {
        std::fputs(text_prompt_step, stdout);
        if (wait_key() == key_s)
            state.step_mode = 1;
    }
}

}  // namespace

void play_avi(const char* path)
{
    playback_state state;
    state.path = path;
    state.non_monitor = 0;
    state.step_mode = 0;

    if (avi_file_open(&state.file, path) != 0) {
        std::fputs(text_open_err, stdout);
        return;
    }
    state.file_info.streams = 0;
    if (avi_file_get_info(state.file, &state.file_info) != 0)
        state.file_info.streams = 0;
    print(report_streams(state.file_info.streams));
    take_streams(state);

    const stream_slot* video = video_slot(state);
    const stream_slot* audio = audio_slot(state);
    if (!video) {
        if (audio)
            print(report_audio(audio->info));
        std::fputs(text_no_video, stdout);
        release_all(state);
        return;
    }

    state.decoder = avi_frame_open(video->stream);
    print(report_video(video->info));
    // 32-bit differences that wrap, as the stored numbers do: a hostile rectangle cannot overflow.
    state.h = int32_t(uint32_t(video->info.frame.bottom) - uint32_t(video->info.frame.top));
    state.w = int32_t(uint32_t(video->info.frame.right) - uint32_t(video->info.frame.left));
    print(report_size(state.h, state.w));
    print(audio ? report_audio(audio->info) : std::string(text_no_audio));
    if (!state.decoder)
        std::fputs(text_no_decoder, stdout);
    if (audio && avi_sound_open(audio->stream) != 0)
        std::fputs(text_no_audio_decoder, stdout);

    ask_modes(state);
    avi_frame_set_rows_wanted(state.decoder, !state.non_monitor);

    open_display(state.w, state.h);
    clear_frame();
    present_frame();
    raise_display();

    state.cnt = frame_bytes_count(state.w, state.h);
    print(report_cnt(state.cnt));

    run_frame_loop(state);

    // The last slice is still playing; let it finish before the file goes.
    sound_close();
    release_all(state);
}
