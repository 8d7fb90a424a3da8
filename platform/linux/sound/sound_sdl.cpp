// Sound over SDL2 audio: every WAVE image goes into the queue of one open output device, and the
// call waits while the device takes the queue, so that the device's own clock paces playback.
#include <SDL.h>
#include <dlfcn.h>

#include "platform/common/wave_image.h"
#include "platform/sound.h"

namespace {

// Frames per device buffer. The device takes the queue a buffer at a time. A power of two: SDL's
// dummy and disk drivers pace whole milliseconds per buffer, and they lose least time to
// oversleeping with few, large buffers.
constexpr Uint16 device_buffer_frames = 1024;
// A call returns once fewer than this many buffers are left in the queue, so the caller has one
// to two buffers' time (32 to 64 ms at 32000 Hz) to queue the next image before the device
// would pad with silence: a frame that costs more than its own slice does not break the sound.
// The price is that a picture leads its sound by up to as long; 64 ms is well below what
// viewers notice as sound coming late.
constexpr Uint32 queued_ahead_buffers = 2;
// A device that takes nothing from its queue for this long has stopped.
constexpr Uint64 stall_ms = 1000;

struct sound_output {
    bool subsystem_up;      // SDL's audio subsystem is initialised, by us
    bool subsystem_failed;  // no audio driver: every call fails at once until sound_close
    SDL_AudioDeviceID device;
    wave_format format;  // what the open device plays
    Uint32 buffer_bytes;
    bool started;       // unpaused, after the first image was queued
    bool open_failed;   // the device could not be opened for failed_format; not retried
    wave_format failed_format;
};

sound_output out;

void ignore_alsa_message(const char*, int, const char*, int, const char*, ...) {}

// libasound prints its own complaints (no card, unknown PCM) to stderr; SDL loads it with
// dlopen, so its handler can only be reached the same way, once SDL has loaded it.
void quiet_alsa()
{
    void* library = dlopen("libasound.so.2", RTLD_LAZY | RTLD_NOLOAD);
    if (!library)
        return;
    using handler = void (*)(const char*, int, const char*, int, const char*, ...);
    using set_handler = int (*)(handler);
    if (auto set = reinterpret_cast<set_handler>(dlsym(library, "snd_lib_error_set_handler")))
        set(ignore_alsa_message);
    dlclose(library);
}

bool start_subsystem()
{
    if (out.subsystem_up)
        return true;
    if (out.subsystem_failed)
        return false;
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // Above every real priority: no audio message (the disk driver's warning) reaches stderr.
    SDL_LogSetPriority(SDL_LOG_CATEGORY_AUDIO, SDL_NUM_LOG_PRIORITIES);
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        out.subsystem_failed = true;
        return false;
    }
    out.subsystem_up = true;
    quiet_alsa();
    return true;
}

SDL_AudioFormat sdl_format(sample_encoding encoding)
{
    switch (encoding) {
    case sample_encoding::unsigned8:
        return AUDIO_U8;
    case sample_encoding::signed16:
        return AUDIO_S16LSB;
    case sample_encoding::signed32:
        return AUDIO_S32LSB;
    case sample_encoding::float32:
        return AUDIO_F32LSB;
    }
    return AUDIO_S16LSB;
}

// Sleeps in 1 ms steps until fewer than `limit` bytes are queued. The queue shrinks a whole
// buffer at a time at moments that cannot be foreseen, so longer sleeps would eat into the
// time the caller has to queue more. False when the device stops taking data.
bool wait_for_queue_below(Uint32 limit)
{
    Uint32 queued = SDL_GetQueuedAudioSize(out.device);
    Uint64 last_progress = SDL_GetTicks64();
    while (queued >= limit && queued > 0) {
        SDL_Delay(1);
        const Uint32 now_queued = SDL_GetQueuedAudioSize(out.device);
        const Uint64 now = SDL_GetTicks64();
        if (now_queued < queued)
            last_progress = now;
        else if (now - last_progress > stall_ms)
            return false;
        queued = now_queued;
    }
    return true;
}

// Lets the queue play out, then closes the device; closing waits two buffers' time itself, for
// the device's last buffers to drain.
void close_device()
{
    if (!out.device)
        return;
    if (out.started)
        wait_for_queue_below(1);
    SDL_CloseAudioDevice(out.device);
    out.device = 0;
    out.started = false;
}

// A device that stopped taking data is dropped and, like one that cannot be opened, not tried
// again for this format: every later image would wait out the stall again.
void abandon_device()
{
    SDL_ClearQueuedAudio(out.device);
    SDL_CloseAudioDevice(out.device);
    out.device = 0;
    out.started = false;
    out.open_failed = true;
    out.failed_format = out.format;
}

// Keeps the device open while the format stays the same; a new format closes it, after what it
// holds has played, and opens it again.
bool open_device(const wave_image& image)
{
    if (out.device && same_wave_format(out.format, image.format))
        return true;
    if (out.open_failed && same_wave_format(out.failed_format, image.format))
        return false;
    close_device();

    SDL_AudioSpec wanted = {};
    wanted.freq = int(image.format.sample_rate);
    wanted.format = sdl_format(image.format.encoding);
    wanted.channels = Uint8(image.format.channels);
    wanted.samples = device_buffer_frames;
    SDL_AudioSpec obtained = {};
    // No changes allowed: SDL converts to whatever the hardware takes, and the queue, the buffer
    // size and the pacing stay in the image's format.
    out.device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (!out.device) {
        out.open_failed = true;
        out.failed_format = image.format;
        return false;
    }
    out.format = image.format;
    out.buffer_bytes = obtained.size;
    out.started = false;
    return true;
}

}  // namespace

bool sound_play_wave(const void* wave, size_t size)
{
    wave_image image;
    if (!parse_wave_image(wave, size, &image))
        return false;
    if (!start_subsystem() || !open_device(image))
        return false;
    if (image.sample_bytes == 0)
        return true;
    if (SDL_QueueAudio(out.device, image.samples, Uint32(image.sample_bytes)) != 0)
        return false;
    // Unpaused only once data is queued, so that the first buffer the device takes is sound.
    if (!out.started) {
        SDL_PauseAudioDevice(out.device, 0);
        out.started = true;
    }
    if (!wait_for_queue_below(out.buffer_bytes * queued_ahead_buffers)) {
        abandon_device();
        return false;
    }
    return true;
}

void sound_drain()
{
    if (!out.device || !out.started)
        return;
    // The queue is empty once the device has taken its last buffer, which then still plays.
    wait_for_queue_below(1);
    const int rate = int(out.format.sample_rate) > 0 ? int(out.format.sample_rate) : 1;
    SDL_Delay(Uint32(device_buffer_frames * 1000 / rate + 1));
}

void sound_close()
{
    close_device();
    if (out.subsystem_up)
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    out = {};
}
