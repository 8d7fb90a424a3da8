#include "playback/report.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "playback/audio_slice.h"

namespace {

// printf into `out`, reusing its storage: once the title has reached its longest, no frame
// allocates.
[[gnu::format(printf, 2, 3)]] void format_into(std::string& out, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int needed = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    out.resize(needed > 0 ? size_t(needed) : 0);
    if (needed > 0)
        std::vsnprintf(out.data(), out.size() + 1, format, again);
    va_end(again);
}

std::string format(const char* fmt, auto... values)
{
    std::string out;
    format_into(out, fmt, values...);
    return out;
}

// The file's unsigned header values are shown as the signed 32-bit numbers they are stored as.
int32_t as_signed(uint32_t value)
{
    return int32_t(value);
}

// Whole slices of 1067 samples at 32000 Hz in the audio's duration, length x scale / rate seconds
// by its header: the stream's length counts samples only for 16-bit mono 32000 Hz sound, blocks or
// frames of other sizes for MP3, AC-3, ADPCM or other rates. A header without a time base counts
// its length as samples.
int32_t frames_of_audio(const avi_stream_info& audio)
{
    if (audio.scale == 0 || audio.rate == 0)
        return as_signed(audio.length / uint32_t(samples_per_frame));
    const uint64_t numerator = uint64_t(audio.length) * audio.scale;
    const uint64_t denominator = uint64_t(audio.rate) * samples_per_frame;
    const uint64_t whole = numerator / denominator;
    const uint64_t limit = uint64_t(INT32_MAX);
    if (whole > limit / slice_format.nSamplesPerSec)
        return INT32_MAX;
    const uint64_t frames = whole * slice_format.nSamplesPerSec +
                            numerator % denominator * slice_format.nSamplesPerSec / denominator;
    return int32_t(frames < limit ? frames : limit);
}

}  // namespace

std::string report_streams(uint32_t streams)
{
    return format("strs = %d \n", as_signed(streams));
}

std::string report_video(const avi_stream_info& video)
{
    return format("vi_S=%d vi_R=%d vi_length=%d \n", as_signed(video.scale), as_signed(video.rate),
                  as_signed(video.length));
}

std::string report_size(int32_t h, int32_t w)
{
    return format("h = %d w = %d\n", h, w);
}

std::string report_audio(const avi_stream_info& audio)
{
    return format("au_S=%d au_R=%d au_length=%d %d(frame)\n", as_signed(audio.scale),
                  as_signed(audio.rate), as_signed(audio.length),
                  frames_of_audio(audio));
}

std::string report_cnt(int32_t cnt)
{
    return format("cnt = %d\n", cnt);
}

int32_t frame_bytes_count(int32_t w, int32_t h)
{
    return int32_t(uint32_t(w) * uint32_t(h) * 4u + 164u);
}

void compose_title(std::string& title, const void* frame_address, const void* pixel_address,
                   const char* path, int32_t frame, uint32_t length)
{
    format_into(title, "BITMAPINFOHEADER@%08" PRIXPTR ",%08" PRIXPTR " [%s] frame %d/%d ",
                uintptr_t(frame_address), uintptr_t(pixel_address), path ? path : "", frame,
                as_signed(length));
}
