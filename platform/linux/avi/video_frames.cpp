#include "platform/linux/avi/video_frames.h"

#include <algorithm>
#include <thread>

#include "platform/linux/avi/ffmpeg_input.h"

namespace {

// Nothing larger than the window can show (256 MB of 32-bit pixels) is decoded; and no more
// than four times what the stream declares, unless that is below 4K: a damaged or hostile packet
// can declare a picture of any size, and each such packet costs the codec a zeroed picture.
constexpr int64_t max_picture_pixels = int64_t(64) << 20;
constexpr int64_t undeclared_picture_pixels = int64_t(16) << 20;

int64_t picture_pixel_limit(const AVCodecParameters* par)
{
    const int64_t declared = int64_t(std::max(par->width, 0)) * std::max(par->height, 0);
    return std::clamp<int64_t>(4 * std::min(declared, max_picture_pixels),
                               undeclared_picture_pixels, max_picture_pixels);
}

// From about 720p up a picture is worth splitting among codec threads; below, one thread decodes
// faster, as the second core is busy with the display and the cache's other decoder.
constexpr int64_t threaded_picture_pixels = int64_t(1280) * 720;

int threads_for(const AVCodecParameters* par)
{
    if (int64_t(par->width) * par->height < threaded_picture_pixels)
        return 1;
    const unsigned cores = std::thread::hardware_concurrency();
    return int(std::clamp(cores, 1u, 8u));
}

void drop_frames(video_frames* v)
{
    av_frame_unref(v->held);
    av_frame_unref(v->pending);
    v->has_held = v->has_pending = false;
}

// The keyframe at or before decoding position `position`.
const AVIndexEntry* key_at(const video_frames* v, int64_t position)
{
    return avformat_index_get_entry_from_timestamp(v->input->streams[v->stream],
                                                   std::max<int64_t>(position, 0),
                                                   AVSEEK_FLAG_BACKWARD);
}

// Repositions on the keyframe at or before decoding position `position` and resets the codec.
bool seek_to(video_frames* v, int64_t position)
{
    drop_frames(v);
    v->positioned = false;
    position = std::max<int64_t>(position, 0);
    if (av_seek_frame(v->input, v->stream, position, AVSEEK_FLAG_BACKWARD) < 0 &&
        av_seek_frame(v->input, v->stream, 0, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY) < 0)
        return false;
    avcodec_flush_buffers(v->codec);
    v->input_done = false;
    v->positioned = true;
    const AVIndexEntry* key = key_at(v, position);
    v->seek_key = key ? key->timestamp : 0;
    v->last_pts = v->seek_key - 1;
    return true;
}

// Pulls the next decoded frame into `into`: 1 with its index in *pts, 0 at the end.
int pull_frame(video_frames* v, AVFrame* into, int64_t* pts)
{
    // Decoders report a damaged packet here or when it is sent; either way it is skipped.
    for (int errors = 0; errors < 1000;) {
        const int got = avcodec_receive_frame(v->codec, into);
        if (got == 0) {
            // Pictures come out in display order: none is earlier than the one before. (An
            // MPEG-1 stream's first picture carries its own time, one ahead of the rest.)
            const int64_t t = into->best_effort_timestamp;
            v->last_pts = t == AV_NOPTS_VALUE ? v->last_pts + 1
                                              : std::max(t - v->reorder_delay, v->last_pts + 1);
            *pts = v->last_pts;
            return 1;
        }
        if (got == AVERROR_EOF)
            return 0;
        if (got != AVERROR(EAGAIN)) {
            errors++;
            continue;
        }
        if (v->input_done)
            return 0;
        if (av_read_frame(v->input, v->packet) < 0) {
            avcodec_send_packet(v->codec, nullptr);  // drain the frames the codec still holds
            v->input_done = true;
            continue;
        }
        // An empty chunk is a dropped frame: the picture before it stands; to the codec an empty
        // packet would mean the end of the stream.
        const bool ours = v->packet->stream_index == v->stream;
        const int64_t position = ours ? v->packet->dts : AV_NOPTS_VALUE;
        if (ours && v->packet->size > 0)
            avcodec_send_packet(v->codec, v->packet);
        av_packet_unref(v->packet);
        // Far enough past the frame wanted: what the codec still holds comes out on the next call.
        if (position != AV_NOPTS_VALUE && position > v->read_limit)
            return 0;
    }
    return 0;
}

// How far past a frame's position its picture can still come out: the codec's reordering and
// frame threads hold some packets back.
int64_t read_slack(const video_frames* v)
{
    const bool frame_threads = v->codec->active_thread_type & FF_THREAD_FRAME;
    return 8 + v->reorder_delay + v->codec->has_b_frames +
           (frame_threads ? v->codec->thread_count : 0);
}

// True when decoding on from the current position reaches `index` no slower than seeking.
bool can_decode_on(const video_frames* v, int64_t index)
{
    if (!v->positioned)
        return false;
    const int64_t from = v->has_pending ? v->pending_pts : v->last_pts;
    if (v->has_pending ? index < from : index <= from)
        return v->has_held && v->held_pts <= index && (!v->has_pending || index < v->pending_pts);
    const AVIndexEntry* key = key_at(v, index - v->reorder_delay);
    return !key || key->timestamp <= from + 1;
}

// True if the file holds data for frame `index`: a frame missing from the decoder's output is
// then one that did not decode, not a dropped frame (an empty chunk, kept out of the index).
bool has_frame_data(const video_frames* v, int64_t index)
{
    const AVIndexEntry* e = avformat_index_get_entry_from_timestamp(
        v->input->streams[v->stream], index, AVSEEK_FLAG_ANY);
    return e && e->timestamp == index && e->size > 0;
}

// Empty chunks stored straight after the keyframe at decoding position `key`: an encoder that
// holds pictures back for B-frames leaves them there, and its pictures then come out that much
// later.
int64_t empty_chunks_after(const video_frames* v, int64_t key)
{
    AVStream* st = v->input->streams[v->stream];
    const int entries = avformat_index_get_entries_count(st);
    for (int i = 0; i + 1 < entries; i++) {
        if (avformat_index_get_entry(st, i)->timestamp == key)
            return avformat_index_get_entry(st, i + 1)->timestamp - key - 1;
    }
    return 0;
}

// Decodes the first pictures to see how far their timestamps run ahead of their places in display
// order. The first picture may carry a time of its own (MPEG-1 gives it its stored one), so the
// pictures after it decide; never more than the codec's own reorder depth and the encoder's empty
// chunks after the keyframe, so a damaged start cannot fake a delay.
void measure_reorder_delay(video_frames* v)
{
    constexpr int pictures = 4;
    if (!seek_to(v, 0))
        return;
    const int64_t key_position = v->seek_key;
    v->read_limit = key_position + read_slack(v) + pictures;
    int64_t first = INT64_MAX;  // how far ahead the first picture runs
    int64_t later = INT64_MAX;  // the least the pictures after it run ahead
    for (int n = 0; n < pictures && pull_frame(v, v->pending, &v->pending_pts) == 1; n++) {
        const int64_t t = v->pending->best_effort_timestamp;
        if (t != AV_NOPTS_VALUE)
            (n == 0 ? first : later) = std::min(n == 0 ? first : later, t - key_position - n);
    }
    v->read_limit = INT64_MAX;
    av_frame_unref(v->pending);
    v->positioned = false;
    const int64_t ahead = later != INT64_MAX ? later : first;
    if (ahead == INT64_MAX || v->codec->has_b_frames == 0)
        return;
    const int64_t most = v->codec->has_b_frames + empty_chunks_after(v, key_position);
    v->reorder_delay = std::clamp<int64_t>(ahead, 0, most);
}

// Decodes on until `held` is the picture for frame `index`; false if the stream does not give it.
bool decode_up_to(video_frames* v, int64_t index)
{
    v->read_limit = index + read_slack(v);
    for (;;) {
        if (v->has_pending) {
            if (v->pending_pts > index)
                break;
            av_frame_unref(v->held);
            av_frame_move_ref(v->held, v->pending);
            v->held_pts = v->pending_pts;
            v->has_held = true;
            v->has_pending = false;
        }
        if (v->has_held && v->held_pts == index)
            return true;
        if (pull_frame(v, v->pending, &v->pending_pts) != 1)
            break;
        v->has_pending = true;
    }
    // Short of `index`: the picture before stands for dropped frames, not for damaged ones; and
    // for the last frames of a delaying codec, whose pictures the encoder never stored.
    const bool lost_at_end = v->input_done && index - v->held_pts <= v->reorder_delay;
    return v->has_held && (v->held_pts == index ||
                           (v->held_pts < index && (lost_at_end || !has_frame_data(v, index))));
}

}  // namespace

