// The user-facing services: console keys, dialogs, sound and the window.
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "fakes/fake_platform.h"
#include "platform/console.h"
#include "platform/dialogs.h"
#include "platform/sound.h"
#include "platform/window.h"

fake_platform fake;

void reset_fake()
{
    fake = fake_platform{};
}

avi_stream_info video_info(uint32_t length, int32_t w, int32_t h)
{
    avi_stream_info info{};
    info.type = stream_type_video;
    info.scale = 1001;
    info.rate = 30000;
    info.length = length;
    info.frame = {0, 0, w, h};
    return info;
}

avi_stream_info audio_info(uint32_t samples)
{
    avi_stream_info info{};
    info.type = stream_type_audio;
    info.scale = 2;
    info.rate = 64000;
    info.length = samples;
    return info;
}

std::vector<int16_t> numbered_samples(uint32_t count)
{
    std::vector<int16_t> samples(count);
    for (uint32_t i = 0; i < count; i++)
        samples[i] = int16_t(i % 30000 + 1);
    return samples;
}

int32_t frame_in_pixels(const void* pixels)
{
    int32_t frame;
    std::memcpy(&frame, pixels, sizeof frame);
    return frame;
}

void console_open() {}

bool console_read_key(int* code, int* extended)
{
    if (!fake.has_console || fake.keys.empty())
        return false;
    *code = fake.keys.front().code;
    *extended = fake.keys.front().extended;
    fake.keys.pop_front();
    return true;
}

bool console_key_waiting()
{
    return fake.has_console && !fake.keys.empty();
}

bool dialog_choose_file(const char*, std::string*)
{
    return false;
}

int dialog_yes_no_cancel(const char* text, const char*)
{
    fake.dialogs.push_back({text, fake.decoded.empty() ? -1 : fake.decoded.back(),
                            fake.drained_through == fake.played.size()});
    if (fake.answers.empty())
        return answer_cancel;  // a script that runs dry ends playback rather than hanging
    const int answer = fake.answers.front();
    fake.answers.pop_front();
    return answer;
}

bool sound_play_wave(const void* wave, size_t size)
{
    const auto* bytes = static_cast<const unsigned char*>(wave);
    if (fake.no_sound_device)
        return false;
    fake.played.emplace_back(bytes, bytes + size);
    return true;
}

void sound_drain()
{
    fake.drains++;
    fake.drained_through = fake.played.size();
}

void sound_close()
{
    fake.sound_closed = true;
}

// The window runs on the display thread like a real one: window_run waits for the close.
struct window_handle {
    std::mutex lock;
    std::condition_variable closed_changed;
    bool closed = false;
};

window_handle* window_create(int width, int height, const char*, const char*)
{
    fake.window_open = true;
    fake.window_width = width;
    fake.window_height = height;
    return new window_handle;
}

void window_run(window_handle* window)
{
    std::unique_lock<std::mutex> hold(window->lock);
    window->closed_changed.wait(hold, [window] { return window->closed; });
}

void window_free(window_handle* window)
{
    delete window;
}

void window_clear(window_handle*)
{
    fake.clears++;
}

void window_draw_dib(window_handle*, const bitmap_info_header*, const void* pixels)
{
    fake.drawn.push_back(frame_in_pixels(pixels));
}

void window_present(window_handle*)
{
    fake.presents++;
}

void window_set_title(window_handle*, const char* title)
{
    fake.titles.emplace_back(title);
}

void window_raise(window_handle*) {}

void window_close(window_handle* window)
{
    std::lock_guard<std::mutex> hold(window->lock);
    window->closed = true;
    fake.window_open = false;
    window->closed_changed.notify_all();
}

bool window_closed(window_handle*)
{
    return !fake.window_open;
}
