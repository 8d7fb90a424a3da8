// The SDL sound backend against SDL's disk driver, which writes every buffer it plays to a file:
// slices join without silence, refused images play nothing, a new format reopens the device, and
// a missing driver or device fails at once.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/sound.h"

namespace {

namespace fs = std::filesystem;
using samples = std::vector<int16_t>;

// The disk driver writes whole device buffers of this many frames: silence before the first
// image (written while the device waits for data) and after the last one comes in such units.
constexpr size_t device_buffer_frames = 1024;

// A 16-bit PCM WAVE image of interleaved `data`; a `tag` other than 1 makes it unplayable.
std::vector<unsigned char> wave(const samples& data, uint16_t channels = 1, uint32_t rate = 32000,
                                uint16_t tag = 1)
{
    std::vector<unsigned char> b;
    auto put = [&b](uint32_t v, int size) {
        for (int i = 0; i < size; i++)
            b.push_back(uint8_t(v >> (8 * i)));
    };
    auto tag4 = [&b](const char* t) {
        for (int i = 0; i < 4; i++)
            b.push_back(uint8_t(t[i]));
    };
    const uint32_t data_bytes = uint32_t(2 * data.size());
    tag4("RIFF"), put(36 + data_bytes, 4), tag4("WAVE"), tag4("fmt "), put(16, 4);
    put(tag, 2), put(channels, 2), put(rate, 4), put(rate * 2 * channels, 4);
    put(2 * channels, 2), put(16, 2), tag4("data"), put(data_bytes, 4);
    for (int16_t s : data)
        put(uint16_t(s), 2);
    return b;
}

// Frame slice `n` of a ramp: 1067 samples, none zero, different in every slice.
samples ramp_slice(int n)
{
    samples s(1067);
    for (int i = 0; i < 1067; i++)
        s[i] = int16_t(1 + n * 1067 + i);
    return s;
}

bool play(const std::vector<unsigned char>& image)
{
    return sound_play_wave(image.data(), image.size());
}

// The file holds whole buffers: silence, exactly `expected`, silence.
void expect_played(const fs::path& path, const samples& expected, size_t channels)
{
    samples written;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        for (int16_t s; std::fread(&s, 2, 1, f) == 1;)
            written.push_back(s);
        std::fclose(f);
    }
    const size_t unit = device_buffer_frames * channels;
    EXPECT_EQ(written.size() % unit, 0u) << path;
    size_t at = 0;
    while (at < written.size() && written[at] == 0)
        at++;
    EXPECT_EQ(at % unit, 0u) << "leading silence of " << at << " samples in " << path;
    ASSERT_LE(at + expected.size(), written.size()) << path;
    EXPECT_EQ(samples(written.begin() + at, written.begin() + at + expected.size()), expected)
        << path;
    EXPECT_EQ(samples(written.begin() + at + expected.size(), written.end()),
              samples(written.size() - at - expected.size(), 0))
        << "after the last image in " << path;
}

// The file's sound, silence left out, is exactly `expected` (which holds no zero sample): for
// checks of where sound went, not of its timing, which a loaded machine may break with a gap.
void expect_heard(const fs::path& path, const samples& expected)
{
    samples heard;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        for (int16_t s; std::fread(&s, 2, 1, f) == 1;)
            if (s != 0)
                heard.push_back(s);
        std::fclose(f);
    }
    EXPECT_EQ(heard, expected) << path;
}

class sound : public ::testing::Test {
protected:
    const char* names[2] = {"SDL_AUDIODRIVER", "SDL_DISKAUDIOFILE"};
    std::optional<std::string> saved[2];
    fs::path dir;