bool video_frames_open(video_frames* v, AVFormatContext* input, int stream, int64_t limit,
                       int threads)
{
    *v = video_frames{};
    v->input = input;
    v->stream = stream;
    v->limit = limit;
    const AVCodecParameters* par = input->streams[stream]->codecpar;
    const AVCodec* decoder = avcodec_find_decoder(par->codec_id);
    v->codec = decoder ? avcodec_alloc_context3(decoder) : nullptr;
    v->packet = av_packet_alloc();
    v->held = av_frame_alloc();
    v->pending = av_frame_alloc();
    if (!v->codec || !v->packet || !v->held || !v->pending ||
        avcodec_parameters_to_context(v->codec, par) < 0) {
        video_frames_close(v);
        return false;
    }
    v->codec->pkt_timebase = input->streams[stream]->time_base;
    v->codec->thread_count = threads == video_frames_threads_by_size ? threads_for(par) : threads;
    v->codec->max_pixels = picture_pixel_limit(par);
    if (avcodec_open2(v->codec, decoder, nullptr) < 0) {
        video_frames_close(v);
        return false;
    }
    keep_only_stream(input, stream);
    measure_reorder_delay(v);
    return true;
}

const AVFrame* video_frames_decode(video_frames* v, int64_t index, int64_t* pts)
{
    if (index < 0 || (v->limit > 0 && index >= v->limit))
        return nullptr;
    // Reordered B-frames stored after a keyframe may be shown before it: such a frame is reached
    // from the keyframe before, found by trying it when the first one does not give the frame.
    // So is a frame right after a dropped one, where the demuxer's seek can land one frame late.
    bool ready = can_decode_on(v, index) || seek_to(v, index - v->reorder_delay);
    for (int attempt = 0; ready && !decode_up_to(v, index); attempt++) {
        const bool overshot = !v->has_held && v->has_pending && v->pending_pts > index;
        ready = (v->reorder_delay > 0 || overshot) && attempt < 2 && v->seek_key > 0 &&
                seek_to(v, v->seek_key - 1);
    }
    if (!ready)
        return nullptr;
    *pts = v->held_pts;
    return v->held;
}

