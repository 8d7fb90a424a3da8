// Test clips: writes AVI files byte by byte (RIFF header, one strl per stream, movi, idx1) with
// raw DIB video and 16-bit mono 32000 Hz PCM audio whose content is a known function of position,
// so tests can check every decoded pixel and sample.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct test_rgb {
    uint8_t r, g, b;
};
inline bool operator==(test_rgb a, test_rgb b)
{
    return a.r == b.r && a.g == b.g && a.b == b.b;
}

struct test_avi_options {
    // Video: raw BI_RGB DIB frames, bottom-up unless top_down (stored with a negative height).
    bool video = true;
    int32_t width = 64;
    int32_t height = 48;
    int32_t frames = 30;
    uint32_t video_scale = 1000;
    uint32_t video_rate = 30000;
    int bits = 24;  // 8 (with a colour table), 16 (RGB555), 24 or 32
    bool top_down = false;
    // The video stream header's rcFrame: all zero when empty_rcframe, the explicit one when
    // has_rcframe, else 0,0,width,height.
    bool empty_rcframe = false;
    bool has_rcframe = false;
    int16_t rcframe[4] = {0, 0, 0, 0};  // left, top, right, bottom
    std::vector<int32_t> empty_frames;  // frames written as empty chunks (dropped frames)

    // Audio: PCM 16-bit mono 32000 Hz, dwScale 2, dwRate 64000, dwSampleSize 2.
    bool audio = true;
    int64_t audio_samples = -1;    // -1: 1067 per video frame (or 32000 without video)
    int64_t audio_chunk = 1067;    // samples per movi chunk
    bool audio_first = false;      // the audio stream's strl comes before the video's
    bool third_stream = false;     // a second audio stream after the others (salt 1 content)
};

// Colour of pixel (x, y), counted from the top, of frame `frame` in 24- and 32-bit clips.
test_rgb test_pixel(int32_t frame, int32_t x, int32_t y);
// The 16-bit value stored for that pixel in 16-bit clips: test_pixel packed as x1r5g5b5.
uint16_t test_pixel_555(int32_t frame, int32_t x, int32_t y);
// In 8-bit clips: the colour-table index stored for the pixel, and the table's colours.
uint8_t test_pixel_index(int32_t frame, int32_t x, int32_t y);
test_rgb test_palette_colour(int index);
// Alpha byte stored with every pixel of 32-bit clips.
constexpr uint8_t test_alpha = 0x80;

// Sample n of an audio stream; the first audio stream uses salt 0, the third stream salt 1.
// Neighbouring samples differ and the sequence does not repeat.
int16_t test_sample(int64_t n, int salt = 0);

// The audio sample count the options resolve to.
int64_t test_audio_samples(const test_avi_options& options);

// Writes the clip; false with *error set when the options are unusable or the file cannot be written.
bool write_test_avi(const char* path, const test_avi_options& options, std::string* error = nullptr);
// The same clip in memory.
bool build_test_avi(const test_avi_options& options, std::vector<uint8_t>* out,
                    std::string* error = nullptr);
