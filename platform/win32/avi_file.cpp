// The AVI file service over Video for Windows' AVIFile library: the handles passed around are
// the library's own interface pointers.
#include "platform/avi_file.h"
#include "platform/win32/sound_read.h"

#include <windows.h>
#include <vfw.h>

#include <cstddef>

#ifndef _WIN64
static_assert(sizeof(AVIFILEINFOA) == 108 && sizeof(AVISTREAMINFOA) == 140);
#endif
static_assert(sizeof(BITMAPINFOHEADER) == sizeof(bitmap_info_header));

namespace {

PAVIFILE win(avi_file* file)
{
    return reinterpret_cast<PAVIFILE>(file);
}
PAVISTREAM win(avi_stream* stream)
{
    return reinterpret_cast<PAVISTREAM>(stream);
}
PGETFRAME win(avi_frame_decoder* decoder)
{
    return reinterpret_cast<PGETFRAME>(decoder);
}

// The library finds its file handlers through COM, which must be set up on the calling thread
// before the first open; the library is left set up until the process ends.
void start_library()
{
    static const bool started = (AVIFileInit(), true);
    (void)started;
}

}  // namespace

int avi_file_open(avi_file** file, const char* path)
{
    *file = nullptr;
    if (!path)
        return -1;
    start_library();
    PAVIFILE opened = nullptr;
    const HRESULT result = AVIFileOpenA(&opened, path, OF_READ, nullptr);
    if (result != 0 || !opened)
        return result != 0 ? int(result) : -1;
    *file = reinterpret_cast<avi_file*>(opened);
    return 0;
}

int avi_file_get_info(avi_file* file, avi_file_info* info)
{
    AVIFILEINFOA record = {};
    const HRESULT result = AVIFileInfoA(win(file), &record, sizeof record);
    if (result != 0)
        return int(result);
    info->streams = record.dwStreams;
    return 0;
}

avi_stream* avi_file_get_stream(avi_file* file, uint32_t index)
{
    PAVISTREAM stream = nullptr;
    if (AVIFileGetStream(win(file), &stream, 0, LONG(index)) != 0)
        return nullptr;
    return reinterpret_cast<avi_stream*>(stream);
}

void avi_stream_add_ref(avi_stream* stream)
{
    if (stream)
        AVIStreamAddRef(win(stream));
}

int avi_stream_get_info(avi_stream* stream, avi_stream_info* info)
{
    AVISTREAMINFOA record = {};
    const HRESULT result = AVIStreamInfoA(win(stream), &record, sizeof record);
    if (result != 0)
        return int(result);
    info->type = record.fccType;
    info->scale = record.dwScale;
    info->rate = record.dwRate;
    info->length = record.dwLength;
    info->frame = {record.rcFrame.left, record.rcFrame.top, record.rcFrame.right,
                   record.rcFrame.bottom};
    return 0;
}

avi_frame_decoder* avi_frame_open(avi_stream* stream)
{
    if (!stream)
        return nullptr;
    return reinterpret_cast<avi_frame_decoder*>(AVIStreamGetFrameOpen(win(stream), nullptr));
}

const bitmap_info_header* avi_frame_get(avi_frame_decoder* decoder, int32_t index)
{
    if (!decoder)
        return nullptr;
    return static_cast<const bitmap_info_header*>(AVIStreamGetFrame(win(decoder), LONG(index)));
}

int avi_stream_read(avi_stream* stream, int32_t first, int32_t count, void* buffer,
                    int32_t buffer_bytes, int32_t* bytes_read, int32_t* samples_read)
{
    LONG bytes = 0;
    LONG samples = 0;
    HRESULT result =
        stream ? AVIStreamRead(win(stream), first, count, buffer, buffer_bytes, &bytes, &samples)
               : E_POINTER;
    // Asked for more samples than the buffer holds, Wine's library fills the buffer and still
    // reports the buffer as too small; what fits is what was asked for.
    if (result == AVIERR_BUFFERTOOSMALL && bytes > 0)
        result = 0;
    if (bytes_read)
        *bytes_read = result == 0 ? bytes : 0;
    if (samples_read)
        *samples_read = result == 0 ? samples : 0;
    return int(result);
}

void avi_frame_close(avi_frame_decoder* decoder)
{
    if (decoder)
        AVIStreamGetFrameClose(win(decoder));
}

void avi_stream_release(avi_stream* stream)
{
    if (stream && AVIStreamRelease(win(stream)) == 0)
        sound_forget(stream);
}

void avi_file_release(avi_file* file)
{
    // Conversions are only a cache: with the file they all go, lest a later stream at the same
    // address find one.
    sound_forget(nullptr);
    if (file)
        AVIFileRelease(win(file));
}
