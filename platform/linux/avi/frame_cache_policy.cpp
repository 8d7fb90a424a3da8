#include "platform/linux/avi/frame_cache_policy.h"

#include <algorithm>

#include "platform/linux/avi/ffmpeg_input.h"
#include "platform/linux/avi/frame_cache_plan.h"
#include "platform/linux/avi/frame_cache_state.h"

using namespace frame_cache_internal;

namespace {

// Frames the worker reads ahead of a walk forward: none when the budget holds too few pictures.
int64_t read_ahead(const cached_frames* f)
{
    const int pictures = pictures_in_budget(f);
    if (!f->prefetch || f->worker_failed || f->limit <= 0 || pictures < frame_cache_least_pictures)
        return 0;
    return std::min<int64_t>(f->ahead_frames, pictures / 4);
}

// A walk forward: the worker keeps the frames after `index` decoded, extending its fill as the
// walk goes on.
void read_ahead_of(cached_frames* f, int64_t index)
{
    const int64_t window = read_ahead(f);
    f->cache.ahead = window;
    f->cache.behind = 0;
    if (window == 0)
        return;
    const int64_t to = std::min(f->limit - 1, index + window);
    if (f->job.active) {
        if (f->job.forward)
            f->job.to = std::max(f->job.to, to);
        return;
    }
    const int64_t next = index + frame_cache_run(&f->cache, index, +1, window) + 1;
    if (next <= to)
        start_fill(f, next, to, true);
}

// Stepping back, the (larger) stepping budget goes to the frames behind `index` (all but the lent
// picture and one in hand), filled in before the user gets there (see fill_behind_range). A
// fill stops at the keyframe before the cached run: the frames after it come quickly, and the
// next fill, from the keyframe before that, has them to step over meanwhile.
void fill_behind(cached_frames* f, int64_t index)
{
    const int64_t keep = f->cache.behind;
    const int64_t behind = frame_cache_run(&f->cache, index, -1, keep);
    const int64_t to = index - behind - 1;
    if (to < 0 || behind >= keep)
        return;
    const int64_t first = video_frames_first_from_key(&f->own.frames, to);
    const fill_range fill = fill_behind_range(index, behind, keep, first,
                                              worth_filling(f, first, to));
    if (fill.from <= fill.to)
        start_fill(f, fill.from, fill.to);
}

// The budget follows the user: a step back, or a step forward after a pause, takes the stepping
// budget, so that the frames stepped over are still there to step back over; playback resumed
// gives back the memory taken for stepping.
void follow_user(cached_frames* f, int64_t index, int64_t previous)
{
    const bool next = index == previous + 1;
    if (next && f->quick_request && f->cache.budget > f->play_budget)
        frame_cache_set_budget(&f->cache, f->play_budget);
    else if ((index < previous || (next && f->slow_request)) && f->cache.budget < f->step_budget)
        f->cache.budget = f->step_budget;
}

// After frame `index` was given, coming from frame `previous`: going forward one frame, has the
// worker read ahead; going elsewhere, if the frames cached next to it are running out in the
// direction the user is going, has the worker fill in the next ones.
void plan_fill(cached_frames* f, int64_t index, int64_t previous)
{
    follow_user(f, index, previous);
    if (index == previous + 1) {
        read_ahead_of(f, index);
        return;
    }
    if (index < previous) {
        // A long pause (the first step after playing) says nothing of the user's pace.
        const double step = std::chrono::duration<double, std::milli>(f->request_start -
                                                                     f->previous_start).count();
        if (index == previous - 1 && step < 1000)
            note_cost(&f->step_ms, std::max(step, 20.0));
    }
    const int pictures = pictures_in_budget(f);
    f->cache.ahead = 0;
    f->cache.behind = index < previous ? std::max(pictures - 2, 0) : 0;
    if (!f->prefetch || f->worker_failed || f->job.active || pictures < frame_cache_least_pictures ||
        index == previous)
        return;
    const int64_t half = pictures / 2;
    const int64_t low = pictures / 4;

    if (index < previous) {
        fill_behind(f, index);
        return;
    }
    const int64_t ahead = frame_cache_run(&f->cache, index, +1, half);
    const int64_t next = index + ahead + 1;
    // Going forward from where the caller's decoder stands costs one decode a frame: no fill.
    if (ahead < low && f->limit > 0 && next < f->limit &&
        !video_frames_can_decode_on(&f->own.frames, next))
        start_fill(f, next, std::min(f->limit - 1, next + (half - ahead) - 1));
}

// True while the worker's fill will still bring frame `index`.
bool fill_brings(const cached_frames* f, int64_t index)
{
    return f->job.active && !f->worker_failed && f->job.from <= index && index <= f->job.to &&
           f->job.done < index;
}

// Without the worker, a frame behind the caller's decoder that is not cached costs a decode from
// its keyframe: the frames before it are decoded and kept in the same pass, so that the steps
// back that follow find them cached.
void fill_before(cached_frames* f, int64_t index, guard& held)
{
    const int pictures = pictures_in_budget(f);
    if ((f->prefetch && !f->worker_failed) || pictures < frame_cache_least_pictures ||
        index > f->own.frames.last_pts || video_frames_can_decode_on(&f->own.frames, index))
        return;
    const int64_t from = std::max<int64_t>(0, index - pictures / 2 + 1);
    for (int64_t k = from; k < index; k++) {
        if (frame_cache_find(&f->cache, k) < 0 && !fill_brings(f, k)) {
            f->stats.decodes++;
            decode_into_cache(f, &f->own, k, true, held);
        }
    }
}

}  // namespace

