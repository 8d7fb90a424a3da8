#include "platform/linux/avi/sound_decoder.h"

#include "platform/linux/avi/ffmpeg_input.h"
#include "platform/slice_format.h"

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libavutil/samplefmt.h>
}

namespace {

constexpr int out_rate = slice_rate;
constexpr int min_rate = 1000;
constexpr int max_rate = 768000;
constexpr int64_t silence_step = 4096;  // silence is fed in pieces no larger than this

int64_t gcd(int64_t a, int64_t b)
{
    while (b) {
        const int64_t t = a % b;
        a = b;
        b = t;
    }
    return a;
}

// Input samples per whole step of both rates, and the output samples those make.
int64_t input_step(const sound_decoder* d)
{
    return d->in_rate / gcd(d->in_rate, out_rate);
}
int64_t output_step(const sound_decoder* d)
{
    return out_rate / gcd(d->in_rate, out_rate);
}

// How much of each channel goes into the mono mix. One or two channels: equal parts. More: the
// broadcast downmix, fronts in full, centre and surrounds 3 dB down, LFE left out; the shares
// then scaled to sum to one, so the mix can never clip.
std::vector<double> mono_mix(const AVChannelLayout& layout)
{
    const int channels = layout.nb_channels;
    std::vector<double> mix(size_t(channels), 1.0);
    if (channels > 2) {
        for (int c = 0; c < channels; c++) {
            const AVChannel ch = av_channel_layout_channel_from_index(&layout, unsigned(c));
            if (ch == AV_CHAN_LOW_FREQUENCY || ch == AV_CHAN_LOW_FREQUENCY_2)
                mix[size_t(c)] = 0.0;
            else if (ch != AV_CHAN_FRONT_LEFT && ch != AV_CHAN_FRONT_RIGHT)
                mix[size_t(c)] = M_SQRT1_2;
        }
    }
    double sum = 0;
    for (double share : mix)
        sum += share;
    for (double& share : mix)
        share = sum > 0 ? share / sum : 0.0;
    return mix;
}

// (Re)creates the resampler when the sound fed changes format; false if it cannot convert it.
bool configure(sound_decoder* d, AVSampleFormat format, const AVChannelLayout* layout)
{
    AVChannelLayout in{};
    if (layout->order == AV_CHANNEL_ORDER_UNSPEC || layout->nb_channels <= 0)
        av_channel_layout_default(&in, std::max(layout->nb_channels, 1));
    else if (av_channel_layout_copy(&in, layout) < 0)
        return false;
    if (d->resampler && d->in_format == format && !av_channel_layout_compare(&d->in_layout, &in)) {
        av_channel_layout_uninit(&in);
        return true;
    }
    swr_free(&d->resampler);
    av_channel_layout_uninit(&d->in_layout);
    d->in_layout = in;
    d->in_format = format;
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    const std::vector<double> mix = mono_mix(d->in_layout);
    if (swr_alloc_set_opts2(&d->resampler, &mono, AV_SAMPLE_FMT_S16, out_rate, &d->in_layout,
                            format, d->in_rate, 0, nullptr) < 0 ||
        swr_set_matrix(d->resampler, mix.data(), int(mix.size())) < 0 ||
        swr_init(d->resampler) < 0) {
        swr_free(&d->resampler);
        return false;
    }
    return true;
}

// Converts `count` input samples (or, with null `data`, the resampler's tail) onto `pending`.
void convert(sound_decoder* d, const uint8_t** data, int count)
{
    const int bound = swr_get_out_samples(d->resampler, count);
    if (bound <= 0)
        return;
    if (d->pending_taken == d->pending.size()) {
        d->pending.clear();
        d->pending_taken = 0;
    }
    const size_t old = d->pending.size();
    d->pending.resize(old + size_t(bound));
    uint8_t* out = reinterpret_cast<uint8_t*>(d->pending.data() + old);
    const int made = swr_convert(d->resampler, &out, bound, data, data ? count : 0);
    d->pending.resize(old + size_t(std::max(made, 0)));
}

// Feeds silence up to where the held frame starts: sound nothing decoded covers.
void feed_silence(sound_decoder* d, int64_t count)
{
    if (!d->resampler) {
        const AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
        const bool known = d->codec->sample_fmt != AV_SAMPLE_FMT_NONE;
        if (!configure(d, known ? d->codec->sample_fmt : AV_SAMPLE_FMT_S16,
                       known ? &d->codec->ch_layout : &mono))
            return;
    }
    const int channels = d->in_layout.nb_channels;
    uint8_t** planes = nullptr;
    if (av_samples_alloc_array_and_samples(&planes, nullptr, channels, int(count), d->in_format, 1) < 0)
        return;
    av_samples_set_silence(planes, 0, int(count), channels, d->in_format);
    convert(d, const_cast<const uint8_t**>(planes), int(count));
    av_freep(&planes[0]);
    av_freep(&planes);
}

// Feeds the held frame from input sample `fed_end` on, or the silence before it.
void feed_held(sound_decoder* d)
{
    AVFrame* f = d->frame;
    const int64_t count = f->nb_samples;
    if (f->sample_rate != d->in_rate || count <= 0) {
        // Sound at another rate has no place on this stream's time line: it stays silent.
        d->holding = false;
        return;
    }
    if (d->frame_start > d->fed_end) {
        const int64_t gap = std::min(d->frame_start - d->fed_end, silence_step);
        feed_silence(d, gap);
        d->fed_end += gap;
        return;
    }
    d->holding = false;
    const int64_t skip = d->fed_end - d->frame_start;
    if (skip >= count)
        return;  // sound already fed, or before the place started from
    if (!configure(d, AVSampleFormat(f->format), &f->ch_layout)) {
        d->fed_end += count - skip;
        return;
    }
    const int channels = f->ch_layout.nb_channels;
    const int bytes = av_get_bytes_per_sample(AVSampleFormat(f->format));
    const uint8_t* planes[AV_NUM_DATA_POINTERS] = {};
    if (av_sample_fmt_is_planar(AVSampleFormat(f->format))) {
        for (int c = 0; c < channels && c < AV_NUM_DATA_POINTERS; c++)
            planes[c] = f->extended_data[c] + skip * bytes;
    } else {
        planes[0] = f->extended_data[0] + skip * bytes * channels;
    }
    convert(d, planes, int(count - skip));
    d->fed_end += count - skip;
}

// Where a decoded frame starts, in input samples. Stored timestamps may be rounded (some files
// count bytes): a codec with fixed-size frames has its frames on multiples of that size.
int64_t frame_position(const sound_decoder* d, const AVFrame* f)
{
    const int64_t ts = f->best_effort_timestamp != AV_NOPTS_VALUE ? f->best_effort_timestamp : f->pts;
    if (ts == AV_NOPTS_VALUE)
        return d->fed_end;
    const AVRational tb = d->time_base;
    const int64_t p = av_rescale_q(ts, tb, AVRational{1, d->in_rate});
    if (d->frame_unit <= 1 || p < 0)
        return p;
    return (p + d->frame_unit / 2) / d->frame_unit * d->frame_unit;
}

// Hands the next packet of the stream to the decoder, or the end of the stream.
void read_packet(sound_decoder* d)
{
    while (av_read_frame(d->input, d->packet) >= 0) {
        const bool ours = d->packet->stream_index == d->stream;
        if (ours)
            avcodec_send_packet(d->codec, d->packet);  // a damaged packet is heard as silence
        av_packet_unref(d->packet);
        if (ours)
            return;
    }
    d->demuxer_done = true;
    avcodec_send_packet(d->codec, nullptr);
}

// One step of work: feed the held frame, decode one, read a packet, or finish.
void step(sound_decoder* d)
{
    if (d->holding) {
        feed_held(d);
        return;
    }
    const int got = avcodec_receive_frame(d->codec, d->frame);
    if (got == 0) {
        d->frame_start = frame_position(d, d->frame);
        d->holding = true;
    } else if (got == AVERROR(EAGAIN) && !d->demuxer_done) {
        read_packet(d);
    } else if (got == AVERROR(EAGAIN) || got == AVERROR_EOF || d->demuxer_done) {
        if (d->resampler)
            convert(d, nullptr, 0);
        d->finished = true;
    }
}

// The time one timestamp step stands for. A stream stored in chunks (dwSampleSize 0) has a chunk's
// time as its unit, yet libavformat counts its bytes whenever the format's blocks are single
// bytes (G.726): the first packet then shows which it is, by the sound it decodes to against
// the step to the next packet's timestamp.
AVRational timestamp_unit(sound_decoder* d, const AVCodecParameters* par)
{
    const AVRational stored = d->input->streams[d->stream]->time_base;
    // A decoder of its own: the one that plays starts from a clean state.
    AVCodecContext* probe = avcodec_alloc_context3(d->codec->codec);
    if (!probe || avcodec_parameters_to_context(probe, par) < 0 ||
        avcodec_open2(probe, d->codec->codec, nullptr) < 0) {
        avcodec_free_context(&probe);
        return stored;
    }
    int64_t first = AV_NOPTS_VALUE, step = 0, samples = 0;
    for (int packets = 0; packets < 64 && step == 0 && av_read_frame(d->input, d->packet) >= 0;
         packets++) {
        if (d->packet->stream_index == d->stream && d->packet->pts != AV_NOPTS_VALUE) {
            if (first == AV_NOPTS_VALUE) {
                first = d->packet->pts;
                if (avcodec_send_packet(probe, d->packet) >= 0)
                    while (avcodec_receive_frame(probe, d->frame) == 0)
                        samples += d->frame->nb_samples;
            } else {
                step = d->packet->pts - first;
            }
        }
        av_packet_unref(d->packet);
    }
    avcodec_free_context(&probe);
    av_frame_unref(d->frame);
    av_seek_frame(d->input, d->stream, 0, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY);
    if (step <= 0 || samples <= 0)
        return stored;
    // Off by more than half or double: the timestamps count something else.
    const double stored_samples = double(step) * stored.num * d->in_rate / stored.den;
    if (stored_samples < 2.0 * double(samples) && 2.0 * stored_samples > double(samples))
        return stored;
    AVRational unit{};
    av_reduce(&unit.num, &unit.den, samples, step * int64_t(d->in_rate), INT32_MAX);
    return unit;
}

}  // namespace

