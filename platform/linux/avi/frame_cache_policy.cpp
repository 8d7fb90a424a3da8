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
#include "platform/linux/avi/frame_cache_store.h"
#include "platform/linux/avi/video_frames.h"
#include "platform/linux/avi/frame_to_dib.h"
#include "platform/linux/avi/header_walk.h"
#include "platform/linux/avi/picture_converter.h"
#include "platform/linux/avi/picture_memory.h"

namespace {

using clock_type = std::chrono::steady_clock;

// The caller counts as away once it has made no request for this long: a walk without display
// asks for the next frame well within it, playback with sound well after.
constexpr auto caller_idle = std::chrono::milliseconds(2);
// In a pause of playback (a frame's sound, 33 ms) one block is readied, as many as there is room
// for once the pause lasts (a dialog): the sound of the next frame is never put at risk.
constexpr auto caller_paused = std::chrono::milliseconds(60);
// Below this many pictures in the budget the cache keeps no frames ahead of need: one is lent,
// one being converted, and the rest would be too few to be worth a second decoder.
constexpr int min_prefetch_pictures = 8;
// Codec threads only for large pictures: at 640x480 frame threads made the walk slower on two
// cores, where the worker and the display thread want the other one.
constexpr int decoder_threads = video_frames_threads_by_size;
// While the caller walks forward, the worker keeps up to this many frames after it decoded: a
// frame slower to decode than its slice lasts (a keyframe, a burst of detail) is then absorbed
// by the frames before it, and the caller's thread is free for drawing meanwhile.
constexpr int64_t read_ahead_frames = 8;
// Once the decoding is timed, the frames read ahead are as many as take eight frames' decoding
// to make: played at a slice each, they cover a burst of that much. Never fewer than this.
constexpr int64_t least_read_ahead = 3;
constexpr double slice_ms = 1067 * 1000.0 / 32000;
// Reading ahead takes new blocks only up to this many (the lent picture, the one being
// converted, two ahead); the rest come as the worker readies memory in the caller's pauses, so a
// walk as fast as the decoder never waits for fresh memory (see grow_pool).
constexpr int read_ahead_new_blocks = 4;
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

// What decodes and converts on one thread: the caller's own, or the worker's.
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
    size_t picture_bytes = 0;  // block size of the pictures seen so far
    int64_t play_budget = 0;   // the budget while playing or walking
    bool play_budget_fitted = false;  // to the decoding's speed, once the first fill timed it
    bool play_budget_capped = false;  // it holds fewer than the playing pictures
    int64_t longest_group = 0;  // frames from a keyframe to the farthest frame decoded from it
    int64_t step_budget = 0;   // the budget while the user steps
    bool quick_request = false;  // the request in progress came within playing_gap of the last
    bool slow_request = false;   // it came stepping_gap or more after the last
    // What the worker's fills cost and how fast the user steps back (running averages): a fill
    // behind the user is sized to end before the frames cached behind run out.
    double decode_ms = 0;   // a fill's time per frame decoded (its conversions overlap)
    double convert_ms = 0;  // the worker's conversion of one picture
    // The worker's decoder alone: the calls timed and their total. Only their mean says much;
    // with frame threads one call finds its picture made, the next waits for two.
    double frame_decode_total = 0;
    int64_t frame_decode_calls = 0;
    int64_t ahead_frames = read_ahead_frames;  // frames read ahead of a walk forward
    double step_ms = 100;   // between two steps back
    clock_type::time_point request_start, previous_start;
    int64_t fill_passed = 0;  // frames the fill in progress decoded so far
    bool prefetch = true;
    bool rows_wanted = true;  // false while frames are given without rows: no memory readied
    header_walk* headers = nullptr;  // frames without rows, decoded ahead with `own`
    fill_job job;
    bool worker_started = false;
    bool worker_failed = false;  // the worker's decoder would not open: no fills
    bool pool_failed = false;    // memory ran out: the cache stays as big as it is
    bool stop = false;
    bool filling = false;  // the worker is running a fill
    cached_frames_stats stats{};
    bool in_request = false;            // the caller is inside cached_frames_get
    clock_type::time_point last_return;  // when it last came out
    uint64_t requests = 0;              // calls of cached_frames_get so far
    uint64_t grown_after = ~uint64_t(0);  // the count of calls when the last block was readied

