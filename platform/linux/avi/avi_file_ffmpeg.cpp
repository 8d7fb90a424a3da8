// The AVI file service over libavformat and libavcodec. Stream descriptions come from the file's
// own stream headers; pictures and samples come through FFmpeg, each decoder and each audio
// stream on its own demuxer so that interleaved video and audio access never fight over one.
#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "platform/avi_checks/avi_chunk_count.h"
#include "platform/avi_checks/avi_headers.h"
#include "platform/avi_checks/avi_stream_checks.h"
#include "platform/avi_file.h"
#include "platform/linux/avi/stored_sound.h"
#include "platform/linux/avi/avi_frame_cache.h"
#include "platform/linux/avi/ffmpeg_input.h"
#include "platform/linux/avi/converted_sound.h"

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
    int av_index = -1;          // the libavformat stream, -1 if it has none
    uint32_t sample_bytes = 0;  // audio block size; 0 if samples are not fixed-size
    int64_t frames = 0;         // video frames the stream holds, as far as anyone knows
    bool decodable = true;      // video: the stored format may be given to a decoder
    bool plays_stored = false;  // audio stored as the slices hold it: 16-bit mono PCM, 32000 Hz
    AVCodecParameters* sound = nullptr;  // owned: how the audio is coded, for its decoder
    avi_stream* live = nullptr; // the stream's handle while references to it exist
};

}  // namespace

struct avi_file {
    int refs = 1;  // the file's own reference plus one per live stream handle
    bool own_reference = true;
    std::string path;
    std::vector<stream_entry> streams;
    AVFormatContext* spare = nullptr;  // the probing demuxer, handed to the first reader
};

struct avi_stream {
    avi_file* file;
    uint32_t index;
    int refs = 1;
    bool has_reader = false;
    stored_sound reader;
    bool sound_tried = false;  // a sound reader was asked for; has_sound tells if there is one
    bool has_sound = false;
    converted_sound sound;
};

struct avi_frame_decoder {
    avi_stream* stream;
    cached_frames* frames;
};

