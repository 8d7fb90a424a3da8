#include "fuzz/audio_slices.h"

#include <cstdlib>

void read_slice(avi_stream* stream, int64_t first)
{
    if (first < 0 || first > INT32_MAX)
        return;
    static unsigned char slice[fuzz_slice_bytes];
    int32_t bytes = -1;
    int32_t samples = -1;
    avi_stream_read(stream, int32_t(first), fuzz_slice_bytes, slice, fuzz_slice_bytes, &bytes,
                    &samples);
    if (bytes < 0 || bytes > fuzz_slice_bytes || samples < 0 || samples > fuzz_slice_bytes)
        std::abort();
    samples = -1;
    avi_sound_read(stream, int32_t(first), fuzz_slice_samples, slice, &samples);
    if (samples < 0 || samples > fuzz_slice_samples)
        std::abort();
}

void read_whole_stream(avi_stream* stream)
{
    int32_t bytes = -1;
    avi_stream_read(stream, 0, INT32_MAX, nullptr, 0, &bytes, nullptr);
    if (bytes < 0)
        std::abort();
    static unsigned char large[1 << 20];
    avi_stream_read(stream, 0, INT32_MAX, large, sizeof large, &bytes, nullptr);
    if (bytes < 0 || bytes > int32_t(sizeof large))
        std::abort();
}
