// The AVI file service's sound reads on Windows: audio stored as the slices hold it (16-bit mono
// PCM at 32000 Hz) is read as stored.
#include "platform/avi_file.h"

#include <windows.h>
#include <mmreg.h>
#include <vfw.h>

#include <vector>

namespace {

PAVISTREAM win(avi_stream* stream)
{
    return reinterpret_cast<PAVISTREAM>(stream);
}

// The stream's format record; empty if it has none.
std::vector<unsigned char> stream_format(avi_stream* stream)
{
    LONG size = 0;
    if (AVIStreamReadFormat(win(stream), 0, nullptr, &size) != 0 || size <= 0 || size > 65536)
        return {};
    std::vector<unsigned char> format(size_t(size) + sizeof(WAVEFORMATEX), 0);
    if (AVIStreamReadFormat(win(stream), 0, format.data(), &size) != 0)
        return {};
    return format;
}

bool plays_stored(avi_stream* stream)
{
    const std::vector<unsigned char> format = stream_format(stream);
    if (format.size() < sizeof(PCMWAVEFORMAT))
        return false;
    const auto* f = reinterpret_cast<const PCMWAVEFORMAT*>(format.data());
    return f->wf.wFormatTag == WAVE_FORMAT_PCM && f->wf.nChannels == 1 &&
           f->wf.nSamplesPerSec == 32000 && f->wBitsPerSample == 16;
}

}  // namespace

int avi_sound_open(avi_stream* stream)
{
    return stream && plays_stored(stream) ? 0 : -1;
}

int avi_sound_read(avi_stream* stream, int32_t first, int32_t count, void* buffer,
                   int32_t* samples_read)
{
    if (samples_read)
        *samples_read = 0;
    if (!stream || !buffer || first < 0 || count < 0 || count > INT32_MAX / 2)
        return -1;
    if (!plays_stored(stream))
        return -1;
    int32_t bytes = 0;
    const int result = avi_stream_read(stream, first, count * 2, buffer, count * 2, &bytes, nullptr);
    if (samples_read)
        *samples_read = bytes / 2;
    return result;
}