    void SetUp() override
    {
        for (int i = 0; i < 2; i++)
            if (const char* value = std::getenv(names[i]))
                saved[i] = value;
        std::string pattern = (fs::temp_directory_path() / "sound_test_XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }

    void TearDown() override
    {
        sound_close();
        for (int i = 0; i < 2; i++)
            saved[i] ? setenv(names[i], saved[i]->c_str(), 1) : unsetenv(names[i]);
        fs::remove_all(dir);
    }

    // The disk driver, writing to `name` in the test's folder; read when a device opens.
    fs::path use_disk_file(const std::string& name)
    {
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", (dir / name).c_str(), 1);
        return dir / name;
    }
};

TEST_F(sound, slices_join_without_silence_and_the_last_one_is_heard)
{
    sound_close();  // nothing open yet: nothing happens
    const fs::path file = use_disk_file("out.raw");
    samples all;
    for (int n = 0; n < 12; n++) {
        const samples slice = ramp_slice(n);
        EXPECT_TRUE(play(wave(slice))) << "slice " << n;
        all.insert(all.end(), slice.begin(), slice.end());
    }
    sound_close();
    expect_played(file, all, 1);
    const auto size = fs::file_size(file);
    sound_close();
    EXPECT_EQ(fs::file_size(file), size);
}

TEST_F(sound, refused_images_play_nothing)
{
    const fs::path file = use_disk_file("out.raw");
    std::vector<unsigned char> overlong = wave(ramp_slice(0));
    overlong[40] += 2;  // the data chunk declares a sample the image does not hold
    EXPECT_FALSE(play(overlong));
    EXPECT_FALSE(fs::exists(file)) << "no device is opened for a refused image";

    EXPECT_TRUE(play(wave(ramp_slice(1))));
    EXPECT_FALSE(play(wave(ramp_slice(2), 1, 32000, 2)));  // ADPCM
    EXPECT_TRUE(play(wave(ramp_slice(3))));
    sound_close();
    samples heard = ramp_slice(1);
    const samples last = ramp_slice(3);
    heard.insert(heard.end(), last.begin(), last.end());
    expect_played(file, heard, 1);
}

TEST_F(sound, a_new_format_reopens_the_device_after_the_old_one_played_out)
{
    const fs::path first = use_disk_file("first.raw");
    samples mono, stereo;
    for (int n = 0; n < 5; n++) {
        // The driver reads the file name when a device opens: the same format keeps the first.
        if (n == 3)
            use_disk_file("second.raw");
        const samples slice = ramp_slice(n);
        EXPECT_TRUE(play(wave(slice)));
        mono.insert(mono.end(), slice.begin(), slice.end());
    }
    for (int n = 0; n < 3; n++) {
        samples slice;  // 16-bit stereo at 16000 Hz: left rising, right falling
        for (int i = 1; i <= 533; i++)
            slice.insert(slice.end(), {int16_t(n * 533 + i), int16_t(-(n * 533 + i))});
        EXPECT_TRUE(play(wave(slice, 2, 16000)));
        stereo.insert(stereo.end(), slice.begin(), slice.end());
    }
    sound_close();
    expect_heard(first, mono);
    expect_heard(dir / "second.raw", stereo);
}

TEST_F(sound, without_a_driver_every_call_fails_at_once_until_closed)
{
    setenv("SDL_AUDIODRIVER", "nosuchdriver", 1);
    const auto slice = wave(ramp_slice(0));
    const auto start = std::chrono::steady_clock::now();
    for (int n = 0; n < 100; n++)
        ASSERT_FALSE(play(slice)) << "call " << n;
    // 100 slices would take 3.3 s to play.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    sound_close();

    // Closing forgets the failure: a driver that works now is used.
    const fs::path file = use_disk_file("out.raw");
    EXPECT_TRUE(play(slice));
    sound_close();
    expect_played(file, ramp_slice(0), 1);
}

TEST_F(sound, a_device_that_cannot_open_is_not_tried_again_for_that_format)
{
    use_disk_file("no/such/folder/out.raw");
    const auto slice = wave(ramp_slice(0));
    EXPECT_FALSE(play(slice));
    // The device would open now, but the failure is remembered for this format...
    const fs::path file = use_disk_file("out.raw");
    EXPECT_FALSE(play(slice));
    EXPECT_FALSE(fs::exists(file));
    // ...and not for another.
    EXPECT_TRUE(play(wave(ramp_slice(1), 1, 16000)));
    sound_close();
    expect_played(file, ramp_slice(1), 1);
}

}  // namespace
