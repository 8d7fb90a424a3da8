// Reading a complete WAVE image held in memory: its sample format and where its samples are.
#pragma once

#include <cstddef>
#include <cstdint>

// The sample encodings the sound device can take.
enum class sample_encoding { unsigned8, signed16, signed32, float32 };

struct wave_format {
    sample_encoding encoding;
    uint16_t channels;     // 1 to 8, interleaved
    uint32_t sample_rate;  // frames per second
};

struct wave_image {
    wave_format format;
    uint16_t frame_bytes;          // bytes of one frame: channels x bytes per sample
    const unsigned char* samples;  // inside the image
    size_t sample_bytes;           // whole frames only
};

bool same_wave_format(const wave_format& a, const wave_format& b);

// Finds the "fmt " and "data" chunks of the RIFF/WAVE image of `size` bytes and fills `out`.
// False, and nothing read beyond `size`, when the image is truncated (the RIFF size or any chunk
// needed runs past the end, a data chunk declaring more than the image holds included), a chunk
// is missing, or the format is not 8/16/32-bit integer or 32-bit float PCM with 1 to 8 channels
// at 1000 to 384000 Hz. A trailing partial frame in the data is left out.
bool parse_wave_image(const void* image, size_t size, wave_image* out);