bool video_frames_can_decode_on(const video_frames* v, int64_t index)
{
    return can_decode_on(v, index);
}

int64_t video_frames_first_from_key(const video_frames* v, int64_t index)
{
    // Frame k is sought at decoding position k - reorder_delay (see video_frames_decode).
    const AVIndexEntry* key = key_at(v, index - v->reorder_delay);
    // Before the stream's first keyframe there is nothing to seek to: all comes from it.
    const int64_t first = key && key->timestamp > 0 ? key->timestamp + v->reorder_delay : 0;
    return std::clamp<int64_t>(first, 0, std::max<int64_t>(index, 0));
}

int64_t video_frames_longest_group(const video_frames* v)
{
    const AVStream* st = v->input->streams[v->stream];
    const int entries = avformat_index_get_entries_count(st);
    int64_t longest = 0;
    int64_t key = -1;
    for (int i = 0; i < entries; i++) {
        const AVIndexEntry* e = avformat_index_get_entry(const_cast<AVStream*>(st), i);
        if (!(e->flags & AVINDEX_KEYFRAME))
            continue;
        if (key >= 0)
            longest = std::max(longest, e->timestamp - key);
        key = e->timestamp;
    }
    if (key >= 0 && v->limit > 0)
        longest = std::max(longest, v->limit - key);
    return longest;
}

void video_frames_close(video_frames* v)
{
    av_frame_free(&v->held);
    av_frame_free(&v->pending);
    close_decoding(&v->input, &v->codec, &v->packet);
    *v = video_frames{};
}
