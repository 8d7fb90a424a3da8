// The AVI service's backend over libavformat and libavcodec (platform/avi/avi_backend.h): pictures
// and samples come through FFmpeg, each decoder and each audio stream on its own demuxer so that
// interleaved video and audio access never fight over one.
#include <string>
#include <vector>

#include "platform/avi/avi_backend.h"
#include "platform/avi_file.h"
#include "platform/linux/avi/avi_frame_cache.h"
#include "platform/linux/avi/converted_sound.h"
#include "platform/linux/avi/ffmpeg_input.h"
#include "platform/linux/avi/stored_sound.h"

struct avi_backend_file {
    std::string path;
    std::vector<int> av_index;  // per header-list stream: libavformat's stream, -1 if none
    std::vector<AVCodecParameters*> sound;  // owned: how each audio stream is coded
    AVFormatContext* spare = nullptr;  // the probing demuxer, handed to the first stored-sound reader
};

struct avi_backend_frames {
    cached_frames* cache;
};

struct avi_backend_audio {
    avi_backend_file* file = nullptr;
    uint32_t index = 0;
    uint32_t sample_bytes = 0;
    bool has_reader = false;
    stored_sound reader;
    bool has_sound = false;
    converted_sound sound;
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
std::vector<int> match_streams(const avi_raw_headers& raw, const AVFormatContext* input)
{
    const unsigned av_count = input->nb_streams;
    std::vector<int> out(raw.streams.size(), -1);
    if (raw.streams.size() == av_count) {
        for (unsigned i = 0; i < av_count; i++)
            out[i] = int(i);
        return out;
    }
    unsigned next = 0;
    for (size_t i = 0; i < raw.streams.size() && next < av_count; i++) {
        const AVMediaType want = media_type_of(raw.streams[i].type);
        for (unsigned j = next; j < av_count; j++) {
            if (input->streams[j]->codecpar->codec_type == want) {
                out[i] = int(j);
                next = j + 1;
                break;
            }
        }
    }
    return out;
}

// A demuxer for a stored-sound reader: the probing one if nobody has taken it yet, else a fresh one.
// Video decoders always get a fresh one: the demuxer hands a stored colour table to the first
// packet it reads, which probing has already read.
AVFormatContext* take_input(avi_backend_file* file)
{
    AVFormatContext* input = file->spare;
    file->spare = nullptr;
    return input ? input : open_avi_input(file->path.c_str(), false);
}

}  // namespace

avi_backend_file* avi_backend_open(const char* path, const avi_stored_file& stored)
{
    silence_ffmpeg_log();
    AVFormatContext* input = open_avi_input(path, true);
    if (!input)
        return nullptr;
    avi_backend_file* f = new avi_backend_file;
    f->path = path;
    f->spare = input;
    f->av_index = match_streams(*stored.headers, input);
    // Each audio stream's coding, kept for its decoder.
    f->sound.resize(f->av_index.size(), nullptr);
    for (size_t i = 0; i < f->av_index.size(); i++) {
        if (f->av_index[i] < 0 || stored.headers->streams[i].type != stream_type_audio)
            continue;
        const AVCodecParameters* par = input->streams[f->av_index[i]]->codecpar;
        f->sound[i] = avcodec_parameters_alloc();
        if (f->sound[i] && avcodec_parameters_copy(f->sound[i], par) < 0)
            avcodec_parameters_free(&f->sound[i]);
    }
    return f;
}

void avi_backend_close(avi_backend_file* file)
{
    for (AVCodecParameters*& par : file->sound)
        avcodec_parameters_free(&par);
    avformat_close_input(&file->spare);
    delete file;
}

bool avi_backend_has_stream(avi_backend_file* file, uint32_t index)
{
    return index < file->av_index.size() && file->av_index[index] >= 0;
}

// The demuxer reads any stored sample it finds.
bool avi_backend_reads_samples(avi_backend_file* file, uint32_t index)
{
    return avi_backend_has_stream(file, index);
}

avi_backend_frames* avi_backend_frames_open(avi_backend_file* file, uint32_t index, int64_t frames)
{
    cached_frames* cache = cached_frames_open(file->path.c_str(), file->av_index[index], frames);
    return cache ? new avi_backend_frames{cache} : nullptr;
}

const bitmap_info_header* avi_backend_frame(avi_backend_frames* frames, int32_t index)
{
    return cached_frames_get(frames->cache, index);
}

void avi_backend_frames_rows_wanted(avi_backend_frames* frames, bool wanted)
{
    cached_frames_set_rows_wanted(frames->cache, wanted);
}

void avi_backend_frames_close(avi_backend_frames* frames)
{
    cached_frames_close(frames->cache);
    delete frames;
}

cached_frames* avi_frame_cache(avi_frame_decoder* decoder)
{
    avi_backend_frames* frames = avi_frame_backend(decoder);
    return frames ? frames->cache : nullptr;
}

avi_backend_audio* avi_backend_audio_open(avi_backend_file* file, uint32_t index,
                                          uint32_t sample_bytes)
{
    auto* audio = new avi_backend_audio;
    audio->file = file;
    audio->index = index;
    audio->sample_bytes = sample_bytes;
    return audio;
}

int64_t avi_backend_audio_read(avi_backend_audio* audio, int64_t first, int64_t count, void* buffer)
{
    if (!audio->has_reader) {
        AVFormatContext* input = take_input(audio->file);
        if (!input || !stored_sound_open(&audio->reader, input, audio->file->av_index[audio->index],
                                         audio->sample_bytes))
            return -1;
        audio->has_reader = true;
    }
    return stored_sound_read(&audio->reader, first, count, static_cast<uint8_t*>(buffer));
}

bool avi_backend_sound_open(avi_backend_audio* audio)
{
    avi_backend_file* file = audio->file;
    AVFormatContext* input = open_avi_input(file->path.c_str(), false);
    audio->has_sound = converted_sound_open(&audio->sound, input, file->av_index[audio->index],
                                            file->sound[audio->index]);
    return audio->has_sound;
}

int64_t avi_backend_sound_read(avi_backend_audio* audio, int64_t first, int64_t count, void* buffer)
{
    return converted_sound_read(&audio->sound, first, count, static_cast<uint8_t*>(buffer));
}

void avi_backend_audio_close(avi_backend_audio* audio)
{
    if (audio->has_reader)
        stored_sound_close(&audio->reader);
    if (audio->has_sound)
        converted_sound_close(&audio->sound);
    delete audio;
}