    std::thread worker;
};

namespace {

using guard = std::unique_lock<std::mutex>;

int64_t machine_memory()
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page = sysconf(_SC_PAGESIZE);
    return pages > 0 && page > 0 ? int64_t(pages) * page : 0;
}

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
// decoded ahead of need never pushes out a picture nearer the position than itself; only the
// worker (`in_worker`) takes new memory (see grow_pool).
placement place_picture(cached_frames* f, const AVFrame* frame, int64_t index, int64_t pts,
                        bool in_worker, bool ahead_of_need)
{
    const size_t bytes = dib_block_bytes(frame);
    if (bytes == 0)
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
    // Before the first request (the user is answering the questions) new memory costs nothing.
    const bool grow = in_worker && (!f->job.forward || f->cache.blocks < read_ahead_new_blocks ||
                                    f->requests == 0 || f->cache.budget > f->play_budget);
    slot = frame_cache_reserve(&f->cache, index, bytes, grow, ahead_of_need);
    return {slot, slot >= 0};
}

// Converts the picture into its reserved slot (outside the lock) and publishes it; the slot, or
// -1.
int convert_into_slot(cached_frames* f, dib_converter* converter, const AVFrame* frame, int slot,
                      int64_t index, int64_t pts, guard& held)
{
    uint8_t* block = f->cache.slots[size_t(slot)].block;
    const size_t capacity = f->cache.slots[size_t(slot)].capacity;
    held.unlock();
    const auto converting = clock_type::now();
    const bitmap_info_header* picture = frame_to_dib_in(converter, frame, block, capacity);
    const double convert_ms = ms_since(converting);
    held.lock();
    if (picture && converter != &f->own.converter)
        note_cost(&f->convert_ms, convert_ms);
    if (!picture) {
        frame_cache_abandon(&f->cache, slot);
        return -1;
    }
    frame_cache_publish(&f->cache, slot, picture, pts, index);
    return slot;
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
    const placement p = place_picture(f, frame, index, pts, r != &f->own, ahead_of_need);
    if (!p.to_convert)
        return p.slot;
    return convert_into_slot(f, &r->converter, frame, p.slot, index, pts, held);
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
}

// The worker's converter thread, for each picture its decoder handed over with a reserved slot.
void convert_handed_over(void* owner, dib_converter* converter, const AVFrame* frame,
                         const picture_job& job)
{
    cached_frames* f = static_cast<cached_frames*>(owner);
    guard held(f->lock);
    const int slot = convert_into_slot(f, converter, frame, job.slot, job.index, job.pts, held);
    finish_frame(f, job.index, slot, job.generation);
}

void drain(picture_converter* pipeline, guard& held)
{
    if (!pipeline)
        return;
    held.unlock();
    picture_converter_drain(pipeline);
    held.lock();
}

// Pictures a fill behind the user must bring to be worth its decoding from frame `first` on to
// `to`: the user steps over them more slowly than the next fill decodes from its keyframe.
int64_t worth_filling(const cached_frames* f, int64_t first, int64_t to)
{
    const double passed = double(to - first + 1) * f->decode_ms;
    const double spare = std::max(f->step_ms - f->convert_ms, f->step_ms / 4);
    return int64_t(passed / spare) + 1;
}

// The first frame a fill behind the user can still convert, going on to job.to, before the user
// reaches job.to at the pace of the steps so far, bringing at least what makes it worth it. The
// fill's own first frame when even that is too late: the user is to wait once, not at every
// fill.
int64_t latest_start(const cached_frames* f, const video_frames* v)
{
    const int64_t to = f->job.to;
    if (f->convert_ms <= 0 || f->cache.position <= to)
        return f->job.from;
    const int64_t at = video_frames_can_decode_on(v, to) ? v->last_pts + 1
                                                         : video_frames_first_from_key(v, to);
    const double left = double(f->cache.position - to) * f->step_ms -
                        double(std::max<int64_t>(to - at, 0)) * f->decode_ms;
    const int64_t pictures = int64_t(left / f->convert_ms);
    const int64_t least = std::min(worth_filling(f, video_frames_first_from_key(v, to), to),
                                   f->cache.behind / 2);
    if (pictures < least)
        return f->job.from;
    return std::clamp(to + 1 - pictures, f->job.from, to);
}

