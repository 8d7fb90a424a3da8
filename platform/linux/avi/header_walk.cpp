#include "platform/linux/avi/header_walk.h"

#include <cstdint>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/linux/avi/frame_to_dib.h"
#include "platform/linux/avi/stop_thread.h"

namespace {

// Frames described ahead of the caller: each costs a header only, and a few cover any pause of
// the caller's (a title, a console line) many times over.
constexpr int64_t frames_ahead = 16;

struct described_frame {
    int64_t index = -1;
    bool decoded = false;
    bitmap_info_header header{};
};

}  // namespace

struct header_walk {
    int64_t end = INT64_MAX;  // the first frame that does not exist
    video_frames* frames;     // the caller's, lent to the thread until the walk stops

    std::mutex lock;
    std::condition_variable changed;
    // Under `lock`:
    std::deque<described_frame> ready;  // the frames from `wanted` on, in order
    int64_t wanted = 0;      // the frame the caller is expected to ask for next
    int64_t next = 0;        // the frame the thread decodes next
    uint64_t generation = 0; // a new number drops what the thread is decoding
    bool stop = false;

    dib_converter given;  // the caller's: the block holding the header it was given last
    std::thread thread;
};

namespace {

using guard = std::unique_lock<std::mutex>;

void walk_main(header_walk* w)
{
    guard held(w->lock);
    for (;;) {
        w->changed.wait(held, [w] {
            return w->stop || (w->next < w->end && w->next < w->wanted + frames_ahead);
        });
        if (w->stop)
            return;
        const int64_t k = w->next;
        const uint64_t generation = w->generation;
        held.unlock();
        described_frame d;
        d.index = k;
        int64_t pts = 0;
        const AVFrame* frame = video_frames_decode(w->frames, k, &pts);
        d.decoded = frame && frame_dib_header(frame, &d.header);
        held.lock();
        if (generation == w->generation) {
            w->ready.push_back(d);
            w->next = k + 1;
            w->changed.notify_all();
        }
    }
}

}  // namespace

header_walk* header_walk_start(video_frames* frames, int64_t limit)
{
    header_walk* w = new header_walk;
    w->end = limit > 0 ? limit : INT64_MAX;
    w->frames = frames;
    w->thread = std::thread(walk_main, w);
    return w;
}

const bitmap_info_header* header_walk_get(header_walk* w, int64_t index)
{
    if (index < 0 || index >= w->end)
        return nullptr;
    guard held(w->lock);
    if (index != w->wanted) {
        // The caller went elsewhere: what was prepared is of no use.
        w->generation++;
        w->ready.clear();
        w->wanted = w->next = index;
        w->changed.notify_all();
    }
    w->changed.wait(held, [w] { return !w->ready.empty(); });
    const described_frame d = w->ready.front();
    w->ready.pop_front();
    w->wanted = index + 1;
    w->changed.notify_all();
    held.unlock();
    return d.decoded ? dib_without_rows(&w->given, d.header) : nullptr;
}

void header_walk_stop(header_walk* w)
{
    if (!w)
        return;
    stop_thread(w->lock, w->changed, w->stop, w->thread);
    dib_converter_free(&w->given);
    delete w;
}
