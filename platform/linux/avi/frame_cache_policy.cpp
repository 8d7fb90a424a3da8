#include "platform/linux/avi/frame_cache_policy.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include <unistd.h>

#include "platform/linux/avi/ffmpeg_input.h"
#include "platform/linux/avi/frame_cache_budget.h"
#include "platform/linux/avi/frame_cache_store.h"
#include "platform/linux/avi/video_frames.h"
#include "platform/linux/avi/frame_to_dib.h"
#include "platform/linux/avi/header_walk.h"
#include "platform/linux/avi/picture_converter.h"
#include "platform/linux/avi/shown_pictures.h"

namespace {

using clock_type = std::chrono::steady_clock;

// Codec threads only for large pictures: at 640x480 frame threads made the walk slower on two
// cores, where the worker and the display thread want the other one.
constexpr int decoder_threads = video_frames_threads_by_size;
// While the caller walks forward, the worker keeps up to this many frames after it decoded
// until the decoding is timed (see frames_to_read_ahead): a frame slower to decode than its
// slice lasts (a keyframe, a burst of detail) is then absorbed by the frames before it, and the
// caller's thread is free for drawing meanwhile.
constexpr int64_t read_ahead_frames = 8;
constexpr double slice_ms = 1067 * 1000.0 / 32000;
// The shortest pause between a user's steps back that stepping is made for: a dialog answered.
constexpr double user_step_ms = 100;
// A fill that decoded fewer frames than this says too little of the decoding's speed.
constexpr int64_t least_timed_frames = 4;
// Requests closer together than this come from playback or a walk, not from a user stepping:
// the cache gives back the memory it took for stepping.
constexpr auto playing_gap = std::chrono::milliseconds(60);
// A request this long after the last one is a user's step (a dialog answered): longer than any
// frame's drawing and sound.
constexpr auto stepping_gap = std::chrono::milliseconds(250);

// A run of frames to decode in order and convert into the cache.
struct fill_job {
    int64_t from = 0;
    int64_t to = -1;
    int64_t done = -1;       // the last frame dealt with
    uint64_t generation = 0; // a new number cancels the run in progress
    bool active = false;
    bool forward = false;    // reading ahead of a walk forward, extended as the walk goes on
};

// What decodes and converts on one thread: the caller's own, or the worker's (which only
// decodes).
struct frame_reader {
    video_frames frames;
    dib_converter converter;
};

}  // namespace

struct cached_frames {
    std::string path;
    int stream = -1;
    int64_t limit = 0;

    frame_reader own;  // the caller's thread only

    std::mutex lock;
    std::condition_variable changed;
    // Under `lock`:
    frame_cache cache;
    size_t picture_bytes = 0;  // bytes of the decoded pictures seen so far
    int64_t play_budget = 0;   // the budget while playing or walking
    bool play_budget_fitted = false;  // to the decoding's speed, once the first fill timed it
    int64_t longest_group = 0;  // frames from a keyframe to the farthest frame decoded from it
    int64_t step_budget = 0;   // the budget while the user steps
    bool quick_request = false;  // the request in progress came within playing_gap of the last
    bool slow_request = false;   // it came stepping_gap or more after the last
    // What the worker's fills cost and how fast the user steps back (running averages): a fill
    // behind the user is sized to end before the frames cached behind run out.
    double decode_ms = 0;   // a fill's time per frame decoded
    double convert_ms = 0;  // the conversion of one picture shown
    // The worker's decoder alone: the calls timed and their total. Only their mean says much;
    // with frame threads one call finds its picture made, the next waits for two.
    double frame_decode_total = 0;
    int64_t frame_decode_calls = 0;
    int64_t ahead_frames = read_ahead_frames;  // frames read ahead of a walk forward
    double step_ms = 100;   // between two steps back
    clock_type::time_point request_start, previous_start;
    int64_t fill_passed = 0;  // frames the fill in progress decoded so far
    bool prefetch = true;
    bool rows_wanted = true;  // false while frames are given without rows
    header_walk* headers = nullptr;  // frames without rows, decoded ahead with `own`
    fill_job job;
    bool worker_started = false;
    bool worker_failed = false;  // the worker's decoder would not open: no fills
    bool stop = false;
    bool filling = false;  // the worker is running a fill
    cached_frames_stats stats{};
    clock_type::time_point last_return;  // when the caller last came out of cached_frames_get
    uint64_t requests = 0;              // calls of cached_frames_get so far
    // The pictures shown, converted from the cached ones; the next one foreseen is converted
    // on a thread of its own while the one before is shown.
    shown_pictures shown;
    picture_converter* ahead = nullptr;
    bool converting_ahead = false;
    int direction = 0;  // +1 or -1 after a step to the next or previous frame, else 0

    std::thread worker;
};

