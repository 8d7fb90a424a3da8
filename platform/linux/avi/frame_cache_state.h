// The frame cache's shared state, private to its three parts: the requests
// (frame_cache_policy.cpp), the worker that decodes ahead (frame_cache_worker.cpp) and the
// conversion of the pictures shown (frame_cache_show.cpp). All of it is under `lock` unless said.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "platform/linux/avi/avi_frame_cache.h"
#include "platform/linux/avi/frame_cache_store.h"
#include "platform/linux/avi/frame_to_dib.h"
#include "platform/linux/avi/header_walk.h"
#include "platform/linux/avi/picture_converter.h"
#include "platform/linux/avi/shown_pictures.h"
#include "platform/linux/avi/video_frames.h"

namespace frame_cache_internal {

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

// A run of frames to decode in order into the cache.
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

}  // namespace frame_cache_internal

struct cached_frames {
    std::string path;
    int stream = -1;
    int64_t limit = 0;

    frame_cache_internal::frame_reader own;  // the caller's thread only

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
    int64_t ahead_frames = frame_cache_internal::read_ahead_frames;  // frames read ahead of a walk forward
    double step_ms = 100;   // between two steps back
    frame_cache_internal::clock_type::time_point request_start, previous_start;
    int64_t fill_passed = 0;  // frames the fill in progress decoded so far
    bool prefetch = true;
    bool rows_wanted = true;  // false while frames are given without rows
    header_walk* headers = nullptr;  // frames without rows, decoded ahead with `own`
    frame_cache_internal::fill_job job;
    bool worker_started = false;
    bool worker_failed = false;  // the worker's decoder would not open: no fills
    bool stop = false;
    bool filling = false;  // the worker is running a fill
    cached_frames_stats stats{};
    frame_cache_internal::clock_type::time_point last_return;  // when the caller last came out of cached_frames_get
    uint64_t requests = 0;              // calls of cached_frames_get so far
    // The pictures shown, converted from the cached ones; the next one foreseen is converted
    // on a thread of its own while the one before is shown.
    shown_pictures shown;
    picture_converter* ahead = nullptr;
    bool converting_ahead = false;
    int direction = 0;  // +1 or -1 after a step to the next or previous frame, else 0

    std::thread worker;
};

namespace frame_cache_internal {

using guard = std::unique_lock<std::mutex>;

// The worker (frame_cache_worker.cpp).

// Opens `r` on the cache's stream with `threads` codec threads; false if it cannot.
bool open_reader(frame_reader* r, const cached_frames* f, int threads);
void close_reader(frame_reader* r);
// Pictures of the size seen so far that the budget holds; 0 before the first.
int pictures_in_budget(const cached_frames* f);
double ms_since(clock_type::time_point start);
// Folds a new sample into a running average of the last few.
void note_cost(double* average, double sample);
// Decodes frame `index` with `r` (outside the lock) and caches its picture unless it is there;
// returns the slot answering it, or -1.
int decode_into_cache(cached_frames* f, frame_reader* r, int64_t index, bool ahead_of_need,
                      guard& held);
// Frames a fill behind the user must bring to be worth decoding from `first` to `to`.
int64_t worth_filling(const cached_frames* f, int64_t first, int64_t to);
// Starts the worker if need be, and wakes it.
void start_worker(cached_frames* f);
// Has the worker decode frames `from` to `to` into the cache (`forward`: reading ahead of a walk
// forward), calling off the fill in progress.
void start_fill(cached_frames* f, int64_t from, int64_t to, bool forward = false);

// The pictures shown (frame_cache_show.cpp).

// Has the converter thread convert the frame the user is likely to ask for next.
void convert_ahead(cached_frames* f);
// The converter thread's work, for picture_converter_start.
void convert_handed_over(void* owner, dib_converter* converter, const AVFrame* frame,
                         const picture_job& job);
// The packed DIB of the picture in `slot`, valid until the next request; nullptr if it cannot
// be converted.
const bitmap_info_header* show(cached_frames* f, int slot, guard& held);

}  // namespace frame_cache_internal
