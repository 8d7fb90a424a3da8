// Stepping back against stepping forward through the AVI service. A step is what the frame loop
// asks of the service for one frame: the picture (avi_frame_get) and the audio slice
// (build_audio_slice); both are timed, and their sum.
//
// Usage: frame_step CLIP [--at K] [--trials N] [--budget-mb MB] [--back-steps S] [--think-ms T]
//                        [--no-prefetch] [--pace-ms P] [--ready-ms R]
//
// At frame K (default 200): each trial opens the clip, walks frames 0..K in order and then times
// the step to K + 1 (a frame not seen yet) and, after returning to K, the step to K - 1. Medians
// over the trials, and their ratio. Between the walk and the steps the worker is let finish
// what it does, as it has while a user looks at a frame and answers the step dialog.
//
// With --back-steps S: one decoder walks 0..K, then steps back S frames one at a time, waiting
// T ms (default 0) before each step as a user answering the step dialog does, and reports the
// median, 90th percentile and worst step, how many took over 100 ms, the process's peak memory
// by then, against S steps forward to new frames from K - S (a step forward decodes one frame
// whatever the pause before it).
// --pace-ms P makes the walk to K pause P ms after each frame, as playback does for its sound
// (33 at 30 frames a second); without it the walk goes as fast as the frames decode.
// --ready-ms R makes the walk start R ms after the clip is opened, as the program's first frame
// comes only once the user has answered its two questions (default 0).
// --budget-mb sets the cache budget (default: the service's own), --no-prefetch turns off the
// worker's fills so that a step back beyond the cache decodes at that moment.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_clip.h"
#include "platform/linux/avi/avi_frame_cache.h"

namespace {

using clock_type = std::chrono::steady_clock;

struct options {
    const char* clip = nullptr;
    int32_t at = 200;
    int trials = 15;
    int64_t budget = -1;
    int back_steps = 0;
    int think_ms = 0;
    int pace_ms = 0;
    int ready_ms = 0;
    bool prefetch = true;
};

// Microseconds of the picture and of the slice of one step.
struct step_time {
    double frame_us = 0;
    double slice_us = 0;
    double total() const { return frame_us + slice_us; }
};

bool open_clip(playback_state& state, const options& o)
{
    if (!bench_open_clip(state, o.clip))
        return false;
    cached_frames* cache = avi_frame_cache(state.decoder);
    if (o.budget >= 0 || !o.prefetch) {
        const int64_t budget = o.budget >= 0 ? o.budget : cached_frames_get_stats(cache).budget;
        cached_frames_configure(cache, budget, o.prefetch);
    }
    return true;
}

step_time timed_step(playback_state& state, int32_t k, bool* ok)
{
    const auto start = clock_type::now();
    const bitmap_info_header* h = avi_frame_get(state.decoder, k);
    const auto decoded = clock_type::now();
    build_audio_slice(state, k);
    const auto sliced = clock_type::now();
    if (!h) {
        std::fprintf(stderr, "frame_step: frame %d did not decode\n", k);
        *ok = false;
    }
    return {std::chrono::duration<double, std::micro>(decoded - start).count(),
            std::chrono::duration<double, std::micro>(sliced - decoded).count()};
}

bool walk_to(playback_state& state, int32_t k, int pace_ms = 0)
{
    for (int32_t i = 0; i <= k; i++) {
        if (!avi_frame_get(state.decoder, i))
            return false;
        build_audio_slice(state, i);
        if (pace_ms > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(pace_ms));
    }
    return true;
}

void settle(playback_state& state)
{
    cached_frames_settle(avi_frame_cache(state.decoder));
}

// The process's peak resident memory in kB (VmHWM), 0 if unknown.
long peak_rss_kb()
{
    FILE* status = std::fopen("/proc/self/status", "r");
    if (!status)
        return 0;
    char line[256];
    long kb = 0;
    while (std::fgets(line, sizeof line, status)) {
        if (!std::strncmp(line, "VmHWM:", 6))
            kb = std::atol(line + 6);
    }
    std::fclose(status);
    return kb;
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5));
    return v[i];
}

std::vector<double> totals(const std::vector<step_time>& steps)
{
    std::vector<double> v;
    for (const step_time& s : steps)
        v.push_back(s.total());
    return v;
}

std::vector<double> frames_only(const std::vector<step_time>& steps)
{
    std::vector<double> v;
    for (const step_time& s : steps)
        v.push_back(s.frame_us);
    return v;
}

std::vector<double> slices_only(const std::vector<step_time>& steps)
{
    std::vector<double> v;
    for (const step_time& s : steps)
        v.push_back(s.slice_us);
    return v;
}

void print_side(const char* name, const std::vector<step_time>& steps)
{
    std::printf("%s median %.1f us p90 %.1f us max %.1f us (picture median %.1f us, slice median "
                "%.1f us)",
                name, percentile(totals(steps), 0.5), percentile(totals(steps), 0.9),
                percentile(totals(steps), 1.0), percentile(frames_only(steps), 0.5),
                percentile(slices_only(steps), 0.5));
}