cached_frames* cached_frames_open(const char* path, int stream, int64_t frames)
{
    keep_freed_memory();
    cached_frames* f = new cached_frames;
    f->path = path;
    f->stream = stream;
    f->limit = frames;
    if (!open_reader(&f->own, f, decoder_threads)) {
        close_reader(&f->own);
        delete f;
        return nullptr;
    }
    // Until the first fill times the decoding, a guess at the decoded pictures' size: 4:2:0.
    const AVCodecContext* codec = f->own.frames.codec;
    const int64_t picture = int64_t(codec->width) * codec->height * 3 / 2;
    f->play_budget = f->step_budget = budget_for_pictures(frame_cache_untimed_pictures, picture);
    f->longest_group = video_frames_longest_group(&f->own.frames);
    frame_cache_init(&f->cache, f->play_budget, frames);
    f->ahead = picture_converter_start(convert_handed_over, f);
    // While the user answers the questions before playback, the worker opens its decoder and
    // decodes the frames it would read ahead: playback starts with them ready, and the worker
    // does not compete with the first frames' drawing and sound.
    if (frames > 0) {
        guard held(f->lock);
        start_fill(f, 0, std::min(frames, read_ahead_frames) - 1, true);
    }
    return f;
}

namespace {

// The slot holding frame `index`, decoded if need be; -1 if it cannot be had.
int get_frame(cached_frames* f, int64_t index, guard& held)
{
    f->cache.lent = -1;  // the picture given last may go from now on
    if (index < 0 || (f->limit > 0 && index >= f->limit))
        return -1;
    const int64_t previous = f->cache.position;
    f->cache.position = index;

    int slot = frame_cache_find(&f->cache, index);
    if (slot < 0 && fill_brings(f, index)) {
        f->stats.waits++;
        f->changed.wait(held, [&] {
            return frame_cache_find(&f->cache, index) >= 0 || !fill_brings(f, index);
        });
        slot = frame_cache_find(&f->cache, index);
    }
    // Walking forward, a frame the caller's decoder would have to seek for is left to the
    // worker, whose decoder has been reading ahead and usually just stopped short of it.
    if (slot < 0 && index == previous + 1 && read_ahead(f) > 0 &&
        !video_frames_can_decode_on(&f->own.frames, index)) {
        if (!fill_brings(f, index))
            start_fill(f, index, std::min(f->limit - 1, index + read_ahead(f)), true);
        f->stats.waits++;
        f->changed.wait(held, [&] {
            return frame_cache_find(&f->cache, index) >= 0 || !fill_brings(f, index);
        });
        slot = frame_cache_find(&f->cache, index);
    }
    if (slot < 0) {
        fill_before(f, index, held);
        f->stats.decodes++;
        slot = decode_into_cache(f, &f->own, index, false, held);
    }
    if (slot < 0)
        return -1;
    f->cache.lent = slot;
    const int64_t moved = index - previous;
    f->direction = moved == 1 || moved == -1 ? int(moved) : 0;
    plan_fill(f, index, previous);
    return slot;
}

}  // namespace