namespace {

using guard = std::unique_lock<std::mutex>;

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

void convert_ahead(cached_frames* f);

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

// Converts `frame` into the shown entry `entry` (outside the lock) with `converter`.
void convert_shown(cached_frames* f, dib_converter* converter, const AVFrame* frame, int entry,
                   guard& held)
{
    uint8_t* block = f->shown.entries[entry].block;
    const size_t capacity = f->shown.entries[entry].capacity;
    held.unlock();
    const auto converting = clock_type::now();
    const bitmap_info_header* picture = frame_to_dib_in(converter, frame, block, capacity);
    const double took = ms_since(converting);
    held.lock();
    if (picture)
        note_cost(&f->convert_ms, took);
    shown_done(&f->shown, entry, picture);
    f->changed.notify_all();
}

// The converter thread, for the picture foreseen to be shown next.
void convert_handed_over(void* owner, dib_converter* converter, const AVFrame* frame,
                         const picture_job& job)
{
    cached_frames* f = static_cast<cached_frames*>(owner);
    guard held(f->lock);
    convert_shown(f, converter, frame, job.slot, held);
    f->converting_ahead = false;
    f->changed.notify_all();
}

// Has the converter thread convert the frame the user is likely to ask for next (the one after
// the last, going the same way), once it is cached, while the last one is shown.
void convert_ahead(cached_frames* f)
{
    if (!f->ahead || f->converting_ahead || !f->rows_wanted || f->direction == 0 || f->stop)
        return;
    const int slot = frame_cache_find(&f->cache, f->cache.position + f->direction);
    if (slot < 0)
        return;
    const cache_slot& s = f->cache.slots[size_t(slot)];
    if (!s.frame || shown_find(&f->shown, s.pts) >= 0)
        return;
    const int entry = shown_take(&f->shown, s.pts, dib_block_bytes(s.frame));
    if (entry < 0)
        return;
    f->converting_ahead = true;
    if (!picture_converter_put(f->ahead, s.frame, {s.first, s.pts, 0, entry})) {
        shown_done(&f->shown, entry, nullptr);
        f->converting_ahead = false;
    }
}

// Pictures a fill behind the user must bring to be worth its decoding from frame `first` on to
// `to`: the user steps over them more slowly than the next fill decodes from its keyframe.
int64_t worth_filling(const cached_frames* f, int64_t first, int64_t to)
{
    const double passed = double(to - first + 1) * f->decode_ms;
    const double spare = std::max(f->step_ms - f->convert_ms, f->step_ms / 4);
    return int64_t(passed / spare) + 1;
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
// user answers the questions) has timed it (see frame_cache_budget.h). The timing is the first
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

void start_fill(cached_frames* f, int64_t from, int64_t to, bool forward = false)
{
    f->job.from = from;
    f->job.to = to;
    f->job.done = from - 1;
    f->job.generation++;
    f->job.active = true;
    f->job.forward = forward;
    start_worker(f);
}

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
// picture and one in hand), filled in before the user gets there. A fill decodes from the
// keyframe before, however far, and that takes its time, so a fill starts once there is room
// for enough frames to be worth it (the user steps over them more slowly than the next fill
// decodes from the keyframe) and brings as many as there is room for. A fill stops at the
// keyframe before the cached run: the frames after it come quickly, and the next fill, from the
// keyframe before that, has them to step over meanwhile.
void fill_behind(cached_frames* f, int64_t index)
{
    const int64_t keep = f->cache.behind;
    const int64_t behind = frame_cache_run(&f->cache, index, -1, keep);
    const int64_t to = index - behind - 1;  // the frame before the cached run
    if (to < 0 || behind >= keep)
        return;
    const int64_t first = video_frames_first_from_key(&f->own.frames, to);
    const int64_t worth = worth_filling(f, first, to);
    const int64_t batch = std::min(keep - behind, to - first + 1);
    // Until there is room for a batch worth its decoding (or, where none would be, for half the
    // frames kept behind), the next steps back make it.
    if (batch < std::min({worth, to - first + 1, keep / 2}))
        return;
    start_fill(f, to - batch + 1, to);
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

// The packed DIB of the picture in `slot`: the one converted ahead if it is that one (waiting
// for its conversion to end), else converted now.
const bitmap_info_header* show(cached_frames* f, int slot, guard& held)
{
    const int64_t pts = f->cache.slots[size_t(slot)].pts;
    int entry = shown_find(&f->shown, pts);
    if (entry >= 0 && f->shown.entries[entry].converting) {
        f->stats.waits++;
        f->changed.wait(held, [&] {
            return f->shown.entries[entry].pts != pts || !f->shown.entries[entry].converting;
        });
        entry = shown_find(&f->shown, pts);
    }
    if (entry >= 0 && !f->shown.entries[entry].converting)
        return shown_lend(&f->shown, entry);
    AVFrame* frame = av_frame_clone(f->cache.slots[size_t(slot)].frame);
    entry = frame ? shown_take(&f->shown, pts, dib_block_bytes(frame)) : -1;
    if (entry >= 0)
        convert_shown(f, &f->own.converter, frame, entry, held);
    av_frame_free(&frame);
    if (entry < 0 || !f->shown.entries[entry].picture)
        return nullptr;
    return shown_lend(&f->shown, entry);
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
