#include "playback/slice_clock.h"

// <thread> brings the clocks; the whole of <chrono> carries a non-ASCII literal that the Windows
// build's code page 932 cannot take.
#include <thread>

#include "playback/audio_slice.h"

void wait_slice_time(slice_clock& clock)
{
    using namespace std::chrono;
    constexpr int64_t slice_ns = int64_t(slice_bytes) * 1000000000 / slice_format.nAvgBytesPerSec;
    const int64_t now = duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
    if (!clock.running || now > clock.next_ns + slice_ns)
        clock.next_ns = now;
    clock.next_ns += slice_ns;
    clock.running = true;
    std::this_thread::sleep_until(steady_clock::time_point(nanoseconds(clock.next_ns)));
}
