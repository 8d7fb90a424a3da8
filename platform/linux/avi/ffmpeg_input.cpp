#include "platform/linux/avi/ffmpeg_input.h"

#include <malloc.h>

#include <mutex>

namespace {

void drop_log_line(void*, int, const char*, va_list) {}

}  // namespace

void silence_ffmpeg_log()
{
    static std::once_flag once;
    std::call_once(once, [] {
        av_log_set_level(AV_LOG_QUIET);
        av_log_set_callback(drop_log_line);
    });
}

void keep_freed_memory()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // Blocks below 32 MB (a raw 4K picture's packet) come from the heap; up to 64 MB of
        // freed memory at its top stays there.
        mallopt(M_MMAP_THRESHOLD, 32 << 20);
        mallopt(M_TRIM_THRESHOLD, 64 << 20);
    });
}

AVFormatContext* open_avi_input(const char* path, bool probe)
{
    const AVInputFormat* avi = av_find_input_format("avi");
    if (!avi)
        return nullptr;
    AVFormatContext* input = nullptr;
    if (avformat_open_input(&input, path, avi, nullptr) < 0)
        return nullptr;
    if (probe && avformat_find_stream_info(input, nullptr) < 0) {
        avformat_close_input(&input);
        return nullptr;
    }
    return input;
}

void close_decoding(AVFormatContext** input, AVCodecContext** codec, AVPacket** packet)
{
    av_packet_free(packet);
    avcodec_free_context(codec);
    avformat_close_input(input);
}

void keep_only_stream(AVFormatContext* input, int keep)
{
    for (unsigned i = 0; i < input->nb_streams; i++)
        input->streams[i]->discard = int(i) == keep ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
}