namespace {

AVMediaType media_type_of(uint32_t fcc)
{
    if (fcc == stream_type_video)
        return AVMEDIA_TYPE_VIDEO;
    if (fcc == stream_type_audio)
        return AVMEDIA_TYPE_AUDIO;
    return AVMEDIA_TYPE_UNKNOWN;
}

// Pairs each stream header with libavformat's stream: one for one when the counts agree,
// else in order among streams of the same kind.
void match_streams(const avi_raw_headers& raw, const AVFormatContext* input,
                   std::vector<stream_entry>* out)
{
    const unsigned av_count = input->nb_streams;
    out->resize(raw.streams.size());
    if (raw.streams.size() == av_count) {
        for (unsigned i = 0; i < av_count; i++)
            (*out)[i].av_index = int(i);
        return;
    }
    unsigned next = 0;
    for (size_t i = 0; i < raw.streams.size() && next < av_count; i++) {
        const AVMediaType want = media_type_of(raw.streams[i].type);
        for (unsigned j = next; j < av_count; j++) {
            if (input->streams[j]->codecpar->codec_type == want) {
                (*out)[i].av_index = int(j);
                next = j + 1;
                break;
            }
        }
    }
}

avi_rect rect_of(const int16_t r[4])
{
    return {r[0], r[1], r[2], r[3]};
}

bool rect_empty(const avi_rect& r)
{
    return r.right <= r.left || r.bottom <= r.top;
}

void describe(stream_entry* e, const avi_raw_stream* raw, const AVStream* st)
{
    const AVCodecParameters* par = st ? st->codecpar : nullptr;
    if (raw) {
        e->info.type = raw->type;
        e->info.scale = raw->scale;
        e->info.rate = raw->rate;
        e->info.length = raw->length;
        e->info.frame = rect_of(raw->frame);
    } else if (st) {
        e->info.type = par->codec_type == AVMEDIA_TYPE_VIDEO   ? stream_type_video
                       : par->codec_type == AVMEDIA_TYPE_AUDIO ? stream_type_audio
                                                               : 0;
        e->info.scale = uint32_t(st->time_base.num);
        e->info.rate = uint32_t(st->time_base.den);
        e->info.length = uint32_t(std::clamp<int64_t>(st->nb_frames, 0, UINT32_MAX));
    }

    if (e->info.type == stream_type_video) {
        if (rect_empty(e->info.frame)) {
            // An empty rectangle on video means the whole picture.
            int64_t w = raw && raw->has_format ? raw->bitmap_width : 0;
            int64_t h = raw && raw->has_format ? std::abs(int64_t(raw->bitmap_height)) : 0;
            if ((w <= 0 || h <= 0) && par) {
                w = par->width;
                h = par->height;
            }
            e->info.frame = {0, 0, int32_t(std::clamp<int64_t>(w, 0, INT32_MAX)),
                             int32_t(std::clamp<int64_t>(h, 0, INT32_MAX))};
        }
        e->frames = std::max<int64_t>(e->info.length, st ? st->nb_frames : 0);
        e->decodable = !raw || video_format_usable(*raw);
    } else if (e->info.type == stream_type_audio) {
        // A sample is a block of dwSampleSize bytes; where the format's block alignment
        // disagrees, libavformat counts in blocks of that, and so do we. Size 0 (blocks of
        // varying size) cannot be read by sample.
        uint32_t bytes = raw ? raw->sample_size : 0;
        if (raw && raw->wave_block_align)
            bytes = bytes ? raw->wave_block_align : 0;
        if (!raw && par)
            bytes = uint32_t(std::max(par->block_align, 0));
        e->sample_bytes = bytes;
    }
}

// A header may claim more frames than the file holds (a file cut short, or a lie about the
// length): the stream is then as long as its stored frames, and nothing beyond them is decoded.
void hold_streams_to_stored(avi_file* f, const char* path)
{
    std::vector<int64_t> claimed(f->streams.size());
    for (size_t i = 0; i < f->streams.size(); i++)
        claimed[i] = f->streams[i].info.type == stream_type_video ? f->streams[i].frames : 0;
    avi_chunk_counts counts;
    const bool counted = count_stored_chunks(path, claimed, &counts);
    for (size_t i = 0; i < f->streams.size(); i++) {
        stream_entry& e = f->streams[i];
        if (e.info.type != stream_type_video)
            continue;
        e.frames = stored_chunks(counts, counted, uint32_t(i), e.frames);
        e.info.length = uint32_t(std::min<int64_t>(e.info.length, e.frames));
    }
}

// Keeps each audio stream's coding for its decoder, and notes the streams the slices can take as
// stored.
void keep_sound_formats(avi_file* f, const AVFormatContext* input)
{
    for (stream_entry& e : f->streams) {
        if (e.info.type != stream_type_audio || e.av_index < 0)
            continue;
        const AVCodecParameters* par = input->streams[e.av_index]->codecpar;
        e.plays_stored = par->codec_id == AV_CODEC_ID_PCM_S16LE && par->ch_layout.nb_channels == 1 &&
                         par->sample_rate == 32000;
        e.sound = avcodec_parameters_alloc();
        if (e.sound && avcodec_parameters_copy(e.sound, par) < 0)
            avcodec_parameters_free(&e.sound);
    }
}

void unref_file(avi_file* file)
{
    if (--file->refs > 0)
        return;
    for (stream_entry& e : file->streams)
        avcodec_parameters_free(&e.sound);
    avformat_close_input(&file->spare);
    delete file;
}

// A demuxer for a stored-sound reader: the probing one if nobody has taken it yet, else a fresh one.
// Video decoders always get a fresh one: the demuxer hands a stored colour table to the first
// packet it reads, which probing has already read.
AVFormatContext* take_input(avi_file* file)
{
    AVFormatContext* input = file->spare;
    file->spare = nullptr;
    return input ? input : open_avi_input(file->path.c_str(), false);
}

}  // namespace

int avi_file_open(avi_file** file, const char* path)
{
    if (!file)
        return avi_error_argument;
    *file = nullptr;
    if (!path || !*path)
        return avi_error_argument;
    silence_ffmpeg_log();

    avi_raw_headers raw;
    const bool has_raw = read_avi_headers(path, &raw);
    AVFormatContext* input = open_avi_input(path, true);
    if (!input)
        return avi_error_open;

    avi_file* f = new avi_file;
    f->path = path;
    f->spare = input;
    if (has_raw && !raw.streams.empty()) {
        match_streams(raw, input, &f->streams);
        for (size_t i = 0; i < f->streams.size(); i++) {
            stream_entry& e = f->streams[i];
            describe(&e, &raw.streams[i], e.av_index >= 0 ? input->streams[e.av_index] : nullptr);
        }
    } else {
        f->streams.resize(input->nb_streams);
        for (unsigned i = 0; i < input->nb_streams; i++) {
            f->streams[i].av_index = int(i);
            describe(&f->streams[i], nullptr, input->streams[i]);
        }
    }
    keep_sound_formats(f, input);
    hold_streams_to_stored(f, path);
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
    e.live = new avi_stream{file, index, 1, false, {}, false, false, {}};
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
    avi_file* file = stream->file;
    const stream_entry& e = file->streams[stream->index];
    if (e.info.type != stream_type_video || e.av_index < 0 || !e.decodable)
        return nullptr;
    cached_frames* frames = cached_frames_open(file->path.c_str(), e.av_index, e.frames);
    if (!frames)
        return nullptr;
    avi_stream_add_ref(stream);  // the decoder keeps its stream, and so the file, alive
    return new avi_frame_decoder{stream, frames};
}

