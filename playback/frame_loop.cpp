#include "playback/frame_loop.h"

#include <cstdio>

#include "display/display.h"
#include "platform/dialogs.h"
#include "platform/sound.h"
#include "playback/audio_slice.h"
#include "playback/console.h"
#include "playback/playback_state.h"
#include "playback/report.h"
#include "playback/slice_clock.h"
#include "playback/texts.h"

namespace {

// Shows the frame's picture, title and console line, and plays its slice.
void show_frame(playback_state& state, uint32_t length)
{
    state.decoded_frame = avi_frame_get(state.decoder, state.frame);
    if (state.decoded_frame) {
        std::printf("color = %d ", state.decoded_frame->biBitCount);
        state.pixel_data = set_frame_header(state.decoded_frame);
    } else {
        // An undecodable frame leaves the last picture on screen; playback goes on.
        std::fputs(text_decode_err, stdout);
        state.pixel_data = nullptr;
    }

    compose_title(state.title_text, state.decoded_frame, state.pixel_data, state.path, state.frame,
                  length);
    set_display_title(state.title_text.c_str());

    if (!state.non_monitor && state.decoded_frame) {
        draw_frame_bits(state.pixel_data);
        present_frame();
    }

    build_audio_slice(state, state.frame);
    // Without a sound device the slice cannot set the pace, so a clock of its length does.
    if (!state.non_monitor && !sound_play_wave(state.slice_buffer.get(), slice_wave_bytes))
        wait_slice_time(state.pace);

    std::printf("frame= %4d \n", state.frame);
}

// A keystroke during playback asks whether to step, resume or quit; false means quit.
bool handle_interruption(playback_state& state)
{
    if (!key_pending())
        return true;
    wait_key();
    sound_drain();
    state.answer = dialog_yes_no_cancel(text_interrupt, text_dialog_caption);
    if (state.answer == answer_yes)
        state.step_mode = 1;
    else if (state.answer == answer_cancel)
        return false;
    else if (state.answer == answer_no)
        state.step_mode = 0;
    return true;
}

// In step mode, asks for the next frame, the previous one, or continuous play.
void ask_step(playback_state& state)
{
    sound_drain();
    state.answer = dialog_yes_no_cancel(text_step, text_dialog_caption);
    if (state.answer == answer_no)
        // Back one frame; on frame 0 there is none before it, so frame 0 is shown again.
        state.frame = state.frame > 0 ? state.frame - 2 : -1;
    else if (state.answer == answer_cancel)
        state.step_mode = 0;
}

}  // namespace

void run_frame_loop(playback_state& state)
{
    prepare_audio_slice(state);
    const uint32_t length = video_slot(state)->info.length;

    for (state.frame = 0; uint32_t(state.frame) < length; state.frame++) {
        // A window the user closed ends playback as quitting does.
        if (display_closed())
            break;
        show_frame(state, length);
        if (!handle_interruption(state))
            break;
        if (state.step_mode)
            ask_step(state);
    }
}
