#include "playback/slice_clock.h"

#include <thread>

#include "playback/audio_slice.h"

void wait_slice_time(slice_clock& clock)
{
    using namespace std::chrono;
    constexpr auto slice_time = duration_cast<steady_clock::duration>(
        duration<double>(double(slice_bytes) / slice_format.nAvgBytesPerSec));
    const auto now = steady_clock::now();
    if (!clock.running || now > clock.next + slice_time)
        clock.next = now;
    clock.next += slice_time;
    clock.running = true;
    std::this_thread::sleep_until(clock.next);
}
