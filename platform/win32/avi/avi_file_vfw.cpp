// The AVI file service over Video for Windows' AVIFile library. The library trusts what a file's
// headers claim and has crashed, aborted or walked for weeks on damaged files; the file's own
// headers and the data it really stores (platform/avi_checks) decide first what it is asked:
// streams are counted in the header list, video is as long as its stored frames, audio is read
// only within its stored samples, and formats a decoder cannot be given never reach one.
#include "platform/avi_file.h"

#include <windows.h>
#include <vfw.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <vector>

#include "platform/avi_checks/avi_chunk_count.h"
#include "platform/avi_checks/avi_headers.h"
#include "platform/avi_checks/avi_stream_checks.h"
#include "platform/win32/avi/sound_acm.h"

#ifndef _WIN64
static_assert(sizeof(AVIFILEINFOA) == 108 && sizeof(AVISTREAMINFOA) == 140);
#endif
static_assert(sizeof(BITMAPINFOHEADER) == sizeof(bitmap_info_header));

namespace {

enum : int {
    avi_ok = 0,
    avi_error_argument = -1,
    avi_error_open = -2,
    avi_error_not_audio = -4,
};

struct stream_entry {
    avi_stream_info info{};
    PAVISTREAM library = nullptr;  // the library's stream; null if it has none
    bool decodable = false;        // video: the format may be given to a decoder
    bool readable = false;         // audio: the library may be asked for samples
    uint32_t sample_bytes = 0;     // audio: the library's sample, one block of the format
    int64_t frames = 0;            // video: frames stored
    int64_t samples = 0;           // audio: whole samples stored
    avi_stream* live = nullptr;    // the stream's handle while references to it exist
};

}  // namespace

struct avi_file {
    int refs = 1;  // the file's own reference plus one per live stream handle
    bool own_reference = true;
    PAVIFILE library = nullptr;
    std::vector<stream_entry> streams;
};

struct avi_stream {
    avi_file* file;
    uint32_t index;
    int refs;
};

struct avi_frame_decoder {
    avi_stream* stream;
    PGETFRAME frames;
};

namespace {

// The library finds its file handlers through COM, which must be set up on the calling thread
// before the first open; the library is left set up until the process ends.
void start_library()
{
    static const bool started = (AVIFileInit(), true);
    (void)started;
}

bool rect_empty(const avi_rect& r)
{
    return r.right <= r.left || r.bottom <= r.top;
}

// The stream as its header describes it; an empty rectangle on video means the whole picture,
// whose height a top-down format stores negative.
avi_stream_info describe(const avi_raw_stream& raw)
{
    avi_stream_info info{};
    info.type = raw.type;
    info.scale = raw.scale;
    info.rate = raw.rate;
    info.length = raw.length;
    info.frame = {raw.frame[0], raw.frame[1], raw.frame[2], raw.frame[3]};
    if (info.type == stream_type_video && rect_empty(info.frame)) {
        int64_t w = raw.has_format ? raw.bitmap_width : 0;
        int64_t h = raw.has_format ? std::abs(int64_t(raw.bitmap_height)) : 0;
        if (w <= 0 || h <= 0)
            w = h = 0;  // no picture size at all
        info.frame = {0, 0, int32_t(std::min<int64_t>(w, INT32_MAX)),
                      int32_t(std::min<int64_t>(h, INT32_MAX))};
    }
    return info;
}

// What the library may be asked of stream `index`, from its stored header and data.
void bound_stream(stream_entry* e, const avi_raw_stream& raw, const avi_chunk_counts& counts,
                  bool counted, uint32_t index)
{
    if (e->info.type == stream_type_video) {
        e->frames = stored_chunks(counts, counted, index, e->info.length);
        e->info.length = uint32_t(std::min<int64_t>(e->info.length, e->frames));
        e->decodable = e->library && video_format_usable(raw);
    } else if (e->info.type == stream_type_audio && e->library) {
        // The library counts audio in blocks of the format's alignment, and finds them through
        // the file's idx1 index: without one it has faulted on the first read.
        e->sample_bytes = raw.wave_block_align;
        e->samples = stored_samples(counts, counted, index, e->sample_bytes);
        // Compressed packets of varying size (sample size 0, MP3 for one) are read as a byte
        // stream and left to the converter; stored PCM must come in whole blocks.
        const bool packets = raw.sample_size == 0 && raw.wave_format != WAVE_FORMAT_PCM &&
                             raw.wave_block_align > 0;
        e->readable = counted && counts.from_index &&
                      (packets || audio_blocks_whole(raw, counts, index));
        // Scale and rate as the library reports them, which it may derive from the format.
        AVISTREAMINFOA record = {};
        if (AVIStreamInfoA(e->library, &record, sizeof record) == 0) {
            e->info.scale = record.dwScale;
            e->info.rate = record.dwRate;
        }
    }
}

void unref_file(avi_file* file)
{
    if (--file->refs > 0)
        return;
    for (stream_entry& e : file->streams)
        if (e.library)
            AVIStreamRelease(e.library);
    if (file->library)
        AVIFileRelease(file->library);
    delete file;
}

}  // namespace

