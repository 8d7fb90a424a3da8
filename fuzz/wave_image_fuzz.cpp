// libFuzzer target over the WAVE image parser the sound services use on every slice: whatever it
// accepts must describe a playable format and samples wholly inside the image.
#include <cstdint>
#include <cstdlib>

#include "platform/common/wave_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    wave_image image;
    if (!parse_wave_image(data, size, &image))
        return 0;
    const wave_format& f = image.format;
    if (f.channels < 1 || f.channels > 8 || f.sample_rate < 1000 || f.sample_rate > 384000 ||
        image.frame_bytes == 0 || image.frame_bytes % f.channels != 0 ||
        image.sample_bytes % image.frame_bytes != 0 || !same_wave_format(f, f))
        std::abort();
    const uint8_t* samples = image.samples;
    if (samples < data || samples > data + size || image.sample_bytes > size_t(data + size - samples))
        std::abort();
    // Every sample byte is read: one the parser placed outside the image is an ASan report.
    unsigned sum = 0;
    for (size_t i = 0; i < image.sample_bytes; i++)
        sum += samples[i];
    volatile unsigned kept = sum;
    (void)kept;
    return 0;
}
