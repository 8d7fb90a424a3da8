// Every frame's share of the audio: a fixed slice in the slices' format (platform/slice_format.h),
// built as a complete WAVE file in memory so the sound service can play it on its own.
#pragma once

#include <cstdint>

#include "platform/slice_format.h"

constexpr int samples_per_frame = slice_samples;       // 1067 samples: 33.34 ms
constexpr int slice_header_bytes = 44;                 // RIFF, fmt and data headers
constexpr int slice_wave_bytes = slice_header_bytes + slice_bytes;
constexpr int slice_buffer_bytes = slice_bytes + 1000;

// The 16-byte PCM format record a WAVE "fmt " chunk holds.
struct pcm_wave_format {
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
};
static_assert(sizeof(pcm_wave_format) == 16, "a PCM format record is 16 bytes");

// Every slice declares this format, whatever the file's audio is.
constexpr pcm_wave_format slice_format = {1, 1, slice_rate, slice_rate * slice_sample_bytes,
                                          slice_sample_bytes, 8 * slice_sample_bytes};

struct playback_state;

// Copies count bytes from src to dst and returns dst + count; a count of 0 or less copies nothing.
unsigned char* copy_bytes(const void* src, int count, unsigned char* dst);
// Allocates the slice buffer and fills in the slice format; once per playback.
void prepare_audio_slice(playback_state& state);
// Fills the slice buffer with the WAVE slice of video frame `frame`: samples frame * 1067 on.
// Bytes the audio stream does not have are silence.
void build_audio_slice(playback_state& state, int32_t frame);