int avi_file_open(avi_file** file, const char* path)
{
    if (!file)
        return avi_error_argument;
    *file = nullptr;
    if (!path || !*path)
        return avi_error_argument;
    // Streams are counted in the file's own header list; a file without one is no AVI file.
    avi_raw_headers raw;
    if (!read_avi_headers(path, &raw))
        return avi_error_open;
    std::vector<int64_t> claimed(raw.streams.size());
    for (size_t i = 0; i < raw.streams.size(); i++)
        claimed[i] = raw.streams[i].type == stream_type_video ? raw.streams[i].length : 0;
    avi_chunk_counts counts;
    const bool counted = count_stored_chunks(path, claimed, &counts);

    start_library();
    PAVIFILE opened = nullptr;
    const HRESULT result = AVIFileOpenA(&opened, path, OF_READ, nullptr);
    if (result != 0 || !opened)
        return result != 0 ? int(result) : avi_error_open;

    avi_file* f = new avi_file;
    f->library = opened;
    f->streams.resize(raw.streams.size());
    // The file's own description (AVIFileInfo) is never asked for: the library derives it from
    // every stream's scale and rate and aborts on a zero one.
    for (size_t i = 0; i < raw.streams.size(); i++) {
        stream_entry& e = f->streams[i];
        e.info = describe(raw.streams[i]);
        if (AVIFileGetStream(opened, &e.library, 0, LONG(i)) != 0)
            e.library = nullptr;
        bound_stream(&e, raw.streams[i], counts, counted, uint32_t(i));
    }
    *file = f;
    return avi_ok;
}

int avi_file_get_info(avi_file* file, avi_file_info* info)
{
    if (!file || !info)
        return avi_error_argument;
    info->streams = uint32_t(file->streams.size());
    return avi_ok;
}

avi_stream* avi_file_get_stream(avi_file* file, uint32_t index)
{
    if (!file || index >= file->streams.size())
        return nullptr;
    stream_entry& e = file->streams[index];
    if (e.live) {
        e.live->refs++;
        return e.live;
    }
    e.live = new avi_stream{file, index, 1};
    file->refs++;
    return e.live;
}

void avi_stream_add_ref(avi_stream* stream)
{
    if (stream)
        stream->refs++;
}

int avi_stream_get_info(avi_stream* stream, avi_stream_info* info)
{
    if (!stream || !info)
        return avi_error_argument;
    *info = stream->file->streams[stream->index].info;
    return avi_ok;
}