const bitmap_info_header* cached_frames_get(cached_frames* f, int64_t index)
{
    if (f->headers)
        return header_walk_get(f->headers, index);
    guard held(f->lock);
    f->previous_start = f->request_start;
    f->request_start = clock_type::now();
    f->quick_request = f->requests > 0 && f->request_start - f->last_return < playing_gap;
    f->slow_request = f->requests > 0 && f->request_start - f->last_return >= stepping_gap;
    f->requests++;
    f->shown.lent = -1;  // the picture given last may go from now on
    const int slot = get_frame(f, index, held);
    const bitmap_info_header* picture = slot >= 0 ? show(f, slot, held) : nullptr;
    convert_ahead(f);
    f->last_return = clock_type::now();
    return picture;
}

void cached_frames_set_rows_wanted(cached_frames* f, bool wanted)
{
    if (wanted == !f->headers)
        return;
    if (wanted) {
        header_walk_stop(f->headers);
        f->headers = nullptr;
    } else {
        // The caller's own decoder walks: requests go to the walk until rows are wanted again.
        f->headers = header_walk_start(&f->own.frames, f->limit);
    }
    // Fills and conversions serve pictures shown: none while frames come without rows.
    guard held(f->lock);
    f->job.generation++;
    f->job.active = false;
    f->changed.wait(held, [f] { return !f->filling && !f->converting_ahead; });
    frame_cache_clear(&f->cache);
    shown_forget(&f->shown);
    f->rows_wanted = wanted;
    f->changed.notify_all();
}

void cached_frames_close(cached_frames* f)
{
    if (!f)
        return;
    {
        guard held(f->lock);
        f->stop = true;
        f->changed.notify_all();
    }
    if (f->worker.joinable())
        f->worker.join();
    picture_converter_stop(f->ahead);
    header_walk_stop(f->headers);
    close_reader(&f->own);
    frame_cache_free(&f->cache);
    shown_free(&f->shown);
    delete f;
}

void cached_frames_configure(cached_frames* f, int64_t budget, bool prefetch)
{
    guard held(f->lock);
    f->job.generation++;
    f->job.active = false;
    f->changed.wait(held, [f] { return !f->filling && !f->converting_ahead; });
    f->prefetch = prefetch;
    frame_cache_clear(&f->cache);
    shown_forget(&f->shown);
    f->cache.budget = f->play_budget = f->step_budget = std::max<int64_t>(budget, 0);
    f->play_budget_fitted = true;
}

void cached_frames_set_step_budget(cached_frames* f, int64_t budget)
{
    guard held(f->lock);
    f->step_budget = std::max(budget, f->play_budget);
    f->play_budget_fitted = true;
}

void cached_frames_settle(cached_frames* f)
{
    guard held(f->lock);
    f->changed.wait(held, [f] { return !f->job.active && !f->converting_ahead; });
}

cached_frames_stats cached_frames_get_stats(cached_frames* f)
{
    guard held(f->lock);
    cached_frames_stats s = f->stats;
    s.budget = f->cache.budget;
    s.bytes = f->cache.bytes;
    s.stored = f->cache.stored;
    s.conversions = f->shown.conversions;
    s.pictures = 0;
    for (const cache_slot& slot : f->cache.slots)
        s.pictures += slot.first >= 0;
    return s;
}
