// The non_monitor walk through the AVI service: every frame decoded in order and its audio slice
// built, as the frame loop does without a display. Prints the wall time, the time per frame and
// the peak resident memory of the whole run.
//
// Usage: frame_walk CLIP [--frames N] [--passes P] [--settle] [--budget-mb MB] [--pace-ms MS]
//   --frames walks the first N frames (default: all); with N beyond the clip's length the walk
//   wraps to frame 0 and goes on, so long walks on short clips still decode N frames.
//   --passes repeats the walk P times on one decoder and reports the fastest.
//   --settle waits after the walk until the cache has all the memory it may take (as it has
//   after a while of playback), before the peak memory is read.
//   --budget-mb sets the cache's budget (default: the service's own).
//   --pace-ms sleeps that long after each frame, as playback waits for the frame's sound; the
//   cache's memory is readied in such pauses.
//   --no-rows tells the decoder that no picture's rows are read, as the walk without display
//   does: frames are decoded but not converted.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

#include "bench/bench_clip.h"
#include "platform/linux/avi/avi_frame_cache.h"

// Every C++ allocation of the walking thread is counted: a walk in steady state makes none.
namespace {
thread_local int64_t allocations = 0;
}

void* operator new(std::size_t size)
{
    allocations++;
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace {

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start)
{
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

double cpu_seconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long current_rss_kb()
{
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

long peak_rss_kb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: frame_walk CLIP [--frames N] [--passes P] [--no-rows]\n");
        return 2;
    }
    const char* path = argv[1];
    int64_t frames = -1;
    int passes = 1;
    bool settle = false;
    int64_t budget = -1;
    int pace_ms = 0;
    bool rows = true;
    for (int i = 2; i < argc; i++) {
        if (!std::strcmp(argv[i], "--frames") && i + 1 < argc)
            frames = std::atoll(argv[++i]);
        else if (!std::strcmp(argv[i], "--passes") && i + 1 < argc)
            passes = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--settle"))
            settle = true;
        else if (!std::strcmp(argv[i], "--budget-mb") && i + 1 < argc)
            budget = std::atoll(argv[++i]) << 20;
        else if (!std::strcmp(argv[i], "--pace-ms") && i + 1 < argc)
            pace_ms = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--no-rows"))
            rows = false;
    }

    const auto open_start = clock_type::now();
    playback_state state;
    if (!bench_open_clip(state, path)) {
        std::fprintf(stderr, "frame_walk: cannot open %s\n", path);
        return 1;
    }
    if (budget >= 0)
        cached_frames_configure(avi_frame_cache(state.decoder), budget, true);
    avi_frame_set_rows_wanted(state.decoder, rows);
    const double open_s = seconds_since(open_start);
    const long rss_before = current_rss_kb();
    const int64_t length = video_slot(state)->info.length;
    if (frames < 0)
        frames = length;

    double best = 1e30;
    double best_cpu = 0;
    int64_t missing = 0;
    // The first frames find the cache's blocks still being made; from then on nothing is.
    const int64_t warm_up = std::min<int64_t>(frames, 10);
    int64_t steady_allocations = 0;
    for (int pass = 0; pass < passes; pass++) {
        const auto start = clock_type::now();
        const double cpu_start = cpu_seconds(RUSAGE_THREAD);
        for (int64_t n = 0; n < frames; n++) {
            const int32_t k = int32_t(n % length);
            if (n == warm_up)
                steady_allocations = allocations;
            const bitmap_info_header* h = avi_frame_get(state.decoder, k);
            if (!h)
                missing++;
            build_audio_slice(state, k);
            if (pace_ms > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(pace_ms));
        }
        steady_allocations = allocations - steady_allocations;
        const double took = seconds_since(start);
        if (took < best) {
            best = took;
            best_cpu = cpu_seconds(RUSAGE_THREAD) - cpu_start;
        }
    }
    const cached_frames_stats stats = cached_frames_get_stats(avi_frame_cache(state.decoder));
    if (settle)
        cached_frames_settle(avi_frame_cache(state.decoder));
    const cached_frames_stats settled = cached_frames_get_stats(avi_frame_cache(state.decoder));
    const long rss_after = current_rss_kb();
    bench_close_clip(state);

    std::printf("open %.4f s walk %lld frames %.4f s %.3f ms/frame (walking thread's CPU %.4f s) "
                "missing %lld, allocations after frame %lld: %lld\n",
                open_s, (long long)frames, best, 1000.0 * best / double(std::max<int64_t>(frames, 1)),
                best_cpu, (long long)missing, (long long)warm_up, (long long)steady_allocations);
    std::printf("memory: rss before walk %ld kB, after %ld kB, peak %ld kB; cache %lld kB in %lld "
                "pictures (%lld at the walk's end), budget %lld kB, %lld conversions; %lld fills by the worker, "
                "%lld waits for it, %lld decodes by the walking thread\n",
                rss_before, rss_after, peak_rss_kb(), (long long)(settled.bytes >> 10),
                (long long)settled.pictures, (long long)stats.pictures,
                (long long)(settled.budget >> 10), (long long)settled.conversions,
                (long long)stats.prefetches, (long long)stats.waits, (long long)stats.decodes);
    return missing ? 1 : 0;
}