avi_frame_decoder* avi_frame_open(avi_stream* stream)
{
    if (!stream)
        return nullptr;
    const stream_entry& e = stream->file->streams[stream->index];
    if (e.info.type != stream_type_video || !e.decodable)
        return nullptr;
    PGETFRAME frames = AVIStreamGetFrameOpen(e.library, nullptr);
    if (!frames)
        return nullptr;
    avi_stream_add_ref(stream);  // the decoder keeps its stream, and so the file, alive
    return new avi_frame_decoder{stream, frames};
}

const bitmap_info_header* avi_frame_get(avi_frame_decoder* decoder, int32_t index)
{
    if (!decoder)
        return nullptr;
    // Nothing is stored beyond the stream's frames: the library is not asked for them.
    const stream_entry& e = decoder->stream->file->streams[decoder->stream->index];
    if (index < 0 || index >= e.frames)
        return nullptr;
    return static_cast<const bitmap_info_header*>(AVIStreamGetFrame(decoder->frames, LONG(index)));
}

// The library converts every frame it decodes; there is nothing to spare.
void avi_frame_set_rows_wanted(avi_frame_decoder*, bool) {}

int avi_stream_read(avi_stream* stream, int32_t first, int32_t count, void* buffer,
                    int32_t buffer_bytes, int32_t* bytes_read, int32_t* samples_read)
{
    if (bytes_read)
        *bytes_read = 0;
    if (samples_read)
        *samples_read = 0;
    if (!stream || first < 0 || count < 0 || buffer_bytes < 0)
        return avi_error_argument;
    const stream_entry& e = stream->file->streams[stream->index];
    if (e.info.type != stream_type_audio || !e.readable)
        return avi_error_not_audio;
    // Never past the stored samples, and never more than the buffer holds.
    int64_t n = std::min<int64_t>(count, std::max<int64_t>(e.samples - first, 0));
    if (buffer)
        n = std::min<int64_t>(n, buffer_bytes / e.sample_bytes);
    if (n == 0)
        return avi_ok;
    if (!buffer) {
        // No buffer: report what a read would need.
        if (bytes_read)
            *bytes_read = int32_t(std::min<int64_t>(n * e.sample_bytes, INT32_MAX));
        if (samples_read)
            *samples_read = int32_t(n);
        return avi_ok;
    }
    LONG bytes = 0;
    LONG samples = 0;
    HRESULT result =
        AVIStreamRead(e.library, first, LONG(n), buffer, buffer_bytes, &bytes, &samples);
    // Asked for more samples than the buffer holds, Wine's library fills the buffer and still
    // reports the buffer as too small; what fits is what was asked for.
    if (result == AVIERR_BUFFERTOOSMALL && bytes > 0)
        result = 0;
    if (result != 0)
        return int(result);
    if (bytes_read)
        *bytes_read = bytes;
    if (samples_read)
        *samples_read = samples;
    return avi_ok;
}

IAVIStream* sound_source(avi_stream* stream, int32_t* end)
{
    if (end)
        *end = 0;
    if (!stream)
        return nullptr;
    const stream_entry& e = stream->file->streams[stream->index];
    if (e.info.type != stream_type_audio || !e.readable)
        return nullptr;
    if (end)
        *end = int32_t(std::min<int64_t>(e.samples, INT32_MAX));
    return e.library;
}

void avi_frame_close(avi_frame_decoder* decoder)
{
    if (!decoder)
        return;
    AVIStreamGetFrameClose(decoder->frames);
    avi_stream* stream = decoder->stream;
    delete decoder;
    avi_stream_release(stream);
}

void avi_stream_release(avi_stream* stream)
{
    if (!stream || --stream->refs > 0)
        return;
    sound_forget(stream);  // its conversion, if any, goes with it
    avi_file* file = stream->file;
    file->streams[stream->index].live = nullptr;
    delete stream;
    unref_file(file);
}

void avi_file_release(avi_file* file)
{
    // A second release of the file's own reference would free it under its streams.
    if (!file || !file->own_reference)
        return;
    file->own_reference = false;
    unref_file(file);
}
