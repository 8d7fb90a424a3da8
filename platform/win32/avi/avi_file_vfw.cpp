// The AVI service's backend over Video for Windows' AVIFile library (platform/avi/avi_backend.h).
// The library trusts what a file's headers claim and has crashed, aborted or walked for weeks on
// damaged files: the service asks it only for what the file really stores, and this backend
// holds back what the library itself cannot read safely. A file the library cannot index (cut
// before its idx1), or whose path it must not be given, is read from its stored chunks instead
// (chunk_reader, chunk_frames), and so is stored PCM whose chunks split its blocks.
#include <windows.h>
#include <vfw.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "platform/avi/avi_backend.h"
#include "platform/avi_checks/avi_stream_checks.h"
#include "platform/avi_file.h"
#include "platform/win32/avi/chunk_frames.h"
#include "platform/win32/avi/chunk_reader.h"
#include "platform/win32/avi/library_path.h"
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
    // Read from the file's chunks rather than through the library; null if not.
    std::unique_ptr<chunk_reader, void (*)(chunk_reader*)> chunks{nullptr, close_chunks};
    std::vector<uint8_t> format;  // the stored format, for a decoder of the chunks
    uint32_t handler = 0;         // the stream header's codec

    static void close_chunks(chunk_reader* reader)
    {
        chunk_reader_close(reader);
        delete reader;
    }
};

}  // namespace

struct avi_backend_file {
    PAVIFILE library = nullptr;
    std::vector<library_stream> streams;
};

struct avi_backend_frames {
    PGETFRAME frames;     // the library's decoder, or
    chunk_frames* chunk;  // the decoder of the stream's chunks
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

// Stored PCM whose chunks split its blocks: the library, which counts in blocks, would read it
// wrong; the chunks read as one run of bytes do not. Only a block that is one sample of every
// channel is believed: other alignments are a damaged header, which the library refuses.
bool pcm_in_split_blocks(const avi_raw_stream& raw, const avi_stored_file& stored, uint32_t index)
{
    return stored.counted && raw.type == stream_type_audio && raw.wave_format == WAVE_FORMAT_PCM &&
           raw.wave_block_align > 0 && raw.wave_bits % 8 == 0 &&
           raw.wave_block_align == raw.wave_channels * (raw.wave_bits / 8) &&
           !audio_blocks_whole(raw, *stored.counts, index);
}

// Opens stream `index` for reading from its chunks; false (none open) if the file cannot be read.
bool open_chunks(library_stream* s, const char* path, const avi_raw_stream& raw, uint32_t index)
{
    s->chunks.reset(new chunk_reader);
    if (!chunk_reader_open(s->chunks.get(), path, index)) {
        s->chunks.reset();
        return false;
    }
    s->format = raw.format;
    s->handler = raw.handler;
    s->usable = true;
    s->readable = raw.type == stream_type_audio;
    return true;
}

}  // namespace

avi_backend_file* avi_backend_open(const char* path, const avi_stored_file& stored)
{
    // The library finds a file's frames and samples through its idx1 index alone; a file
    // without one (cut short) is read from its chunks, and so is one whose path the library
    // must not be given.
    const std::string library_file = library_path(path);
    const bool by_chunks = (stored.counted && !stored.counts->from_index) || library_file.empty();
    PAVIFILE opened = nullptr;
    if (!by_chunks) {
        start_library();
        if (AVIFileOpenA(&opened, library_file.c_str(), OF_READ, nullptr) != 0 || !opened)
            return nullptr;
    }
    avi_backend_file* f = new avi_backend_file;
    f->library = opened;
    const std::vector<avi_raw_stream>& raw = stored.headers->streams;
    f->streams.resize(raw.size());
    // The file's own description (AVIFileInfo) is never asked for: the library derives it from
    // every stream's scale and rate and aborts on a zero one.
    for (size_t i = 0; i < raw.size(); i++) {
        library_stream& s = f->streams[i];
        if (by_chunks || pcm_in_split_blocks(raw[i], stored, uint32_t(i))) {
            open_chunks(&s, path, raw[i], uint32_t(i));
            continue;
        }
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
    library_stream& s = file->streams[index];
    if (s.chunks) {
        chunk_frames* chunk = chunk_frames_open(s.chunks.get(), s.format, s.handler);
        return chunk ? new avi_backend_frames{nullptr, chunk} : nullptr;
    }
    PGETFRAME frames = AVIStreamGetFrameOpen(s.stream, nullptr);
    return frames ? new avi_backend_frames{frames, nullptr} : nullptr;
}

const bitmap_info_header* avi_backend_frame(avi_backend_frames* frames, int32_t index)
{
    if (frames->chunk)
        return chunk_frames_get(frames->chunk, index);
    return static_cast<const bitmap_info_header*>(AVIStreamGetFrame(frames->frames, LONG(index)));
}

// The library converts every frame it decodes; there is nothing to spare.
void avi_backend_frames_rows_wanted(avi_backend_frames*, bool) {}

void avi_backend_frames_close(avi_backend_frames* frames)
{
    if (frames->frames)
        AVIStreamGetFrameClose(frames->frames);
    chunk_frames_close(frames->chunk);
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
    if (chunk_reader* chunks = audio->stream->chunks.get())
        return int64_t(read_chunk_bytes(chunks, uint64_t(first) * audio->sample_bytes, buffer,
                                        uint64_t(room)) / audio->sample_bytes);
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
    if (audio->stream->chunks) {
        audio->sound =
            converted_sound_open_chunks(audio->stream->chunks.get(), audio->stream->format);
        return audio->sound != nullptr;
    }
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