bool at_frame(const options& o)
{
    std::vector<step_time> forward, back;
    bool ok = true;
    for (int t = 0; t < o.trials && ok; t++) {
        playback_state state;
        ok = open_clip(state, o) && walk_to(state, o.at);
        if (ok) {
            settle(state);
            forward.push_back(timed_step(state, o.at + 1, &ok));
            timed_step(state, o.at, &ok);
            settle(state);
            back.push_back(timed_step(state, o.at - 1, &ok));
        }
        bench_close_clip(state);
    }
    if (!ok)
        return false;
    const double f = percentile(totals(forward), 0.5);
    const double b = percentile(totals(back), 0.5);
    std::printf("at frame %d, %d trials: ", o.at, o.trials);
    print_side("forward", forward);
    std::printf("; ");
    print_side("back", back);
    std::printf("; back/forward %.3f (load %.2f)\n", f > 0 ? b / f : 0.0, bench_load_average());
    return true;
}

bool back_steps(const options& o)
{
    std::vector<step_time> back, forward;
    playback_state state;
    bool ok = open_clip(state, o);
    std::this_thread::sleep_for(std::chrono::milliseconds(o.ready_ms));
    ok = ok && walk_to(state, o.at, o.pace_ms);
    settle(state);
    for (int s = 1; s <= o.back_steps && ok && o.at - s >= 0; s++) {
        if (o.think_ms > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(o.think_ms));
        back.push_back(timed_step(state, o.at - s, &ok));
    }
    const cached_frames_stats stats = cached_frames_get_stats(avi_frame_cache(state.decoder));
    const long peak = peak_rss_kb();
    long slow = 0;
    std::string slow_frames;
    for (size_t i = 0; i < back.size(); i++) {
        if (back[i].total() > 100000 && slow++ < 8)
            slow_frames += " " + std::to_string(o.at - 1 - int(i)) + " (" +
                           std::to_string(int(back[i].total() / 1000)) + " ms)";
    }
    bench_close_clip(state);

    // Steps forward to new frames over the same stretch, on a fresh decoder.
    const int32_t from = std::max(0, o.at - o.back_steps);
    playback_state fresh;
    ok = ok && open_clip(fresh, o) && walk_to(fresh, from);
    settle(fresh);
    for (int32_t k = from + 1; k <= o.at && ok; k++)
        forward.push_back(timed_step(fresh, k, &ok));
    bench_close_clip(fresh);
    if (!ok)
        return false;

    const double f = percentile(totals(forward), 0.5);
    const double b = percentile(totals(back), 0.5);
    std::printf("%zu steps back from frame %d (walked to at %d ms a frame from %d ms after the "
                "open), think %d ms, prefetch %s, budget %.0f MB: ",
                back.size(), o.at, o.pace_ms, o.ready_ms, o.think_ms, o.prefetch ? "on" : "off",
                double(stats.budget) / (1 << 20));
    print_side("back", back);
    std::printf("; ");
    print_side("forward", forward);
    std::printf("; back/forward median %.3f; back over 100 ms %ld%s; peak rss %ld kB; cache fills "
                "%lld, waits %lld, decodes %lld (load %.2f)\n",
                f > 0 ? b / f : 0.0, slow, slow ? (" at" + slow_frames).c_str() : "", peak, (long long)stats.prefetches,
                (long long)stats.waits, (long long)stats.decodes, bench_load_average());
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    options o;
    for (int i = 1; i < argc; i++) {
        const bool has_value = i + 1 < argc;
        if (!std::strcmp(argv[i], "--at") && has_value)
            o.at = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--trials") && has_value)
            o.trials = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--budget-mb") && has_value)
            o.budget = std::atoll(argv[++i]) << 20;
        else if (!std::strcmp(argv[i], "--back-steps") && has_value)
            o.back_steps = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--think-ms") && has_value)
            o.think_ms = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--pace-ms") && has_value)
            o.pace_ms = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--ready-ms") && has_value)
            o.ready_ms = std::max(0, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--no-prefetch"))
            o.prefetch = false;
        else if (argv[i][0] != '-' && !o.clip)
            o.clip = argv[i];
        else {
            std::fprintf(stderr, "frame_step: unknown argument %s\n", argv[i]);
            return 2;
        }
    }
    if (!o.clip) {
        std::fprintf(stderr, "usage: frame_step CLIP [--at K] [--trials N] [--budget-mb MB] "
                             "[--back-steps S] [--think-ms T] [--no-prefetch] [--pace-ms P] "
                             "[--ready-ms R]\n");
        return 2;
    }
    playback_state probe;
    const bool opened = bench_open_clip(probe, o.clip);
    const int64_t length = opened ? video_slot(probe)->info.length : 0;
    bench_close_clip(probe);
    if (!opened || o.at < 1 || o.at + 1 >= length) {
        std::fprintf(stderr, "frame_step: cannot open %s, or frame %d is not inside it\n", o.clip,
                     o.at);
        return 1;
    }
    return (o.back_steps > 0 ? back_steps(o) : at_frame(o)) ? 0 : 1;
}
