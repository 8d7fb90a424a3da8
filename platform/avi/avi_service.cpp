// The AVI file service, once for every platform, over a decoding library's backend
// (avi_backend.h). Decoding libraries believe what a file's headers claim; here the file's own
// header list and the data it really stores (platform/avi_checks) decide first what the library
// is asked: streams are those of the header list, described by their stored values; video is as
// long as its stored frames, audio is read only within its stored samples, and formats a decoder
// cannot be given never reach one.
#include "platform/avi_file.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <vector>

#include "platform/avi/avi_backend.h"
#include "platform/avi_checks/avi_chunk_count.h"
#include "platform/avi_checks/avi_headers.h"
#include "platform/avi_checks/avi_stream_checks.h"
#include "platform/slice_format.h"

namespace {

enum : int {
    avi_ok = 0,
    avi_error_argument = -1,
    avi_error_open = -2,
    avi_error_read = -3,
    avi_error_not_audio = -4,
    avi_error_no_decoder = -5,
};

struct stream_entry {
    avi_stream_info info{};
    bool in_library = false;    // the library found the stream
    int64_t frames = 0;         // video: frames stored
    bool decodable = false;     // video: the format may be given to a decoder
    uint32_t sample_bytes = 0;  // audio: one stored sample; 0 if samples are not fixed-size
    int64_t samples = 0;        // audio: whole samples stored
    bool readable = false;      // audio: stored samples may be asked for
    bool plays_stored = false;  // audio stored as the slices hold it
    avi_stream* live = nullptr; // the stream's handle while references to it exist
};

}  // namespace

struct avi_file {
    int refs = 1;  // the file's own reference plus one per live stream handle
    bool own_reference = true;
    avi_backend_file* backend = nullptr;
    std::vector<stream_entry> streams;
};

struct avi_stream {
    avi_file* file;
    uint32_t index;
    int refs = 1;
    avi_backend_audio* audio = nullptr;  // opened on the first read
    bool sound_tried = false;  // a converter was asked for; has_sound tells if there is one
    bool has_sound = false;
};

struct avi_frame_decoder {
    avi_stream* stream;
    avi_backend_frames* frames;
};

