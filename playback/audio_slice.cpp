#include "playback/audio_slice.h"

#include <cstring>

#include "playback/playback_state.h"

namespace {

// Numbers in the WAVE headers are little-endian whatever the machine is.
unsigned char* copy_u32(uint32_t value, unsigned char* dst)
{
    const unsigned char bytes[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16),
                                    uint8_t(value >> 24)};
    return copy_bytes(bytes, 4, dst);
}

unsigned char* copy_u16(uint16_t value, unsigned char* dst)
{
    const unsigned char bytes[2] = {uint8_t(value), uint8_t(value >> 8)};
    return copy_bytes(bytes, 2, dst);
}

unsigned char* copy_format(const pcm_wave_format& f, unsigned char* dst)
{
    dst = copy_u16(f.wFormatTag, dst);
    dst = copy_u16(f.nChannels, dst);
    dst = copy_u32(f.nSamplesPerSec, dst);
    dst = copy_u32(f.nAvgBytesPerSec, dst);
    dst = copy_u16(f.nBlockAlign, dst);
    return copy_u16(f.wBitsPerSample, dst);
}

}  // namespace

unsigned char* copy_bytes(const void* src, int count, unsigned char* dst)
{
    if (count <= 0)
        return dst;
    std::memcpy(dst, src, size_t(count));
    return dst + count;
}

void prepare_audio_slice(playback_state& state)
{
    if (!state.slice_buffer)
        state.slice_buffer = std::make_unique<unsigned char[]>(slice_buffer_bytes);
    state.slice_format = slice_format;
}

void build_audio_slice(playback_state& state, int32_t frame)
{
    unsigned char* p = state.slice_buffer.get();
    p = copy_bytes("RIFF", 4, p);
    p = copy_u32(slice_bytes + 36, p);
    p = copy_bytes("WAVEfmt ", 8, p);
    p = copy_u32(16, p);
    p = copy_format(state.slice_format, p);
    p = copy_bytes("data", 4, p);
    p = copy_u32(slice_bytes, p);

    int32_t samples_read = 0;
    const stream_slot* audio = audio_slot(state);
    const int64_t first = int64_t(frame) * samples_per_frame;
    if (audio && first >= 0 && first <= INT32_MAX) {
        if (avi_sound_read(audio->stream, int32_t(first), samples_per_frame, p, &samples_read) != 0)
            samples_read = 0;
        if (samples_read < 0 || samples_read > samples_per_frame)
            samples_read = 0;
    }
    // What the stream did not fill is silence, never an earlier frame's sound.
    const int bytes_read = samples_read * 2;
    std::memset(p + bytes_read, 0, size_t(slice_bytes - bytes_read));
}
