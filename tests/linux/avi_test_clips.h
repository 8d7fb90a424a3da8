// Shared by the AVI service tests: a scratch directory for clips, handles that give themselves
// back, and checks of decoded pictures against the writer's pixel functions.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>
#include <unistd.h>

#include "platform/avi_file.h"
#include "tests/support/avi_writer.h"
#include "tests/support/open_clip.h"

// A directory removed with everything in it when the fixture ends.
class avi_scratch : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/avi_test_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    std::string clip(const std::string& name, const test_avi_options& o)
    {
        const std::string p = path(name);
        std::string error;
        EXPECT_TRUE(write_test_avi(p.c_str(), o, &error)) << error;
        return p;
    }
    // Runs the ffmpeg command with `args` writing `name`; returns its path.
    std::string ffmpeg(const std::string& name, const std::string& args)
    {
        const std::string out = path(name);
        const std::string cmd = "ffmpeg -nostdin -v error -y " + args + " '" + out + "' 2>&1";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
        return out;
    }

    std::string dir_;
};

struct frame_decoder_handle {
    avi_frame_decoder* d;
    explicit frame_decoder_handle(avi_stream* s) : d(avi_frame_open(s)) {}
    ~frame_decoder_handle() { avi_frame_close(d); }
    frame_decoder_handle(const frame_decoder_handle&) = delete;
    frame_decoder_handle& operator=(const frame_decoder_handle&) = delete;
};

inline const uint8_t* dib_pixels(const bitmap_info_header* h)
{
    return reinterpret_cast<const uint8_t*>(h) + h->biSize;
}

// Overwrites the data of video chunk `n` (counted from 0, the n+1-th "00dc" after "movi") with
// zeros: a damaged frame.
inline void zero_video_chunk(const std::string& path, int n)
{
    FILE* f = std::fopen(path.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    std::vector<uint8_t> bytes;
    for (int ch; (ch = std::fgetc(f)) != EOF;)
        bytes.push_back(uint8_t(ch));
    int seen = 0;
    size_t at = 0;
    size_t movi = 0;
    while (movi + 4 < bytes.size() && std::memcmp(&bytes[movi], "movi", 4) != 0)
        movi++;
    for (size_t i = movi; i + 8 < bytes.size(); i++) {
        if (std::memcmp(&bytes[i], "00dc", 4) == 0 && seen++ == n) {
            at = i;
            break;
        }
    }
    ASSERT_NE(at, 0u);
    const uint32_t size = bytes[at + 4] | bytes[at + 5] << 8 | bytes[at + 6] << 16 | uint32_t(bytes[at + 7]) << 24;
    std::fseek(f, long(at + 8), SEEK_SET);
    for (uint32_t i = 0; i < size; i++)
        std::fputc(0, f);
    std::fclose(f);
}

// Checks the DIB's layout and every pixel against what the writer stored for `frame` of a raw
// clip of `bits` per pixel; reports the first difference.
inline ::testing::AssertionResult dib_matches_clip(const bitmap_info_header* h, int32_t frame,
                                                   int32_t width, int32_t height, int bits)
{
    if (!h)
        return ::testing::AssertionFailure() << "no picture for frame " << frame;
    const int out_bits = bits == 8 ? 24 : bits;
    if (h->biSize != 40 || h->biWidth != width || h->biHeight != height || h->biPlanes != 1 ||
        h->biBitCount != out_bits || h->biCompression != 0 ||
        h->biSizeImage != uint32_t(dib_row_bytes(width, out_bits) * height) || h->biClrUsed != 0)
        return ::testing::AssertionFailure()
               << "header " << h->biWidth << "x" << h->biHeight << " bits " << h->biBitCount
               << " size " << h->biSizeImage;
    const int64_t row = dib_row_bytes(width, out_bits);
    for (int32_t y = 0; y < height; y++) {
        const uint8_t* line = dib_pixels(h) + (height - 1 - y) * row;  // bottom-up
        for (int32_t x = 0; x < width; x++) {
            bool ok;
            if (out_bits == 16) {
                const uint16_t v = uint16_t(line[2 * x] | line[2 * x + 1] << 8);
                ok = v == test_pixel_555(frame, x, y);
            } else {
                const uint8_t* p = line + x * (out_bits / 8);
                const test_rgb want = bits == 8 ? test_palette_colour(test_pixel_index(frame, x, y))
                                                : test_pixel(frame, x, y);
                ok = p[0] == want.b && p[1] == want.g && p[2] == want.r &&
                     (out_bits != 32 || p[3] == test_alpha);  // the stored fourth byte passes through
            }
            if (!ok)
                return ::testing::AssertionFailure()
                       << "frame " << frame << " pixel " << x << "," << y << " differs";
        }
        for (int64_t pad = int64_t(width) * out_bits / 8; pad < row; pad++)
            if (line[pad] != 0)
                return ::testing::AssertionFailure() << "padding not zero in row " << y;
    }
    return ::testing::AssertionSuccess();
}

// True if the ffmpeg command-line tool can be run.
inline bool have_ffmpeg_cli()
{
    static const bool present = std::system("ffmpeg -version >/dev/null 2>&1") == 0;
    return present;
}
