// Sound in other stored formats, converted by the Audio Compression Manager: tone clips the
// smoke test made with ffmpeg (a 440 Hz sine at 1/8 of full scale) are read as the slices' 16-bit
// mono PCM at 32000 Hz at the tone's pitch and level, the same slice again on a step back and
// from a fresh start. Formats Wine has no converter for must say so, and give no sound.
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/avi_file.h"
#include "tests/wine/check.h"

namespace {

constexpr int32_t slice_samples = 1067;
constexpr int32_t frames = 40;

struct tone_clip {
    const char* name;
    bool needed;  // Wine has a converter for it
};

const tone_clip clips[] = {
    {"tone-s16-44100-stereo.avi", true}, {"tone-u8-22050.avi", true},
    {"tone-ima-adpcm.avi", true},        {"tone-mp3.avi", true},
    {"tone-ac3.avi", false},
    // Stored PCM in chunks that split its blocks: read from the chunks, not by the library.
    {"tone-s16-44100-stereo-split.avi", true},
};

avi_stream* first_audio(avi_file* file)
{
    avi_file_info info{};
    avi_file_get_info(file, &info);
    for (uint32_t i = 0; i < info.streams; i++) {
        avi_stream* s = avi_file_get_stream(file, i);
        avi_stream_info si{};
        if (s && avi_stream_get_info(s, &si) == 0 && si.type == stream_type_audio)
            return s;
        avi_stream_release(s);
    }
    return nullptr;
}

std::vector<int16_t> slice_of(avi_stream* s, int32_t k)
{
    std::vector<int16_t> slice(slice_samples, 0);
    int32_t got = -1;
    CHECK(avi_sound_read(s, k * slice_samples, slice_samples, slice.data(), &got) == 0);
    CHECK(got == slice_samples);
    return slice;
}

void check_tone(const std::string& path, const tone_clip& clip)
{
    avi_file* file = nullptr;
    if (!CHECK(avi_file_open(&file, path.c_str()) == 0))
        return;
    avi_stream* audio = first_audio(file);
    if (CHECK(audio != nullptr) && avi_sound_open(audio) != 0) {
        std::printf("no converter for %s\n", clip.name);
        CHECK(!clip.needed);
        int32_t got = -1;
        int16_t slice[slice_samples] = {};
        avi_sound_read(audio, 0, slice_samples, slice, &got);
        CHECK(got <= 0);
    } else if (audio) {
        std::vector<int16_t> played;
        for (int32_t k = 0; k < frames; k++) {
            const std::vector<int16_t> slice = slice_of(audio, k);
            played.insert(played.end(), slice.begin(), slice.end());
        }
        const std::vector<int16_t> twentieth(played.begin() + 20 * slice_samples,
                                             played.begin() + 21 * slice_samples);
        CHECK(slice_of(audio, 20) == twentieth);
        // Reached first thing in a fresh open, as after a jump.
        avi_file* again = nullptr;
        if (CHECK(avi_file_open(&again, path.c_str()) == 0)) {
            avi_stream* fresh = first_audio(again);
            if (CHECK(fresh != nullptr))
                CHECK(slice_of(fresh, 20) == twentieth);
            avi_stream_release(fresh);
            avi_file_release(again);
        }
        // The last second: the tone's pitch from its upward zero crossings, and its level.
        const size_t from = played.size() - 32000;
        int rises = 0;
        double sum = 0;
        for (size_t i = from; i < played.size(); i++) {
            rises += played[i - 1] < 0 && played[i] >= 0;
            sum += double(played[i]) * played[i];
        }
        const double level = std::sqrt(sum / 32000);
        std::printf("%s: %d Hz, level %.0f\n", clip.name, rises, level);
        CHECK(rises >= 437 && rises <= 443);
        CHECK(std::fabs(level - 2896) < 290);
    }
    avi_stream_release(audio);
    avi_file_release(file);
}

}  // namespace

void check_sound_read(const std::string& folder)
{
    for (const tone_clip& clip : clips) {
        const std::string path = folder + clip.name;
        if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
            std::printf("FAILED: %s was not made\n", clip.name);
            CHECK(false);
            continue;
        }
        check_tone(path, clip);
    }
}
