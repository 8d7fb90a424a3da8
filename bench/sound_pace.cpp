// Continuous pace of the sound service: plays 300 frame slices back to back, as the frame loop
// does, and compares the wall time with the 10.003 s they last. With SDL's disk driver and a file
// (SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=path) it also counts gaps: runs of silence inserted
// between slices whose samples are never zero.
//
// Usage: sound_pace [--slices N] [--work-ms MS]
//   --work-ms sleeps that long between calls, standing in for the frame loop's decode and draw.
// It also reports the driver's own clock: SDL's dummy and disk drivers pace by sleeping, and
// oversleep more on a busy machine.
// The audio driver is the caller's SDL_AUDIODRIVER, dummy when unset.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/sound.h"
#include "playback/audio_slice.h"

namespace {

using clock_type = std::chrono::steady_clock;

// Sample i of the whole run: a ramp that never touches zero, so silence stands out.
int16_t ramp_sample(int64_t i)
{
    return int16_t(1 + i % 30000);
}

void put_u32(unsigned char* p, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        p[i] = uint8_t(v >> (8 * i));
}

void put_u16(unsigned char* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

// The frame loop's WAVE slice for `frame`, holding its part of the ramp.
std::vector<unsigned char> slice_image(int frame)
{
    std::vector<unsigned char> image(slice_wave_bytes);
    unsigned char* p = image.data();
    std::memcpy(p, "RIFF", 4);
    put_u32(p + 4, slice_bytes + 36);
    std::memcpy(p + 8, "WAVEfmt ", 8);
    put_u32(p + 16, 16);
    put_u16(p + 20, slice_format.wFormatTag);
    put_u16(p + 22, slice_format.nChannels);
    put_u32(p + 24, slice_format.nSamplesPerSec);
    put_u32(p + 28, slice_format.nAvgBytesPerSec);
    put_u16(p + 32, slice_format.nBlockAlign);
    put_u16(p + 34, slice_format.wBitsPerSample);
    std::memcpy(p + 36, "data", 4);
    put_u32(p + 40, slice_bytes);
    for (int i = 0; i < samples_per_frame; i++)
        put_u16(p + 44 + 2 * i, uint16_t(ramp_sample(int64_t(frame) * samples_per_frame + i)));
    return image;
}

// The device buffer the sound backend asks for, in frames.
constexpr int64_t device_buffer_frames = 1024;

// Each call returns just after the device took the buffer that left less than one buffer of
// queue: after call n the device has taken floor(queued / buffer) buffers since it started. The
// time between the first and last return over the buffers taken in between is the driver's own
// clock, measured during the run. Percent slower than real time.
double driver_clock_error(const std::vector<clock_type::time_point>& returns)
{
    const int64_t buffer_bytes = device_buffer_frames * slice_format.nBlockAlign;
    const int64_t calls = int64_t(returns.size());
    const int64_t buffers = calls * slice_bytes / buffer_bytes - slice_bytes / buffer_bytes;
    if (buffers <= 0)
        return 0;
    const double taken = std::chrono::duration<double>(returns.back() - returns.front()).count();
    const double nominal = double(buffers * device_buffer_frames) / slice_format.nSamplesPerSec;
    return 100.0 * (taken - nominal) / nominal;
}

// Reads back what the disk driver wrote and reports leading silence, gaps inside the run,
// samples that differ from the ramp, and trailing silence.
void report_disk_file(const char* path, int slices)
{
    FILE* file = std::fopen(path, "rb");
    if (!file) {
        std::printf("disk file %s: cannot read\n", path);
        return;
    }
    std::vector<int16_t> written;
    int16_t sample;
    while (std::fread(&sample, 2, 1, file) == 1)
        written.push_back(sample);
    std::fclose(file);

    const int64_t expected = int64_t(slices) * samples_per_frame;
    size_t at = 0;
    while (at < written.size() && written[at] == 0)
        at++;
    const size_t leading = at;
    int64_t next = 0, gaps = 0, inserted = 0, wrong = 0;
    while (at < written.size() && next < expected) {
        if (written[at] == 0) {
            gaps++;
            while (at < written.size() && written[at] == 0) {
                inserted++;
                at++;
            }
            continue;
        }
        if (written[at] != ramp_sample(next))
            wrong++;
        next++;
        at++;
    }
    const size_t trailing = written.size() - at;
    std::printf("disk file: %zu samples; leading silence %zu, trailing silence %zu\n",
                written.size(), leading, trailing);
    std::printf("gaps: %lld (%lld silent samples inserted), samples differing: %lld, "
                "samples missing: %lld\n",
                (long long)gaps, (long long)inserted, (long long)wrong,
                (long long)(expected - next));
}

}  // namespace

int main(int argc, char** argv)
{
    int slices = 300;
    int work_ms = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--slices") == 0)
            slices = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--work-ms") == 0)
            work_ms = std::atoi(argv[i + 1]);
    }
    if (slices < 1)
        slices = 1;
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    const char* driver = std::getenv("SDL_AUDIODRIVER");

    std::vector<std::vector<unsigned char>> images;
    for (int frame = 0; frame < slices; frame++)
        images.push_back(slice_image(frame));

    int failed = 0;
    std::vector<clock_type::time_point> returns;
    const auto start = clock_type::now();
    for (int frame = 0; frame < slices; frame++) {
        if (frame > 0 && work_ms > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(work_ms));
        if (!sound_play_wave(images[frame].data(), images[frame].size()))
            failed++;
        returns.push_back(clock_type::now());
    }
    const auto played = clock_type::now();
    sound_close();
    const auto closed = clock_type::now();

    const double wall = std::chrono::duration<double>(played - start).count();
    const double nominal = double(slices) * slice_bytes / slice_format.nAvgBytesPerSec;
    std::printf("driver %s, %d slices, %d ms work per frame, %d calls failed\n", driver, slices,
                work_ms, failed);
    std::printf("wall %.4f s for %.4f s of sound: error %+.3f %%; sound_close %.1f ms\n", wall,
                nominal, 100.0 * (wall - nominal) / nominal,
                1000.0 * std::chrono::duration<double>(closed - played).count());
    if (!failed && work_ms == 0) {
        // The same sound timed by the driver's clock: what is left is the backend's own error.
        const double clock_error = driver_clock_error(returns);
        const double driver_nominal = nominal * (1 + clock_error / 100);
        std::printf("driver clock %+.3f %%; wall against the driver's clock %+.3f %%\n",
                    clock_error, 100.0 * (wall - driver_nominal) / driver_nominal);
    }

    const char* disk_file = std::getenv("SDL_DISKAUDIOFILE");
    if (std::strcmp(driver, "disk") == 0 && disk_file)
        report_disk_file(disk_file, slices);
    return failed ? 1 : 0;
}
