// Sound in every stored format comes out as the slices' 16-bit mono PCM at 32000 Hz: a 440 Hz
// tone that starts 0.5 s in, stored six ways, is heard at its pitch, level and place, with
// seamless joins, and the same samples whichever way a slice is reached.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tests/linux/avi_test_clips.h"

namespace {

using AviSound = avi_scratch;

constexpr int32_t slice_samples = 1067;
constexpr int32_t frames = 75;          // 2.5 s of the 3 s clip
constexpr int32_t tone_start = 16000;   // the tone starts 0.5 s in
const double tone_rms = 4096 / std::sqrt(2.0);  // std::sqrt is constexpr in GCC only

struct stored_format {
    const char* name;
    const char* codec;
    int rate;
    int channels;
};

const stored_format formats[] = {
    {"s16 mono 32000", "pcm_s16le", 32000, 1}, {"s16 stereo 44100", "pcm_s16le", 44100, 2},
    {"s16 stereo 48000", "pcm_s16le", 48000, 2}, {"u8 mono 22050", "pcm_u8", 22050, 1},
    {"ima adpcm", "adpcm_ima_wav", 22050, 2},   {"mp3", "libmp3lame", 44100, 2},
    {"ac-3", "ac3", 48000, 2},
};

std::vector<int16_t> read_slice(avi_stream* s, int32_t frame)
{
    std::vector<int16_t> slice(slice_samples, 0);
    int32_t got = -1;
    EXPECT_EQ(avi_sound_read(s, frame * slice_samples, slice_samples, slice.data(), &got), 0);
    EXPECT_EQ(got, slice_samples) << "frame " << frame;
    return slice;
}

double rms(const int16_t* x, size_t n)
{
    double sum = 0;
    for (size_t i = 0; i < n; i++)
        sum += double(x[i]) * x[i];
    return std::sqrt(sum / double(n));
}

// The tone's pitch from its zero crossings upwards over `n` samples.
double pitch(const int16_t* x, size_t n)
{
    int rises = 0;
    for (size_t i = 1; i < n; i++)
        rises += x[i - 1] < 0 && x[i] >= 0;
    return rises * 32000.0 / double(n);
}

TEST_F(AviSound, EveryStoredFormatIsHeardAsTheToneAtItsPlaceAndTheSameWhicheverWayReached)
{
    for (const stored_format& f : formats) {
        SCOPED_TRACE(f.name);
        const std::string name = std::string(f.codec) + std::to_string(f.rate) + ".avi";
        const std::string path = ffmpeg(
            name, "-f lavfi -i \"aevalsrc='if(gte(t,0.5),0.125*sin(2*PI*440*t),0)':s=" +
                      std::to_string(f.rate) + ":d=3\"" +
                      (f.channels == 2 ? " -af 'pan=stereo|c0=c0|c1=c0'" : "") + " -c:a " + f.codec);
        open_clip c(path);
        avi_stream* audio = c.find(stream_type_audio);
        ASSERT_NE(audio, nullptr);
        ASSERT_EQ(avi_sound_open(audio), 0);

        std::vector<int16_t> played;
        for (int32_t k = 0; k < frames; k++) {
            const std::vector<int16_t> slice = read_slice(audio, k);
            played.insert(played.end(), slice.begin(), slice.end());
            if (k % 10 == 9) {  // a step back gives the identical slice
                EXPECT_EQ(read_slice(audio, k - 1),
                          std::vector<int16_t>(played.end() - 2 * slice_samples,
                                               played.end() - slice_samples));
            }
        }

        // Silence, then the tone from 0.5 s on (lossy coders delay it by up to a frame or two).
        size_t onset = 0;
        while (onset < played.size() && std::abs(played[onset]) < 1000)
            onset++;
        EXPECT_GE(onset, size_t(tone_start - 50));
        EXPECT_LE(onset, size_t(tone_start + 1300));
        const int16_t* tone = played.data() + tone_start + 2000;
        const size_t tone_length = played.size() - tone_start - 2000;
        EXPECT_NEAR(pitch(tone, tone_length), 440, 3);
        EXPECT_NEAR(rms(tone, tone_length), tone_rms, tone_rms * 0.1);

        // Joins: no step larger than the tone's own steepest (2 pi 440 / 32000 of its peak).
        for (size_t j = slice_samples; j < played.size(); j += slice_samples)
            EXPECT_LE(std::abs(played[j] - played[j - 1]), 450) << "join before sample " << j;

        // A fresh reader that starts at a slice (a seek) gives the samples straight play gave.
        open_clip again(path);
        avi_stream* seeking = again.find(stream_type_audio);
        // 47 starts afresh; 31 goes back before it; 62 jumps ahead past what converting on reaches.
        for (int32_t k : {47, 31, 62})
            EXPECT_EQ(read_slice(seeking, k),
                      std::vector<int16_t>(played.begin() + k * slice_samples,
                                           played.begin() + (k + 1) * slice_samples))
                << "slice " << k;
    }
}

TEST_F(AviSound, SoundWithoutADecoderIsSilenceNotItsStoredBytes)
{
    const std::string path = ffmpeg("unknown.avi", "-f lavfi -i anoisesrc=r=44100:d=1 -c:a pcm_s16le");
    {
        // The audio format's tag becomes one no decoder knows.
        std::FILE* f = std::fopen(path.c_str(), "r+b");
        ASSERT_NE(f, nullptr);
        std::string head(4096, '\0');
        head.resize(std::fread(head.data(), 1, head.size(), f));
        const size_t strf = head.find("strf", head.find("auds"));
        ASSERT_NE(strf, std::string::npos);
        std::fseek(f, long(strf + 8), SEEK_SET);
        std::fputc(0x34, f);
        std::fputc(0x12, f);
        std::fclose(f);
    }
    open_clip c(path);
    avi_stream* audio = c.find(stream_type_audio);
    ASSERT_NE(audio, nullptr);
    EXPECT_NE(avi_sound_open(audio), 0);
    std::vector<int16_t> slice(slice_samples, 0);
    int32_t got = -1;
    avi_sound_read(audio, 0, slice_samples, slice.data(), &got);
    EXPECT_EQ(got, 0);
    EXPECT_EQ(slice, std::vector<int16_t>(slice_samples, 0));
}

TEST_F(AviSound, SixteenBitMonoAt32000IsTheStoredBytes)
{
    const std::string path = ffmpeg("stored.avi", "-f lavfi -i anoisesrc=r=32000:d=1 -c:a pcm_s16le");
    open_clip c(path);
    avi_stream* audio = c.find(stream_type_audio);
    ASSERT_NE(audio, nullptr);
    for (int32_t k : {0, 5, 4, 20}) {
        std::vector<int16_t> stored(slice_samples, 0);
        int32_t bytes = 0;
        ASSERT_EQ(avi_stream_read(audio, k * slice_samples, slice_samples, stored.data(),
                                  slice_samples * 2, &bytes, nullptr), 0);
        EXPECT_EQ(bytes, slice_samples * 2);
        EXPECT_EQ(read_slice(audio, k), stored) << "slice " << k;
    }
}

}  // namespace
