// Opening AVI files with libavformat (quietly, as AVI only, one context per reader) and closing
// the readers decoding from them.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

// Silences FFmpeg's own log for the rest of the process; safe to call any number of times.
void silence_ffmpeg_log();
// Keeps large blocks freed by the process in its heap for reuse. The demuxer allocates every
// packet afresh; left to itself, the allocator maps a packet the size of a raw picture anew each
// time and gives it back on release, and touching fresh pages costs more than the copy itself.
// Safe to call any number of times.
void keep_freed_memory();
// Opens `path` with the AVI demuxer; with probe, also reads ahead to complete the codec
// parameters. nullptr if the file cannot be opened as AVI.
AVFormatContext* open_avi_input(const char* path, bool probe);
// Frees a decoding reader's packet, decoder and demuxer (any may be null), leaving them null.
void close_decoding(AVFormatContext** input, AVCodecContext** codec, AVPacket** packet);
// Makes the demuxer hand out packets of stream `keep` only.
void keep_only_stream(AVFormatContext* input, int keep);