bool sound_decoder_open(sound_decoder* d, AVFormatContext* input, int stream,
                        const AVCodecParameters* par)
{
    *d = sound_decoder{};
    d->input = input;
    d->stream = stream;
    const AVCodec* decoder = par ? avcodec_find_decoder(par->codec_id) : nullptr;
    // Rates no recording uses are a damaged header; resampling from them would cost without end.
    if (!input || !decoder || par->sample_rate < min_rate || par->sample_rate > max_rate) {
        sound_decoder_close(d);
        return false;
    }
    d->codec = avcodec_alloc_context3(decoder);
    d->packet = av_packet_alloc();
    d->frame = av_frame_alloc();
    // AC-3's noise for unallocated detail is seeded by each frame's own data, not by all the
    // frames before: decoding from any place then gives the same samples.
    AVDictionary* options = nullptr;
    av_dict_set(&options, "cons_noisegen", "1", 0);
    const bool opened = d->codec && avcodec_parameters_to_context(d->codec, par) >= 0 &&
                        avcodec_open2(d->codec, decoder, &options) >= 0;
    av_dict_free(&options);
    if (!opened || !d->packet || !d->frame) {
        sound_decoder_close(d);
        return false;
    }
    d->in_rate = par->sample_rate;
    // Only lossy codecs' timestamps may be rounded; PCM packets start on any sample.
    const AVCodecDescriptor* about = avcodec_descriptor_get(par->codec_id);
    if (about && (about->props & AV_CODEC_PROP_LOSSY))
        d->frame_unit = std::max(par->frame_size, 1);
    keep_only_stream(input, stream);
    d->time_base = timestamp_unit(d, par);
    return true;
}

