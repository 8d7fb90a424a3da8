#include "platform/linux/avi/stored_sound.h"

#include <algorithm>
#include <cstring>

#include "platform/linux/avi/ffmpeg_input.h"

namespace {

// About 16 s of the sound the frame loop plays (32000 16-bit samples a second): the steps back
// over that many frames' slices copy from memory.
constexpr size_t window_bytes = size_t(1) << 20;
constexpr int64_t min_window_samples = 4096;
constexpr size_t max_window_bytes = size_t(16) << 20;

void drop_packet(stored_sound* r)
{
    av_packet_unref(r->packet);
    r->has_packet = false;
    r->offset = 0;
}

int64_t samples_left(const stored_sound* r)
{
    return r->has_packet ? (r->packet->size - r->offset) / r->sample_bytes : 0;
}

// Reads the next packet of the stream; false at the end.
bool next_packet(stored_sound* r)
{
    drop_packet(r);
    while (av_read_frame(r->input, r->packet) >= 0) {
        if (r->packet->stream_index == r->stream && r->packet->size > 0) {
            r->has_packet = true;
            return true;
        }
        av_packet_unref(r->packet);
    }
    r->at_end = true;
    return false;
}

// Places the reader on sample `first`: seeks to the chunk at or before it, then skips the bytes
// before it. False if the stream has no data for it.
bool seek_to(stored_sound* r, int64_t first)
{
    drop_packet(r);
    r->positioned = false;
    r->at_end = false;
    if (av_seek_frame(r->input, r->stream, first, AVSEEK_FLAG_BACKWARD) < 0 &&
        av_seek_frame(r->input, r->stream, 0, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY) < 0)
        return false;
    for (;;) {
        if (!next_packet(r)) {
            // Past the end: a later read of the same place ends here too.
            r->positioned = true;
            r->next_sample = first;
            return true;
        }
        const int64_t pts = r->packet->pts != AV_NOPTS_VALUE ? r->packet->pts : r->packet->dts;
        if (pts == AV_NOPTS_VALUE || pts > first)
            return false;
        const int64_t count = r->packet->size / r->sample_bytes;
        if (first < pts + count) {
            r->offset = int((first - pts) * r->sample_bytes);
            r->next_sample = first;
            r->positioned = true;
            return true;
        }
    }
}

// Reads larger than half the window go straight into the caller's buffer; the window starts
// afresh after them.
int64_t read_past_window(stored_sound* r, int64_t first, int64_t max_samples, uint8_t* buffer)
{
    // Continue in place when the read starts where the last ended or later in the same packet.
    const bool in_place = r->positioned && first >= r->next_sample &&
                          (first == r->next_sample || first - r->next_sample < samples_left(r));
    if (in_place) {
        r->offset += int((first - r->next_sample) * r->sample_bytes);
        r->next_sample = first;
    } else if (!seek_to(r, first)) {
        return -1;
    }

    int64_t copied = 0;
    while (copied < max_samples) {
        if (samples_left(r) == 0 && (r->at_end || !next_packet(r)))
            break;
        const int64_t n = std::min(max_samples - copied, samples_left(r));
        const size_t bytes = size_t(n) * r->sample_bytes;
        std::memcpy(buffer + copied * r->sample_bytes, r->packet->data + r->offset, bytes);
        r->offset += int(bytes);
        r->next_sample += n;
        copied += n;
    }
    r->window_first = r->next_sample;
    r->window_samples = 0;
    return copied;
}

}  // namespace

bool stored_sound_open(stored_sound* r, AVFormatContext* input, int stream, uint32_t sample_bytes)
{
    *r = stored_sound{};
    r->input = input;
    r->stream = stream;
    r->sample_bytes = sample_bytes;
    r->packet = av_packet_alloc();
    if (!r->packet || sample_bytes == 0) {
        stored_sound_close(r);
        return false;
    }
    // A damaged header's huge blocks do not make the window huge: reads then go past it.
    r->window_size = std::clamp<size_t>(size_t(min_window_samples) * sample_bytes, window_bytes,
                                        max_window_bytes);
    r->window = std::make_unique_for_overwrite<uint8_t[]>(r->window_size);
    keep_only_stream(input, stream);
    return true;
}

int64_t stored_sound_read(stored_sound* r, int64_t first, int64_t max_samples, uint8_t* buffer)
{
    if (first < 0 || max_samples <= 0)
        return 0;
    const int64_t capacity = int64_t(r->window_size / r->sample_bytes);
    if (max_samples > capacity / 2)
        return read_past_window(r, first, max_samples, buffer);

    int64_t window_end = r->window_first + r->window_samples;
    // Inside the window, or a little ahead of it: read on from where the demuxer stands.
    const bool reachable = r->positioned && first >= r->window_first &&
                           first - window_end <= capacity;
    if (!reachable) {
        // Going back beyond the window: fill it so that it ends with this read and reaches as
        // far back as it holds, ready for the steps back that follow.
        const int64_t start =
            r->positioned && first < r->window_first
                ? std::max<int64_t>(0, first - (capacity - max_samples))
                : first;
        if (!seek_to(r, start))
            return -1;
        r->window_first = start;
        r->window_samples = 0;
        window_end = start;
    }

    const int64_t want_end = first + max_samples;
    while (window_end < want_end) {
        if (samples_left(r) == 0 && (r->at_end || !next_packet(r)))
            break;
        const int64_t n = std::min(want_end - window_end, samples_left(r));
        if (r->window_samples + n > capacity) {
            // Makes room by a quarter at once, never giving up what this read returns.
            const int64_t drop = std::min(std::max(r->window_samples + n - capacity, capacity / 4),
                                          first - r->window_first);
            std::memmove(r->window.get(), r->window.get() + drop * r->sample_bytes,
                         size_t(r->window_samples - drop) * r->sample_bytes);
            r->window_first += drop;
            r->window_samples -= drop;
        }
        const size_t bytes = size_t(n) * r->sample_bytes;
        std::memcpy(r->window.get() + r->window_samples * r->sample_bytes,
                    r->packet->data + r->offset, bytes);
        r->offset += int(bytes);
        r->next_sample += n;
        r->window_samples += n;
        window_end += n;
    }

    const int64_t copied = std::clamp<int64_t>(window_end - first, 0, max_samples);
    if (copied > 0)
        std::memcpy(buffer, r->window.get() + (first - r->window_first) * r->sample_bytes,
                    size_t(copied) * r->sample_bytes);
    return copied;
}

void stored_sound_close(stored_sound* r)
{
    av_packet_free(&r->packet);
    avformat_close_input(&r->input);
    *r = stored_sound{};
}