// Decodes job.from..job.to in order into the cache, stopping when the job is replaced. With a
// converter thread (`pipeline`), each decoded picture goes to it with the slot reserved for it,
// and the next frame is decoded meanwhile. Frames are finished in order, all of them before this
// returns; a frame with no room stops the fill before the decoder goes past it.
void run_fill(cached_frames* f, frame_reader* r, picture_converter* pipeline, guard& held)
{
    const uint64_t generation = f->job.generation;
    int64_t handed_pts = -1;  // the picture last handed to the converter
    for (int64_t k = f->job.from; k <= f->job.to; k++) {
        if (f->stop || f->job.generation != generation)
            break;
        if (!f->job.forward && k < f->job.to) {
            // Filling behind the user: behind schedule, the first frames are passed over
            // unconverted (the next fill brings them), and the frame needed first comes sooner.
            k = std::max(k, latest_start(f, &r->frames));
            f->job.from = k;
        }
        if (frame_cache_find(&f->cache, k) >= 0) {
            drain(pipeline, held);
            finish_frame(f, k, frame_cache_find(&f->cache, k), generation);
            continue;
        }
        f->fill_passed += frames_to_reach(&r->frames, k);
        if (!pipeline) {
            finish_frame(f, k, decode_into_cache(f, r, k, true, held), generation);
            continue;
        }
        // The decoder alone is timed only until the playing budget is fitted, its one use. The
        // first frame of a fill waits for a seek and the codec's threads to fill up.
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
        // A dropped frame after a picture still being converted shares that picture.
        if (!frame || pts == handed_pts)
            drain(pipeline, held);
        const placement p =
            frame ? place_picture(f, frame, k, pts, true, true) : placement{};
        if (p.to_convert) {
            held.unlock();
            const bool handed = picture_converter_put(pipeline, frame, {k, pts, generation, p.slot});
            if (!handed)
                picture_converter_drain(pipeline);
            held.lock();
            if (handed) {
                handed_pts = pts;
                continue;
            }
            finish_frame(f, k, convert_into_slot(f, &r->converter, frame, p.slot, k, pts, held),
                         generation);
            continue;
        }
        drain(pipeline, held);
        finish_frame(f, k, p.slot, generation);
    }
    drain(pipeline, held);
}

// Blocks the worker makes ready: enough for the playing budget, or for the whole clip if it is
// smaller. The memory for stepping is taken by the fills that use it.
int64_t pool_target(const cached_frames* f)
{
    const int64_t fit = f->picture_bytes ? std::clamp<int64_t>(f->play_budget /
                                                               int64_t(f->picture_bytes), 2,
                                                               frame_cache_max_slots)
                                         : 0;
    return f->limit > 0 ? std::min(fit, f->limit + 1) : fit;
}

bool wants_block(const cached_frames* f)
{
    return f->rows_wanted && !f->pool_failed && f->cache.blocks < pool_target(f) &&
           frame_cache_has_room(&f->cache, f->picture_bytes);
}

// Fresh memory is slow to touch the first time (the kernel maps and clears every page: 3 ms for
// a 640x480 picture on a virtual machine). The worker does that for the cache's blocks while the
// caller is away (playing a frame's sound, waiting for a dialog), so that requests only reuse
// blocks and a walk as fast as the decoder goes never shares the processor with it; the cache
// holds fewer pictures meanwhile. One block a frame during playback keeps every frame played.
void grow_pool(cached_frames* f, guard& held)
{
    const size_t bytes = f->picture_bytes;
    held.unlock();
    uint8_t* block = picture_block_alloc(bytes);
    if (block)
        std::memset(block, 0, bytes);
    held.lock();
    if (!block)
        f->pool_failed = true;
    else if (!frame_cache_adopt(&f->cache, block, bytes))
        picture_block_free(block, bytes);
    if (!wants_block(f))
        f->changed.notify_all();
}

