#include "platform/linux/avi/frame_cache_state.h"

#include <algorithm>

#include "platform/linux/avi/ffmpeg_input.h"
#include "platform/linux/avi/frame_cache_plan.h"

namespace frame_cache_internal {

bool open_reader(frame_reader* r, const cached_frames* f, int threads)
{
    AVFormatContext* input = open_avi_input(f->path.c_str(), false);
    return input && video_frames_open(&r->frames, input, f->stream, f->limit, threads);
}

void close_reader(frame_reader* r)
{
    video_frames_close(&r->frames);
    dib_converter_free(&r->converter);
}

int pictures_in_budget(const cached_frames* f)
{
    return f->picture_bytes ? frame_cache_capacity(&f->cache, f->picture_bytes) : 0;
}

double ms_since(clock_type::time_point start)
{
    return std::chrono::duration<double, std::milli>(clock_type::now() - start).count();
}

// Folds a new sample into a running average of the last few.
void note_cost(double* average, double sample)
{
    *average = *average > 0 ? 0.7 * *average + 0.3 * sample : sample;
}

// Frames the decoder goes through to give frame `index`.
int64_t frames_to_reach(const video_frames* v, int64_t index)
{
    const int64_t from = video_frames_can_decode_on(v, index)
                             ? v->last_pts
                             : video_frames_first_from_key(v, index) - 1;
    return std::max<int64_t>(1, index - from);
}

// Where a decoded picture goes: a slot already answering it, or one reserved (busy) for its
// conversion; slot -1 if neither.
struct placement {
    int slot = -1;
    bool to_convert = false;
};

// Finds or reserves the slot for the picture decoded from frame `pts`, as frame `index`. A frame
// decoded ahead of need never pushes out a picture nearer the position than itself.
placement place_picture(cached_frames* f, const AVFrame* frame, int64_t index, int64_t pts,
                        bool ahead_of_need)
{
    const size_t bytes = frame_cache_frame_bytes(frame);
    if (bytes == 0 || dib_block_bytes(frame) == 0)
        return {};
    int slot = frame_cache_find(&f->cache, index);
    if (slot >= 0)
        return {slot, false};
    // A dropped frame shows the picture before it: one conversion serves them all.
    slot = frame_cache_find_picture(&f->cache, pts);
    if (slot >= 0) {
        frame_cache_extend(&f->cache, slot, index);
        return {slot, false};
    }
    f->picture_bytes = bytes;
    slot = frame_cache_reserve(&f->cache, index, bytes, true, ahead_of_need);
    return {slot, slot >= 0};
}

// Keeps the decoded picture (a reference to it) in its reserved slot; the slot, or -1.
int keep_in_slot(cached_frames* f, const AVFrame* frame, int slot, int64_t index, int64_t pts)
{
    return frame_cache_publish(&f->cache, slot, frame, pts, index) ? slot : -1;
}

// Decodes frame `index` with `r` (outside the lock) and caches its picture unless it is there;
// returns the slot answering it, or -1.
int decode_into_cache(cached_frames* f, frame_reader* r, int64_t index, bool ahead_of_need,
                      guard& held)
{
    held.unlock();
    int64_t pts = -1;
    const AVFrame* frame = video_frames_decode(&r->frames, index, &pts);
    held.lock();
    if (!frame)
        return -1;
    const placement p = place_picture(f, frame, index, pts, ahead_of_need);
    if (!p.to_convert)
        return p.slot;
    return keep_in_slot(f, frame, p.slot, index, pts);
}

// Frame `k` of fill `generation` is dealt with, its picture in `slot` (-1: none).
void finish_frame(cached_frames* f, int64_t k, int slot, uint64_t generation)
{
    if (f->stop || f->job.generation != generation)
        return;
    // Going forward, every later frame lies farther away still.
    if (slot < 0 && k > f->cache.position)
        f->job.to = std::min(f->job.to, k);
    f->job.done = k;
    f->changed.notify_all();
    if (k == f->cache.position + f->direction)
        convert_ahead(f);
}

int64_t worth_filling(const cached_frames* f, int64_t first, int64_t to)
{
    return frames_worth_filling(to - first + 1, f->decode_ms, f->step_ms, f->convert_ms);
}

// Decodes job.from..job.to in order into the cache, stopping when the job is replaced. A frame
// with no room stops the fill before the decoder goes past it.
void run_fill(cached_frames* f, frame_reader* r, guard& held)
{
    const uint64_t generation = f->job.generation;
    for (int64_t k = f->job.from; k <= f->job.to; k++) {
        if (f->stop || f->job.generation != generation)
            break;
        if (frame_cache_find(&f->cache, k) >= 0) {
            finish_frame(f, k, frame_cache_find(&f->cache, k), generation);
            continue;
        }
        f->fill_passed += frames_to_reach(&r->frames, k);
        // The decoder alone is timed only until the budgets are fitted, its one use. The first
        // frame of a fill waits for a seek and the codec's threads to fill up.
        const bool timed = !f->play_budget_fitted && k > f->job.from;
        held.unlock();
        int64_t pts = -1;
        const auto decode_start = clock_type::now();
        const AVFrame* frame = video_frames_decode(&r->frames, k, &pts);
        const double decode_took = timed ? ms_since(decode_start) : 0;
        held.lock();
        if (timed && frame) {
            f->frame_decode_total += decode_took;
            f->frame_decode_calls++;
        }
        const placement p = frame ? place_picture(f, frame, k, pts, true) : placement{};
        const int slot = p.to_convert ? keep_in_slot(f, frame, p.slot, k, pts) : p.slot;
        finish_frame(f, k, slot, generation);
    }
}

// Waits for a fill to run or for the end.
void wait_for_work(cached_frames* f, guard& held)
{
    f->changed.wait(held, [f] { return f->stop || f->job.active; });
}

// Fits the read-ahead and both budgets to the decoding's speed, once the first fill (while the
// user answers the questions) has timed it (see frame_cache_plan.h). The timing is the first
// frames' (a keyframe and the codec's threads starting among them), on the slow side: the frames
// behind then have some to spare. Budgets set from outside (cached_frames_configure) stay.
void fit_budgets(cached_frames* f)
{
    f->play_budget_fitted = true;
    const double d = f->frame_decode_calls > 0
                         ? f->frame_decode_total / double(f->frame_decode_calls)
                         : 0;
    if (f->picture_bytes == 0 || d <= 0)
        return;
    f->ahead_frames = frames_to_read_ahead(d, slice_ms);
    stepping_pace pace;
    pace.decode_ms = d;
    pace.step_ms = user_step_ms;
    pace.longest_group = f->longest_group;
    pace.ahead = f->ahead_frames;
    const int64_t picture = int64_t(f->picture_bytes);
    const int64_t play = budget_for_pictures(playing_pictures(pace), picture);
    const int64_t step = budget_for_pictures(stepping_pictures(pace), picture);
    if (f->cache.budget == f->step_budget && f->cache.budget != f->play_budget)
        frame_cache_set_budget(&f->cache, step);
    else
        frame_cache_set_budget(&f->cache, play);
    f->play_budget = play;
    f->step_budget = step;
}

void worker_main(cached_frames* f)
{
    frame_reader reader;
    bool reader_open = false;
    guard held(f->lock);
    for (;;) {
        wait_for_work(f, held);
        if (f->stop)
            break;
        if (!reader_open) {
            // The fills' own demuxer and decoder, opened on the first fill.
            held.unlock();
            reader_open = open_reader(&reader, f, decoder_threads);
            held.lock();
            f->worker_failed = !reader_open;
        }
        // The job may have been called off (cached_frames_configure) while the decoder opened.
        const uint64_t ran = f->job.generation;
        if (reader_open && f->job.active) {
            f->stats.prefetches++;
            f->filling = true;
            f->fill_passed = 0;
            const auto fill_start = clock_type::now();
            run_fill(f, &reader, held);
            // Reading ahead of playback, a fill is one frame that the codec's threads mostly had
            // ready, which says nothing of how long a fill from a keyframe takes.
            if (f->fill_passed >= least_timed_frames) {
                note_cost(&f->decode_ms, ms_since(fill_start) / double(f->fill_passed));
                if (!f->play_budget_fitted)
                    fit_budgets(f);
            }
            f->filling = false;
        }
        // A job started while this one ran replaced it, and is still to do.
        if (f->job.generation == ran || !reader_open)
            f->job.active = false;
        f->changed.notify_all();
    }
    f->job.active = false;
    f->changed.notify_all();
    held.unlock();
    close_reader(&reader);
}

void start_worker(cached_frames* f)
{
    if (!f->worker_started) {
        f->worker_started = true;
        f->worker = std::thread(worker_main, f);
    }
    f->changed.notify_all();
}

void start_fill(cached_frames* f, int64_t from, int64_t to, bool forward)
{
    f->job.from = from;
    f->job.to = to;
    f->job.done = from - 1;
    f->job.generation++;
    f->job.active = true;
    f->job.forward = forward;
    start_worker(f);
}

}  // namespace frame_cache_internal
