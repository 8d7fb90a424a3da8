// libFuzzer target over the sound path alone: every audio stream of the input is read as
// playback reads its slices, stored (stored_sound) and decoded and converted (sound_decoder,
// converted_sound), forward, back, at a place the input picks, and beyond the end. No video is
// decoded, so a run gets through many more inputs than the whole-service target.
#include <cstdint>

#include "fuzz/audio_slices.h"
#include "fuzz/opened_avi.h"
#include "fuzz/scratch_file.h"
#include "platform/avi_checks/riff_bytes.h"

namespace {

constexpr int64_t slices_forward = 4;

void read_sound(avi_stream* stream, const avi_stream_info& info, uint32_t pick)
{
    for (int64_t k = 0; k < slices_forward; k++)
        read_slice(stream, k * fuzz_slice_samples);
    read_slice(stream, fuzz_slice_samples);  // a step back
    // A jump, as a step after a long pause in continuous play, and on from there.
    const int64_t span = int64_t(info.length) + 2 * fuzz_slice_samples;
    const int64_t jump = int64_t(pick % uint64_t(span));
    read_slice(stream, jump);
    read_slice(stream, jump + fuzz_slice_samples);
    read_slice(stream, jump - 1);
    read_slice(stream, int64_t(info.length) - 1);
    read_slice(stream, INT32_MAX);
    read_whole_stream(stream);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* path = write_scratch_file(data, size);
    opened_avi avi;
    if (!path || !open_avi(path, &avi))
        return 0;
    // The input's last four bytes pick where the jump lands, so the fuzzer steers it too.
    const uint32_t pick = size >= 4 ? riff_u32(data + size - 4) : 0;
    for (uint32_t i = 0; i < avi.count; i++) {
        if (avi.infos[i].type == stream_type_audio)
            read_sound(avi.streams[i], avi.infos[i], pick);
    }
    close_avi(&avi);
    return 0;
}
