// Sound over the multimedia library: each WAVE image is played to its end by PlaySoundA.
#include "platform/sound.h"

#include <windows.h>
#include <mmsystem.h>

#include "platform/common/wave_image.h"

bool sound_play_wave(const void* wave, size_t size)
{
    // PlaySoundA is given no size: the image must hold every chunk it declares.
    wave_image image;
    if (!wave || !parse_wave_image(wave, size, &image))
        return false;
    return PlaySoundA(static_cast<const char*>(wave), nullptr, SND_MEMORY) != FALSE;
}

void sound_drain()
{
    // PlaySoundA returns once the image has played.
}

void sound_close()
{
    // Every image was played to its end before sound_play_wave returned.
}
