// Cost of the audio slices when the sound must be decoded and converted, against sound stored as
// the slices hold it. Makes one clip (64x48 raw video, 30 frames a second, 60 s) with its 440 Hz
// sound stored several ways, then for each: the mean time of a slice played forward, of a step
// back over the last 300 slices, of one step back far beyond the window, and the walk time of
// every frame with its slice (the frame loop's work without the pace of the sound).
//
// Usage: sound_slices [--seconds S]   (needs the ffmpeg command)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "bench/bench_clip.h"

namespace {

using clock_type = std::chrono::steady_clock;

double since(clock_type::time_point start)
{
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

bool run(const std::string& command)
{
    return std::system((command + " > /dev/null 2>&1").c_str()) == 0;
}

// The clip's video alone, then the video with the tone stored as `audio` (ffmpeg arguments).
std::string make_clip(const std::string& dir, const char* name, const char* audio, int seconds)
{
    const std::string video = dir + "/video.avi";
    const std::string path = dir + "/" + name + ".avi";
    if (!std::filesystem::exists(video) &&
        !run("ffmpeg -nostdin -y -f lavfi -i testsrc=size=64x48:rate=30 -frames:v " +
             std::to_string(seconds * 30) + " -c:v rawvideo -pix_fmt bgr24 '" + video + "'"))
        return {};
    if (!run("ffmpeg -nostdin -y -i '" + video + "' -f lavfi -i sine=frequency=440:sample_rate=48000:duration=" +
             std::to_string(seconds) + " -map 0:v -map 1:a -c:v copy " + audio + " '" + path + "'"))
        return {};
    return path;
}

void measure(const char* name, const std::string& path)
{
    playback_state state;
    if (!bench_open_clip(state, path.c_str()) || !audio_slot(state)) {
        std::printf("%-22s cannot open %s\n", name, path.c_str());
        return;
    }
    const int32_t frames = int32_t(video_slot(state)->info.length);
    auto start = clock_type::now();
    for (int32_t k = 0; k < frames; k++)
        build_audio_slice(state, k);
    const double forward = since(start) / frames;

    const int32_t back = std::min(frames, 300);
    start = clock_type::now();
    for (int32_t k = frames - 1; k >= frames - back; k--)
        build_audio_slice(state, k);
    const double step_back = since(start) / back;

    start = clock_type::now();
    build_audio_slice(state, 0);
    const double far_back = since(start);
    bench_close_clip(state);

    // A fresh open, so nothing is in any window: every frame decoded, every slice built.
    playback_state walk;
    bench_open_clip(walk, path.c_str());
    start = clock_type::now();
    for (int32_t k = 0; k < frames; k++) {
        avi_frame_get(walk.decoder, k);
        build_audio_slice(walk, k);
    }
    const double walk_time = since(start);
    bench_close_clip(walk);

    std::printf("%-22s %9.1f %9.1f %10.2f %9.3f   %.2f\n", name, forward * 1e6, step_back * 1e6,
                far_back * 1e3, walk_time, bench_load_average());
}

}  // namespace

int main(int argc, char** argv)
{
    int seconds = 60;
    for (int i = 1; i + 1 < argc; i += 2)
        if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::max(1, std::atoi(argv[i + 1]));
    char pattern[] = "/tmp/sound_slices_XXXXXX";
    if (!mkdtemp(pattern))
        return 1;
    const std::string dir = pattern;
    struct stored {
        const char* name;
        const char* audio;
    };
    const stored ways[] = {
        {"pcm s16 mono 32000", "-c:a pcm_s16le -ar 32000 -ac 1"},
        {"pcm s16 stereo 48000", "-c:a pcm_s16le -ac 2"},
        {"mp3 stereo 44100", "-c:a libmp3lame -ar 44100 -ac 2"},
        {"ac-3 stereo 48000", "-c:a ac3 -ac 2"},
        {"ima adpcm mono 22050", "-c:a adpcm_ima_wav -ar 22050 -ac 1"},
    };
    std::printf("%d s clip, %d frames\n", seconds, seconds * 30);
    std::printf("%-22s %9s %9s %10s %9s   %s\n", "sound stored as", "fwd us", "back us",
                "far ms", "walk s", "load");
    for (const stored& way : ways) {
        const std::string path = make_clip(dir, std::to_string(&way - ways).c_str(),
                                           way.audio, seconds);
        if (path.empty())
            std::printf("%-22s ffmpeg could not make it\n", way.name);
        else
            measure(way.name, path);
    }
    std::filesystem::remove_all(dir);
    return 0;
}