const bitmap_info_header* avi_frame_get(avi_frame_decoder* decoder, int32_t index)
{
    if (!decoder)
        return nullptr;
    // Nothing is stored beyond the stream's frames: no decoding effort goes there.
    const stream_entry& e = decoder->stream->file->streams[decoder->stream->index];
    if (index < 0 || index >= e.frames)
        return nullptr;
    return cached_frames_get(decoder->frames, index);
}

void avi_frame_set_rows_wanted(avi_frame_decoder* decoder, bool wanted)
{
    if (decoder)
        cached_frames_set_rows_wanted(decoder->frames, wanted);
}

cached_frames* avi_frame_cache(avi_frame_decoder* decoder)
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
    avi_file* file = stream->file;
    const stream_entry& e = file->streams[stream->index];
    if (e.info.type != stream_type_audio || e.av_index < 0 || e.sample_bytes == 0)
        return avi_error_not_audio;

    if (!buffer) {
        // No buffer: report what a read would need.
        const int64_t left = e.info.length > uint32_t(first) ? int64_t(e.info.length) - first : 0;
        const int64_t n = std::min<int64_t>(count, left);
        if (bytes_read)
            *bytes_read = int32_t(std::min<int64_t>(n * e.sample_bytes, INT32_MAX));
        if (samples_read)
            *samples_read = int32_t(n);
        return avi_ok;
    }
    const int64_t fit = std::min<int64_t>(count, buffer_bytes / e.sample_bytes);
    if (fit == 0)
        return avi_ok;

    if (!stream->has_reader) {
        AVFormatContext* input = take_input(file);
        if (!input || !stored_sound_open(&stream->reader, input, e.av_index, e.sample_bytes))
            return avi_error_read;
        stream->has_reader = true;
    }
    const int64_t got = stored_sound_read(&stream->reader, first, fit, static_cast<uint8_t*>(buffer));
    if (got < 0)
        return avi_error_read;
    if (bytes_read)
        *bytes_read = int32_t(got * e.sample_bytes);
    if (samples_read)
        *samples_read = int32_t(got);
    return avi_ok;
}

int avi_sound_open(avi_stream* stream)
{
    if (!stream)
        return avi_error_argument;
    avi_file* file = stream->file;
    const stream_entry& e = file->streams[stream->index];
    if (e.info.type != stream_type_audio || e.av_index < 0)
        return avi_error_not_audio;
    if (e.plays_stored)
        return avi_ok;
    if (!stream->sound_tried) {
        stream->sound_tried = true;
        AVFormatContext* input = open_avi_input(file->path.c_str(), false);
        stream->has_sound = converted_sound_open(&stream->sound, input, e.av_index, e.sound);
    }
    return stream->has_sound ? avi_ok : avi_error_no_decoder;
}

int avi_sound_read(avi_stream* stream, int32_t first, int32_t count, void* buffer,
                   int32_t* samples_read)
{
    if (samples_read)
        *samples_read = 0;
    if (!stream || !buffer || first < 0 || count < 0 || count > INT32_MAX / 2)
        return avi_error_argument;
    const stream_entry& e = stream->file->streams[stream->index];
    if (e.info.type != stream_type_audio || e.av_index < 0)
        return avi_error_not_audio;
    if (e.plays_stored) {
        // Byte for byte as stored: as many samples as the bytes of `count` 16-bit ones hold.
        int32_t bytes = 0;
        const int result = avi_stream_read(stream, first, count * 2, buffer, count * 2, &bytes, nullptr);
        if (samples_read)
            *samples_read = bytes / 2;
        return result;
    }
    const int opened = avi_sound_open(stream);
    if (opened != avi_ok)
        return opened;
    const int64_t got = converted_sound_read(&stream->sound, first, count, static_cast<uint8_t*>(buffer));
    if (samples_read)
        *samples_read = int32_t(got);
    return avi_ok;
}

void avi_frame_close(avi_frame_decoder* decoder)
{
    if (!decoder)
        return;
    cached_frames_close(decoder->frames);
    avi_stream* stream = decoder->stream;
    delete decoder;
    avi_stream_release(stream);
}

void avi_stream_release(avi_stream* stream)
{
    if (!stream || --stream->refs > 0)
        return;
    if (stream->has_reader)
        stored_sound_close(&stream->reader);
    if (stream->has_sound)
        converted_sound_close(&stream->sound);
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
