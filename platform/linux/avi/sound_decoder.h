// Decodes one audio stream and converts it to 16-bit mono PCM at 32000 Hz, in order from any
// place. Converted sample n is the sound n / 32000 s into the stream, whatever the stream's own
// rate and packets. Starting at a place gives, after a short lead-in, exactly the samples that
// decoding from the very start gives there: the decoder starts early enough to settle, and the
// resampler starts on an input sample that falls on an output sample, so its phase is the same.
#pragma once

#include <cstdint>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
}

struct sound_decoder {
    AVFormatContext* input = nullptr;  // owned: this decoder's own demuxer
    int stream = -1;
    AVCodecContext* codec = nullptr;
    SwrContext* resampler = nullptr;
    AVSampleFormat in_format = AV_SAMPLE_FMT_NONE;  // what the resampler takes
    AVChannelLayout in_layout{};
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int in_rate = 0;
    AVRational time_base{1, 1};  // what one step of the stream's timestamps stands for
    int64_t frame_unit = 1;      // the codec's samples a packet; positions fall on multiples
    int64_t frame_start = 0;     // input sample where the held frame starts
    bool holding = false;        // `frame` holds decoded sound not yet fed
    bool demuxer_done = false;
    bool finished = false;       // everything, the resampler's tail too, has been produced
    int64_t fed_end = 0;         // input samples fed so far end here
    std::vector<int16_t> pending;  // converted, not yet taken
    size_t pending_taken = 0;
};

// Opens a decoder for stream `stream` of `input` described by `par`; takes ownership of `input`
// (also on failure). False if no decoder exists for it.
bool sound_decoder_open(sound_decoder* d, AVFormatContext* input, int stream,
                        const AVCodecParameters* par);
// Starts over so that converted sample `first` is produced correctly; returns the converted
// sample the next call of sound_decoder_take produces, at or before `first`. The samples before
// `first` are a lead-in that differs from decoding the whole stream: discard them.
int64_t sound_decoder_start(sound_decoder* d, int64_t first);
// Produces the next converted samples in order, at most `max`; 0 only at the end of the stream.
int64_t sound_decoder_take(sound_decoder* d, int16_t* out, int64_t max);
void sound_decoder_close(sound_decoder* d);
