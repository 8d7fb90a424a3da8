// The AVI service's backend over Video for Windows' AVIFile library (platform/avi/avi_backend.h).
// The library trusts what a file's headers claim and has crashed, aborted or walked for weeks on
// damaged files: the service asks it only for what the file really stores, and this backend
// holds back what the library itself cannot read safely.
#include <windows.h>
#include <vfw.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "platform/avi/avi_backend.h"
#include "platform/avi_checks/avi_stream_checks.h"
#include "platform/avi_file.h"
#include "platform/win32/avi/converted_sound_acm.h"

#ifndef _WIN64
static_assert(sizeof(AVIFILEINFOA) == 108 && sizeof(AVISTREAMINFOA) == 140);
#endif
static_assert(sizeof(BITMAPINFOHEADER) == sizeof(bitmap_info_header));

namespace {

struct library_stream {
    PAVISTREAM stream = nullptr;  // null if the library has none
    bool usable = false;          // the library may be asked for its frames or sound
    bool readable = false;        // audio: the library may be asked for samples
    int64_t blocks = 0;           // audio: whole blocks of the format stored
};

}  // namespace

struct avi_backend_file {
    PAVIFILE library = nullptr;
    std::vector<library_stream> streams;
};

struct avi_backend_frames {
    PGETFRAME frames;
};

struct avi_backend_audio {
    library_stream* stream;
    uint32_t sample_bytes;
    converted_sound* sound = nullptr;
};

namespace {

// The library finds its file handlers through COM, which must be set up on the calling thread
// before the first open; the library is left set up until the process ends.
void start_library()
{
    static const bool started = (AVIFileInit(), true);
    (void)started;
}

// Whether the library may be asked for the audio's samples: it counts them in blocks of the
// format's alignment, finds them through the file's idx1 index (without one it has faulted on
// the first read), and cannot read a block split between two chunks.
bool library_reads(const avi_raw_stream& raw, const avi_stored_file& stored, uint32_t index)
{
    // Compressed packets of varying size (sample size 0, MP3 for one) are read as a byte
    // stream and left to the converter; stored PCM must come in whole blocks.
    const bool packets = raw.sample_size == 0 && raw.wave_format != WAVE_FORMAT_PCM &&
                         raw.wave_block_align > 0;
    return stored.counted && stored.counts->from_index &&
           (packets || audio_blocks_whole(raw, *stored.counts, index));
}

}  // namespace

avi_backend_file* avi_backend_open(const char* path, const avi_stored_file& stored)
{
    start_library();
    PAVIFILE opened = nullptr;
    if (AVIFileOpenA(&opened, path, OF_READ, nullptr) != 0 || !opened)
        return nullptr;
    avi_backend_file* f = new avi_backend_file;
    f->library = opened;
    const std::vector<avi_raw_stream>& raw = stored.headers->streams;
    f->streams.resize(raw.size());
    // The file's own description (AVIFileInfo) is never asked for: the library derives it from
    // every stream's scale and rate and aborts on a zero one.
    for (size_t i = 0; i < raw.size(); i++) {
        library_stream& s = f->streams[i];
        if (AVIFileGetStream(opened, &s.stream, 0, LONG(i)) != 0)
            s.stream = nullptr;
        if (s.stream && raw[i].type == stream_type_audio) {
            s.readable = library_reads(raw[i], stored, uint32_t(i));
            s.blocks = stored_samples(*stored.counts, stored.counted, uint32_t(i),
                                      raw[i].wave_block_align);
        }
        // Audio reaches the library only where it can read it, for the converter as for
        // stored reads.
        s.usable = s.stream && (raw[i].type != stream_type_audio || s.readable);
    }
    return f;
}

void avi_backend_close(avi_backend_file* file)
{
    for (library_stream& s : file->streams)
        if (s.stream)
            AVIStreamRelease(s.stream);
    if (file->library)
        AVIFileRelease(file->library);
    delete file;
}

bool avi_backend_has_stream(avi_backend_file* file, uint32_t index)
{
    return file->streams[index].usable;
}

bool avi_backend_reads_samples(avi_backend_file* file, uint32_t index)
{
    return file->streams[index].readable;
}

avi_backend_frames* avi_backend_frames_open(avi_backend_file* file, uint32_t index, int64_t)
{
    PGETFRAME frames = AVIStreamGetFrameOpen(file->streams[index].stream, nullptr);
    return frames ? new avi_backend_frames{frames} : nullptr;
}

const bitmap_info_header* avi_backend_frame(avi_backend_frames* frames, int32_t index)
{
    return static_cast<const bitmap_info_header*>(AVIStreamGetFrame(frames->frames, LONG(index)));
}

// The library converts every frame it decodes; there is nothing to spare.
void avi_backend_frames_rows_wanted(avi_backend_frames*, bool) {}

void avi_backend_frames_close(avi_backend_frames* frames)
{
    AVIStreamGetFrameClose(frames->frames);
    delete frames;
}

avi_backend_audio* avi_backend_audio_open(avi_backend_file* file, uint32_t index,
                                          uint32_t sample_bytes)
{
    return new avi_backend_audio{&file->streams[index], sample_bytes};
}

int64_t avi_backend_audio_read(avi_backend_audio* audio, int64_t first, int64_t count, void* buffer)
{
    // The service asks for whole stored samples, which the buffer holds.
    const int64_t room = count * audio->sample_bytes;
    LONG bytes = 0;
    LONG samples = 0;
    HRESULT result = AVIStreamRead(audio->stream->stream, LONG(first), LONG(count), buffer,
                                   LONG(std::min<int64_t>(room, LONG_MAX)), &bytes, &samples);
    // Asked for more samples than the buffer holds, Wine's library fills the buffer and still
    // reports the buffer as too small; what fits is what was asked for.
    if (result == AVIERR_BUFFERTOOSMALL && bytes > 0)
        result = 0;
    return result == 0 ? samples : -1;
}

bool avi_backend_sound_open(avi_backend_audio* audio)
{
    const int32_t end = int32_t(std::min<int64_t>(audio->stream->blocks, INT32_MAX));
    audio->sound = converted_sound_open(audio->stream->stream, end);
    return audio->sound != nullptr;
}

int64_t avi_backend_sound_read(avi_backend_audio* audio, int64_t first, int64_t count, void* buffer)
{
    return converted_sound_read(audio->sound, first, count, buffer);
}

void avi_backend_audio_close(avi_backend_audio* audio)
{
    if (audio->sound)
        converted_sound_close(audio->sound);
    delete audio;
}
