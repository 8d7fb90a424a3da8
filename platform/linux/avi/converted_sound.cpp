#include "platform/linux/avi/converted_sound.h"

#include <algorithm>
#include <cstring>

#include "platform/slice_format.h"

namespace {

// About 16 s of converted sound, as the stored-sample window holds.
constexpr int64_t window_samples = int64_t(1) << 19;
constexpr int64_t largest_read = window_samples / 4;
// A read up to a second ahead of the window converts on to it; farther ones start afresh there.
constexpr int64_t reach_ahead = slice_rate;

// Drops the window's oldest samples to make room for `more`, keeping everything from `keep` on.
void make_room(converted_sound* r, int64_t more, int64_t keep)
{
    if (r->window_count + more <= window_samples)
        return;
    const int64_t drop = std::min(std::max(r->window_count + more - window_samples, window_samples / 4),
                                  std::min(keep - r->window_first, r->window_count));
    std::memmove(r->window.data(), r->window.data() + drop,
                 size_t(r->window_count - drop) * sizeof(int16_t));
    r->window_first += drop;
    r->window_count -= drop;
}

// Converts on until the window ends at `end` or the sound does; the window keeps `keep` on.
void fill_to(converted_sound* r, int64_t end, int64_t keep)
{
    while (!r->at_end && r->window_first + r->window_count < end) {
        make_room(r, window_samples / 8, keep);
        const int64_t room = window_samples - r->window_count;
        if (room <= 0)
            break;
        const int64_t got = sound_decoder_take(&r->decoder, r->window.data() + r->window_count,
                                               std::min(room, end - r->window_first - r->window_count));
        r->window_count += got;
        if (got == 0) {
            r->at_end = true;
            r->sound_end = r->window_first + r->window_count;
        }
    }
}

// Starts converting afresh so that the window begins at `start`; the decoder's lead-in before
// it is converted and dropped.
void restart_at(converted_sound* r, int64_t start)
{
    r->window_first = sound_decoder_start(&r->decoder, start);
    r->window_count = 0;
    r->at_end = false;
    r->live = true;
    fill_to(r, start, r->window_first);
    const int64_t lead_in = std::min(start - r->window_first, r->window_count);
    std::memmove(r->window.data(), r->window.data() + lead_in,
                 size_t(r->window_count - lead_in) * sizeof(int16_t));
    r->window_first += lead_in;
    r->window_count -= lead_in;
}

int64_t read_piece(converted_sound* r, int64_t first, int64_t count)
{
    const int64_t end = r->window_first + r->window_count;
    if (r->sound_end >= 0 && first >= r->sound_end)
        return 0;
    const bool reachable = r->live && first >= r->window_first && first - end <= reach_ahead;
    if (!reachable) {
        // Going back beyond the window: start half a window earlier, ready for more steps back.
        const bool back = r->live && first < r->window_first;
        restart_at(r, back ? std::max<int64_t>(first - window_samples / 2, 0) : first);
    }
    fill_to(r, first + count, first);
    return std::clamp<int64_t>(r->window_first + r->window_count - first, 0, count);
}

}  // namespace

bool converted_sound_open(converted_sound* r, AVFormatContext* input, int stream,
                       const AVCodecParameters* par)
{
    *r = converted_sound{};
    if (!sound_decoder_open(&r->decoder, input, stream, par))
        return false;
    r->window.resize(size_t(window_samples));
    return true;
}

int64_t converted_sound_read(converted_sound* r, int64_t first, int64_t count, uint8_t* out)
{
    int64_t done = 0;
    while (done < count && first >= 0) {
        const int64_t piece = std::min(count - done, largest_read);
        const int64_t got = read_piece(r, first + done, piece);
        if (got > 0)
            std::memcpy(out + done * 2, r->window.data() + (first + done - r->window_first),
                        size_t(got) * sizeof(int16_t));
        done += got;
        if (got < piece)
            break;
    }
    return done;
}

void converted_sound_close(converted_sound* r)
{
    sound_decoder_close(&r->decoder);
    *r = converted_sound{};
}