// Waits for something to do; true when it is a fill, false when it is memory to ready.
bool wait_for_work(cached_frames* f, guard& held)
{
    for (;;) {
        if (f->stop || f->job.active)
            return true;
        if (!wants_block(f)) {
            f->changed.wait(held);
        } else if (f->in_request) {
            f->changed.wait(held);  // the request's end wakes us
        } else {
            const bool first_in_pause = f->grown_after != f->requests;
            const auto ready = f->last_return + (first_in_pause ? caller_idle : caller_paused);
            if (clock_type::now() >= ready) {
                f->grown_after = f->requests;
                return false;
            }
            f->changed.wait_until(held, ready);
        }
    }
}

// Fits the read-ahead and the playing budget to the decoding's speed, once the first fill (while
// the user answers the questions) has timed it. Frames read ahead: as many as take eight frames'
// decoding to make. Frames kept behind: stepping back over N of them takes N of the user's
// steps, while the fill behind them decodes every frame from the keyframe before, so that a
// step back from anywhere in the longest group waits for none, N = (longest group) * decode /
// (step + decode). The playing pictures hold that for pictures up to 1080p once their
// read-ahead is short; larger ones, which the playing budget caps below them, get what it
// takes, within the stepping budget. The timing is the first frames' (a keyframe and the codec's
// threads starting among them), on the slow side: the frames behind then have some to spare.
// The worker readies the blocks while the user is still answering.
void fit_play_budget(cached_frames* f)
{
    f->play_budget_fitted = true;
    if (f->picture_bytes == 0 || f->step_budget <= f->play_budget)
        return;
    const double d = f->frame_decode_calls > 0
                         ? f->frame_decode_total / double(f->frame_decode_calls)
                         : 0;
    f->ahead_frames = std::clamp<int64_t>(int64_t(std::ceil(read_ahead_frames * d / slice_ms)),
                                          least_read_ahead, read_ahead_frames);
    const int64_t picture = int64_t(f->picture_bytes);
    if (f->longest_group <= 0 || !f->play_budget_capped)
        return;
    const double behind = double(f->longest_group) * d / (user_step_ms + d);
    const int64_t pictures = int64_t(behind) + 1 + f->ahead_frames + 2;  // + lent, converting
    const int64_t budget = std::clamp(pictures * picture, f->play_budget, f->step_budget);
    if (f->cache.budget == f->play_budget)
        f->cache.budget = budget;
    f->play_budget = budget;
}