int64_t sound_decoder_start(sound_decoder* d, int64_t first)
{
    // The resampler settles within a few dozen samples; the decoder within a few frames.
    const int64_t settle = d->in_rate / 50 + 64;
    const int64_t lead_in = d->in_rate / 4;
    const int64_t target = av_rescale(std::max<int64_t>(first, 0), d->in_rate, out_rate);
    int64_t begin = std::max<int64_t>(target - settle, 0);
    begin -= begin % input_step(d);

    const AVRational tb = d->time_base;
    const int64_t seek_to = av_rescale_q(std::max<int64_t>(begin - lead_in, 0),
                                         AVRational{1, d->in_rate}, tb);
    if (av_seek_frame(d->input, d->stream, seek_to, AVSEEK_FLAG_BACKWARD) < 0)
        av_seek_frame(d->input, d->stream, 0, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY);
    avcodec_flush_buffers(d->codec);
    swr_free(&d->resampler);
    d->holding = false;
    d->demuxer_done = false;
    d->finished = false;
    d->fed_end = begin;
    d->pending.clear();
    d->pending_taken = 0;
    return begin / input_step(d) * output_step(d);
}

int64_t sound_decoder_take(sound_decoder* d, int16_t* out, int64_t max)
{
    while (d->pending_taken == d->pending.size() && !d->finished)
        step(d);
    const int64_t n = std::min<int64_t>(max, int64_t(d->pending.size() - d->pending_taken));
    if (n <= 0)
        return 0;
    std::copy_n(d->pending.data() + d->pending_taken, n, out);
    d->pending_taken += size_t(n);
    return n;
}

void sound_decoder_close(sound_decoder* d)
{
    swr_free(&d->resampler);
    av_channel_layout_uninit(&d->in_layout);
    av_frame_free(&d->frame);
    close_decoding(&d->input, &d->codec, &d->packet);
    *d = sound_decoder{};
}