namespace {

bool rect_empty(const avi_rect& r)
{
    return r.right <= r.left || r.bottom <= r.top;
}

// The stream as its header describes it; an empty rectangle on video means the whole picture,
// whose height a top-down format stores negative, and stays empty when no size is stored.
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

// A stored sample is a block of dwSampleSize bytes; where the format's block alignment disagrees,
// libraries count in blocks of that, and so do we. Size 0 (blocks of varying size) cannot be
// read by sample.
uint32_t sample_bytes_of(const avi_raw_stream& raw)
{
    if (raw.sample_size == 0)
        return 0;
    return raw.wave_block_align ? raw.wave_block_align : raw.sample_size;
}

// Audio stored exactly as the slices hold it plays byte for byte as stored.
bool slice_format_stored(const avi_raw_stream& raw)
{
    constexpr uint16_t wave_format_pcm = 1;
    return raw.has_format && raw.wave_format == wave_format_pcm && raw.wave_channels == 1 &&
           raw.wave_rate == uint32_t(slice_rate) && raw.wave_bits == 8 * slice_sample_bytes;
}

// What may be asked of stream `index`, from its stored header and data and what the library found.
void bound_stream(stream_entry* e, const avi_raw_stream& raw, const avi_stored_file& stored,
                  avi_backend_file* backend, uint32_t index)
{
    e->in_library = avi_backend_has_stream(backend, index);
    if (e->info.type == stream_type_video) {
        // A header may claim more frames than the file holds (a file cut short, or a lie about
        // the length): the stream is then as long as its stored frames.
        e->frames = stored_chunks(*stored.counts, stored.counted, index, e->info.length);
        e->info.length = uint32_t(std::min<int64_t>(e->info.length, e->frames));
        e->decodable = e->in_library && video_format_usable(raw);
    } else if (e->info.type == stream_type_audio && e->in_library) {
        e->sample_bytes = sample_bytes_of(raw);
        e->samples = stored_samples(*stored.counts, stored.counted, index, e->sample_bytes);
        e->readable = e->sample_bytes > 0 && avi_backend_reads_samples(backend, index);
        e->plays_stored = slice_format_stored(raw);
    }
}

void unref_file(avi_file* file)
{
    if (--file->refs > 0)
        return;
    avi_backend_close(file->backend);
    delete file;
}

const stream_entry& entry_of(const avi_stream* stream)
{
    return stream->file->streams[stream->index];
}

// The stream's audio reader, opened on first use; nullptr if the stream has no audio to read.
avi_backend_audio* audio_of(avi_stream* stream)
{
    const stream_entry& e = entry_of(stream);
    if (!stream->audio && e.info.type == stream_type_audio && e.in_library)
        stream->audio = avi_backend_audio_open(stream->file->backend, stream->index, e.sample_bytes);
    return stream->audio;
}

// A decoded picture the window service cannot show is no picture.
bool picture_showable(const bitmap_info_header* picture)
{
    if (!picture || picture->biSize < sizeof(bitmap_info_header) || picture->biWidth <= 0 ||
        picture->biHeight == 0)
        return false;
    return int64_t(picture->biWidth) * std::abs(int64_t(picture->biHeight)) <=
           avi_max_picture_pixels;
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
    const avi_stored_file stored{&raw, &counts, count_stored_chunks(path, claimed, &counts)};

    avi_backend_file* backend = avi_backend_open(path, stored);
    if (!backend)
        return avi_error_open;
    avi_file* f = new avi_file;
    f->backend = backend;
    f->streams.resize(raw.streams.size());
    for (size_t i = 0; i < raw.streams.size(); i++) {
        f->streams[i].info = describe(raw.streams[i]);
        bound_stream(&f->streams[i], raw.streams[i], stored, backend, uint32_t(i));
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
    e.live = new avi_stream{file, index};
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
    *info = entry_of(stream).info;
    return avi_ok;
}

avi_frame_decoder* avi_frame_open(avi_stream* stream)
{
    if (!stream)
        return nullptr;
    const stream_entry& e = entry_of(stream);
    if (e.info.type != stream_type_video || !e.decodable)
        return nullptr;
    avi_backend_frames* frames = avi_backend_frames_open(stream->file->backend, stream->index, e.frames);
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
    if (index < 0 || index >= entry_of(decoder->stream).frames)
        return nullptr;
    const bitmap_info_header* picture = avi_backend_frame(decoder->frames, index);
    return picture_showable(picture) ? picture : nullptr;
}

void avi_frame_set_rows_wanted(avi_frame_decoder* decoder, bool wanted)
{
    if (decoder)
        avi_backend_frames_rows_wanted(decoder->frames, wanted);
}

avi_backend_frames* avi_frame_backend(avi_frame_decoder* decoder)
{
    return decoder ? decoder->frames : nullptr;
}

int avi_stream_read(avi_stream* stream, int32_t first, int32_t count, void* buffer,
                    int32_t buffer_bytes, int32_t* bytes_read, int32_t* samples_read)
{
    if (bytes_read)
        *bytes_read = 0;
    if (samples_read)
        *samples_read = 0;
    if (!stream || first < 0 || count < 0 || buffer_bytes < 0)
        return avi_error_argument;
    const stream_entry& e = entry_of(stream);
    if (e.info.type != stream_type_audio || !e.readable)
        return avi_error_not_audio;
    // Never past the stored samples, and never more than the buffer holds.
    int64_t n = std::min<int64_t>(count, std::max<int64_t>(e.samples - first, 0));
    if (buffer)
        n = std::min<int64_t>(n, buffer_bytes / e.sample_bytes);
    if (n == 0)
        return avi_ok;
    if (buffer) {
        avi_backend_audio* audio = audio_of(stream);
        n = audio ? avi_backend_audio_read(audio, first, n, buffer) : -1;
        if (n < 0)
            return avi_error_read;
    }
    // Without a buffer: what a read would need.
    if (bytes_read)
        *bytes_read = int32_t(std::min<int64_t>(n * e.sample_bytes, INT32_MAX));
    if (samples_read)
        *samples_read = int32_t(n);
    return avi_ok;
}

int avi_sound_open(avi_stream* stream)
{
    if (!stream)
        return avi_error_argument;
    const stream_entry& e = entry_of(stream);
    if (e.info.type != stream_type_audio || !e.in_library)
        return avi_error_not_audio;
    if (e.plays_stored)
        return avi_ok;
    if (!stream->sound_tried) {
        stream->sound_tried = true;
        avi_backend_audio* audio = audio_of(stream);
        stream->has_sound = audio && avi_backend_sound_open(audio);
    }
    return stream->has_sound ? avi_ok : avi_error_no_decoder;
}

int avi_sound_read(avi_stream* stream, int32_t first, int32_t count, void* buffer,
                   int32_t* samples_read)
{
    if (samples_read)
        *samples_read = 0;
    if (!stream || !buffer || first < 0 || count < 0 || count > INT32_MAX / slice_sample_bytes)
        return avi_error_argument;
    const stream_entry& e = entry_of(stream);
    if (e.info.type != stream_type_audio || !e.in_library)
        return avi_error_not_audio;
    if (e.plays_stored) {
        // Byte for byte as stored: as many samples as the bytes of `count` slice samples hold.
        const int32_t want = count * slice_sample_bytes;
        int32_t bytes = 0;
        const int result = avi_stream_read(stream, first, want, buffer, want, &bytes, nullptr);
        if (samples_read)
            *samples_read = bytes / slice_sample_bytes;
        return result;
    }
    const int opened = avi_sound_open(stream);
    if (opened != avi_ok)
        return opened;
    const int64_t got = avi_backend_sound_read(stream->audio, first, count, buffer);
    if (samples_read)
        *samples_read = int32_t(got);
    return avi_ok;
}

void avi_frame_close(avi_frame_decoder* decoder)
{
    if (!decoder)
        return;
    avi_backend_frames_close(decoder->frames);
    avi_stream* stream = decoder->stream;
    delete decoder;
    avi_stream_release(stream);
}

void avi_stream_release(avi_stream* stream)
{
    if (!stream || --stream->refs > 0)
        return;
    if (stream->audio)
        avi_backend_audio_close(stream->audio);  // its reader and conversion go with it
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