void worker_main(cached_frames* f)
{
    frame_reader reader;
    bool reader_open = false;
    picture_converter* pipeline = nullptr;
    guard held(f->lock);
    for (;;) {
        if (!wait_for_work(f, held)) {
            grow_pool(f, held);
            continue;
        }
        if (f->stop)
            break;
        if (!reader_open) {
            // The fills' own demuxer and decoder, opened on the first fill.
            held.unlock();
            reader_open = open_reader(&reader, f, decoder_threads);
            // Without its own thread the worker converts each picture after decoding it.
            if (reader_open)
                pipeline = picture_converter_start(convert_handed_over, f);
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
            run_fill(f, &reader, pipeline, held);
            // The conversions overlap the decoding: the fill's time per frame it decoded. Reading
            // ahead of playback, a fill is one frame that the codec's threads mostly had ready,
            // which says nothing of how long a fill from a keyframe takes.
            if (f->fill_passed >= least_timed_frames) {
                note_cost(&f->decode_ms, ms_since(fill_start) / double(f->fill_passed));
                if (!f->play_budget_fitted)
                    fit_play_budget(f);
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
    picture_converter_stop(pipeline);
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
    if (!f->prefetch || f->worker_failed || f->limit <= 0 || pictures < min_prefetch_pictures)
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
// picture and one being converted), filled in before the user gets there. A fill decodes from
// the keyframe before, however far, and that takes its time, so each fill brings enough frames
// to be worth it (the user steps over them more slowly than the next fill's decodes from the
// keyframe take) and, when the frames cached behind allow, as many as can be converted before
// the user reaches the end of them. A fill stops at the keyframe before the cached run: the
// frames after it come quickly, and the next fill, from the keyframe before that, has them to
// step over meanwhile.
void fill_behind(cached_frames* f, int64_t index)
{
    const int64_t keep = f->cache.behind;
    const int64_t behind = frame_cache_run(&f->cache, index, -1, keep);
    const int64_t to = index - behind - 1;  // the frame before the cached run
    if (to < 0 || behind >= keep)
        return;
    const int64_t first = video_frames_first_from_key(&f->own.frames, to);
    const double passed = double(to - first + 1) * f->decode_ms;  // decoding up to `to`
    const int64_t worth = worth_filling(f, first, to);
    const int64_t in_time = f->convert_ms > 0 ? int64_t((double(behind) * f->step_ms - passed) /
                                                       f->convert_ms)
                                              : keep;
    const int64_t room = keep - behind;
    const int64_t batch = std::min({room, std::max(worth, in_time), to - first + 1});
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
    if (!f->prefetch || f->worker_failed || f->job.active || pictures < min_prefetch_pictures ||
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
    if ((f->prefetch && !f->worker_failed) || pictures < min_prefetch_pictures ||
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
    const AVCodecContext* codec = f->own.frames.codec;
    const int64_t picture = int64_t(dib_row_bytes(codec->width, 24)) * codec->height;
    const int64_t memory = machine_memory();
    f->play_budget = frame_cache_budget_for(picture, memory);
    f->step_budget = frame_cache_step_budget_for(picture, memory, f->play_budget);
    f->play_budget_capped = f->play_budget < frame_cache_playing_pictures * picture;
    // Only a capped budget is fitted to the groups of pictures (see fit_play_budget).
    if (f->play_budget_capped)
        f->longest_group = video_frames_longest_group(&f->own.frames);
    frame_cache_init(&f->cache, f->play_budget, frames);
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

const bitmap_info_header* get_frame(cached_frames* f, int64_t index, guard& held)
{
    f->cache.lent = -1;  // the picture given last may go from now on
    if (index < 0 || (f->limit > 0 && index >= f->limit))
        return nullptr;
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
        return nullptr;
    f->cache.lent = slot;
    plan_fill(f, index, previous);
    return f->cache.slots[size_t(slot)].picture;
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
    f->in_request = true;
    f->requests++;
    const bitmap_info_header* picture = get_frame(f, index, held);
    f->in_request = false;
    f->last_return = clock_type::now();
    if (wants_block(f))
        start_worker(f);  // and wakes it
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
    // Fills and readied memory serve converted pictures: none while frames come without rows.
    guard held(f->lock);
    f->job.generation++;
    f->job.active = false;
    f->changed.wait(held, [f] { return !f->filling; });
    frame_cache_clear(&f->cache);
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
    header_walk_stop(f->headers);
    close_reader(&f->own);
    frame_cache_free(&f->cache);
    delete f;
}

void cached_frames_configure(cached_frames* f, int64_t budget, bool prefetch)
{
    guard held(f->lock);
    f->job.generation++;
    f->job.active = false;
    f->changed.wait(held, [f] { return !f->filling; });
    f->prefetch = prefetch;
    frame_cache_clear(&f->cache);
    f->cache.budget = f->play_budget = f->step_budget = std::max<int64_t>(budget, 0);
}

void cached_frames_set_step_budget(cached_frames* f, int64_t budget)
{
    guard held(f->lock);
    f->step_budget = std::max(budget, f->play_budget);
}

void cached_frames_settle(cached_frames* f)
{
    guard held(f->lock);
    f->changed.wait(held,
                    [f] { return !f->job.active && (!f->worker_started || !wants_block(f)); });
}

cached_frames_stats cached_frames_get_stats(cached_frames* f)
{
    guard held(f->lock);
    cached_frames_stats s = f->stats;
    s.budget = f->cache.budget;
    s.bytes = f->cache.bytes;
    s.conversions = f->cache.conversions;
    s.pictures = 0;
    for (const cache_slot& slot : f->cache.slots)
        s.pictures += slot.first >= 0;
    return s;
}
