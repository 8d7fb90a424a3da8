// Scripted stand-ins for every platform service, so the playback and display logic can be run
// frame by frame in a test: a clip made of plain data, keys that arrive when a given frame is
// decoded, dialog answers in order, and a record of everything shown, played and titled.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/avi_file.h"

struct fake_stream {
    fake_stream(const avi_stream_info& description = {}) : info(description) {}
    avi_stream_info info;
    std::vector<int16_t> samples;  // an audio stream's content
    int refs = 0;                  // references held by the program
};

struct fake_key {
    int code = 0;
    int extended = 0;
};

struct fake_dialog {
    std::string text;
    int32_t after_frame;  // the last frame decoded when it was shown
    bool sound_done;      // every slice played so far had been heard to its end
};

struct fake_platform {
    // The clip.
    bool open_fails = false;
    std::vector<fake_stream> streams;
    int file_refs = 0;
    bool no_decoder = false;
    bool no_sound_decoder = false;
    int bit_count = 24;
    int32_t frame_width = 4;
    int32_t frame_height = 2;
    std::set<int32_t> undecodable;

    // The user.
    std::deque<fake_key> keys;                      // waiting now
    std::map<int32_t, std::vector<fake_key>> keys_after_frame;  // arrive once that frame decodes
    std::deque<int> answers;                        // dialog answers, in order
    bool has_console = true;
    int32_t close_window_after_frame = -1;          // the user closes the window then

    // What the program did.
    std::vector<int32_t> decoded;                   // frame indices asked for
    bool rows_wanted = true;                        // as the decoder was last told
    std::vector<std::vector<unsigned char>> played; // WAVE images played
    size_t drained_through = 0;                     // slices heard to their end by a drain
    int drains = 0;
    std::vector<fake_dialog> dialogs;
    std::vector<std::string> titles;
    std::vector<int32_t> drawn;                     // frame index found in each drawn picture
    int presents = 0;
    int clears = 0;
    bool window_open = false;
    int window_width = 0;
    int window_height = 0;
    bool sound_closed = false;
    bool no_sound_device = false;           // every slice fails to play
};

// The one fake world the services read and write; reset before each test.
extern fake_platform fake;
void reset_fake();

// A stream description of each kind, as a clip made for this tool would have.
avi_stream_info video_info(uint32_t length, int32_t w = 4, int32_t h = 2);
avi_stream_info audio_info(uint32_t samples);
// Audio whose every sample tells its index apart from its neighbours.
std::vector<int16_t> numbered_samples(uint32_t count);
// The frame index a fake decoded picture carries in its pixel data.
int32_t frame_in_pixels(const void* pixels);
