// The AVI service's contract, the same on every platform: the cases below run against the Linux
// backend in linux_tests and against the Windows backend under Wine in win32_backend_checks, each
// through its own harness (avi_contract_harness.h), on clips written here.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "avi_contract_harness.h"
#include "platform/avi_file.h"
#include "tests/support/avi_writer.h"
#include "tests/support/open_clip.h"

namespace {

// Writes the clip to `path` and returns the path.
std::string written(const std::string& path, const test_avi_options& o)
{
    CONTRACT_CHECK(write_test_avi(path.c_str(), o));
    return path;
}

// Pixel (x, y), counted from the top, of a decoded 24 or 32-bit frame.
test_rgb pixel_at(const bitmap_info_header* frame, int32_t x, int32_t y)
{
    const auto* rows = reinterpret_cast<const uint8_t*>(frame + 1);
    const int32_t height = std::abs(frame->biHeight);
    const int32_t row = frame->biHeight > 0 ? height - 1 - y : y;
    const uint8_t* p = rows + row * dib_row_bytes(frame->biWidth, frame->biBitCount) +
                       x * (frame->biBitCount / 8);
    return {p[2], p[1], p[0]};
}

// Every pixel of the decoded frame is the clip's pixel of that frame.
bool frame_matches(const bitmap_info_header* frame, int32_t index, const test_avi_options& o)
{
    if (!frame || frame->biWidth != o.width || std::abs(frame->biHeight) != o.height)
        return false;
    for (int32_t y = 0; y < o.height; y++)
        for (int32_t x = 0; x < o.width; x++)
            if (!(pixel_at(frame, x, y) == test_pixel(index, x, y)))
                return false;
    return true;
}

// Every stream of an open file, given back when it goes.
struct stream_set {
    avi_file* file = nullptr;
    std::vector<avi_stream*> streams;
    std::vector<avi_stream_info> infos;

    ~stream_set()
    {
        for (avi_stream* s : streams)
            avi_stream_release(s);
        avi_file_release(file);
    }
    avi_stream* of_type(uint32_t type) const
    {
        for (size_t i = 0; i < infos.size(); i++)
            if (infos[i].type == type)
                return streams[i];
        return nullptr;
    }
};

bool open_all(const std::string& path, stream_set& clip)
{
    avi_file_info info{};
    if (avi_file_open(&clip.file, path.c_str()) != 0 || avi_file_get_info(clip.file, &info) != 0)
        return false;
    for (uint32_t i = 0; i < info.streams; i++) {
        avi_stream* s = avi_file_get_stream(clip.file, i);
        if (!s)
            return false;
        clip.streams.push_back(s);
        clip.infos.emplace_back();
        avi_stream_get_info(s, &clip.infos.back());
    }
    return true;
}

}  // namespace

AVI_CONTRACT(ReportFramesAndSlicesAreAsStored)
{
    test_avi_options o;
    o.width = 40;
    o.height = 30;
    o.frames = 10;
    o.video_scale = 2002;
    o.video_rate = 60000;
    const std::string path = written(scratch_path("check-24.avi"), o);

    stream_set clip;
    if (!CONTRACT_CHECK(open_all(path, clip)) || !CONTRACT_CHECK(clip.infos.size() == 2))
        return;
    // Stored values, not reduced ones.
    CONTRACT_CHECK(clip.infos[0].type == stream_type_video);
    CONTRACT_CHECK(clip.infos[0].scale == 2002 && clip.infos[0].rate == 60000);
    CONTRACT_CHECK(clip.infos[0].length == 10);
    CONTRACT_CHECK(clip.infos[0].frame.left == 0 && clip.infos[0].frame.top == 0 &&
          clip.infos[0].frame.right == 40 && clip.infos[0].frame.bottom == 30);
    CONTRACT_CHECK(clip.infos[1].type == stream_type_audio);
    // The stored 2 / 64000; Wine's library gives 1 / nSamplesPerSec for every audio stream.
    CONTRACT_CHECK((clip.infos[1].scale == 2 && clip.infos[1].rate == 64000) ||
          (clip.infos[1].scale == 1 && clip.infos[1].rate == 32000));
    CONTRACT_CHECK(clip.infos[1].length == 10 * 1067);

    // A second reference keeps the stream alive through one release.
    avi_stream_add_ref(clip.streams[0]);
    avi_stream_release(clip.streams[0]);

    avi_frame_decoder* decoder = avi_frame_open(clip.streams[0]);
    if (CONTRACT_CHECK(decoder != nullptr)) {
        // In order, then back and forth as step mode goes.
        for (int32_t k : {0, 1, 2, 9, 4, 3, 3, 0}) {
            const bitmap_info_header* frame = avi_frame_get(decoder, k);
            CONTRACT_CHECK(frame && frame->biSize == 40 && frame->biBitCount == 24);
            CONTRACT_CHECK(frame_matches(frame, k, o));
        }
        avi_frame_close(decoder);
    }

    // One frame's slice: 2134 bytes from sample k * 1067 on, exactly the stored samples.
    avi_stream* audio = clip.streams[1];
    for (int32_t k : {0, 3, 9, 3}) {
        std::vector<int16_t> slice(1067, 0);
        int32_t bytes = -1;
        int32_t samples = -1;
        CONTRACT_CHECK(avi_stream_read(audio, k * 1067, 2134, slice.data(), 2134, &bytes, &samples) == 0);
        CONTRACT_CHECK(bytes == 2134 && samples == 1067);
        bool same = true;
        for (int i = 0; i < 1067; i++)
            same = same && slice[i] == test_sample(int64_t(k) * 1067 + i);
        CONTRACT_CHECK(same);
    }
    // Past the end nothing arrives.
    int32_t bytes = -1;
    std::vector<int16_t> tail(1067, 0);
    avi_stream_read(audio, 10 * 1067, 2134, tail.data(), 2134, &bytes, nullptr);
    CONTRACT_CHECK(bytes == 0);
}

AVI_CONTRACT(StreamOrderTopDownAndSixteenBitFrames)
{
    // Audio first: the stream order is the file's.
    test_avi_options o;
    o.width = 16;
    o.height = 8;
    o.frames = 3;
    o.audio_first = true;
    {
        stream_set clip;
        if (CONTRACT_CHECK(open_all(written(scratch_path("check-af.avi"), o), clip)) &&
            CONTRACT_CHECK(clip.infos.size() == 2))
            CONTRACT_CHECK(clip.infos[0].type == stream_type_audio &&
                  clip.infos[1].type == stream_type_video);
    }

    // Top-down frames arrive top-down or bottom-up, but with every row in its place.
    o.audio_first = false;
    o.top_down = true;
    {
        stream_set clip;
        if (CONTRACT_CHECK(open_all(written(scratch_path("check-td.avi"), o), clip))) {
            avi_frame_decoder* decoder = avi_frame_open(clip.of_type(stream_type_video));
            if (CONTRACT_CHECK(decoder != nullptr)) {
                CONTRACT_CHECK(frame_matches(avi_frame_get(decoder, 2), 2, o));
                avi_frame_close(decoder);
            }
        }
    }

    // 16-bit frames decode as 16-bit DIBs.
    o.top_down = false;
    o.bits = 16;
    {
        stream_set clip;
        if (CONTRACT_CHECK(open_all(written(scratch_path("check-16.avi"), o), clip))) {
            avi_frame_decoder* decoder = avi_frame_open(clip.of_type(stream_type_video));
            if (CONTRACT_CHECK(decoder != nullptr)) {
                const bitmap_info_header* frame = avi_frame_get(decoder, 1);
                if (CONTRACT_CHECK(frame && frame->biBitCount == 16)) {
                    const auto* rows = reinterpret_cast<const uint8_t*>(frame + 1);
                    uint16_t top_left;
                    const int32_t row = frame->biHeight > 0 ? frame->biHeight - 1 : 0;
                    std::memcpy(&top_left, rows + row * dib_row_bytes(frame->biWidth, 16), 2);
                    CONTRACT_CHECK(top_left == test_pixel_555(1, 0, 0));
                }
                avi_frame_close(decoder);
            }
        }
    }
}

AVI_CONTRACT(FailuresAreReportedNotFatal)
{
    avi_file* file = reinterpret_cast<avi_file*>(1);
    CONTRACT_CHECK(avi_file_open(&file, nullptr) != 0 && file == nullptr);
    CONTRACT_CHECK(avi_file_open(&file, scratch_path("no-such-file.avi").c_str()) != 0);
    // A file that is not AVI does not open.
    const std::string text = scratch_path("check-not.avi");
    if (FILE* f = std::fopen(text.c_str(), "wb")) {
        std::fputs("not a clip at all, just some text that is long enough", f);
        std::fclose(f);
    }
    CONTRACT_CHECK(avi_file_open(&file, text.c_str()) != 0);
    // No decoder: no frame, no crash; null handles are ignored on release.
    CONTRACT_CHECK(avi_frame_get(nullptr, 0) == nullptr);
    avi_frame_close(nullptr);
    avi_stream_release(nullptr);
    avi_file_release(nullptr);
}

AVI_CONTRACT(DescriptionsKeepTheStoredUnreducedValues)
{
    test_avi_options o;
    o.width = 40;
    o.height = 30;
    o.frames = 9;
    o.video_scale = 1000;
    o.video_rate = 30000;
    open_clip c(written(scratch_path("a.avi"), o));
    ASSERT_NE(c.file, nullptr);
    ASSERT_EQ(c.count, 2u);
    EXPECT_EQ(c.info[0].type, stream_type_video);
    EXPECT_EQ(c.info[0].scale, 1000u);  // not libavformat's 1/30
    EXPECT_EQ(c.info[0].rate, 30000u);
    EXPECT_EQ(c.info[0].length, 9u);
    EXPECT_EQ(c.info[0].frame.left, 0);
    EXPECT_EQ(c.info[0].frame.top, 0);
    EXPECT_EQ(c.info[0].frame.right, 40);
    EXPECT_EQ(c.info[0].frame.bottom, 30);
    EXPECT_EQ(c.info[1].type, stream_type_audio);
    EXPECT_EQ(c.info[1].scale, 2u);
    EXPECT_EQ(c.info[1].rate, 64000u);
    EXPECT_EQ(c.info[1].length, 9u * 1067u);

    o.video_scale = 1001;
    o.frames = 3;
    open_clip ntsc(written(scratch_path("b.avi"), o));
    ASSERT_EQ(ntsc.count, 2u);
    EXPECT_EQ(ntsc.info[0].scale, 1001u);
    EXPECT_EQ(ntsc.info[0].rate, 30000u);
    EXPECT_EQ(ntsc.info[0].length, 3u);
}

AVI_CONTRACT(StreamsInFileOrder)
{
    test_avi_options o;
    o.audio_first = true;
    o.frames = 5;
    open_clip two(written(scratch_path("a.avi"), o));
    ASSERT_EQ(two.count, 2u);
    EXPECT_EQ(two.info[0].type, stream_type_audio);
    EXPECT_EQ(two.info[0].length, 5u * 1067u);
    EXPECT_EQ(two.info[1].type, stream_type_video);
    EXPECT_EQ(two.info[1].length, 5u);

    o.third_stream = true;
    o.audio_samples = 4000;
    open_clip three(written(scratch_path("b.avi"), o));
    ASSERT_EQ(three.count, 3u);
    EXPECT_EQ(three.info[0].type, stream_type_audio);
    EXPECT_EQ(three.info[1].type, stream_type_video);
    EXPECT_EQ(three.info[2].type, stream_type_audio);
    EXPECT_EQ(three.info[2].length, 4000u);
    EXPECT_EQ(avi_file_get_stream(three.file, 3), nullptr);

    test_avi_options single;
    single.video = false;
    open_clip audio_only(written(scratch_path("c.avi"), single));
    ASSERT_EQ(audio_only.count, 1u);
    EXPECT_EQ(audio_only.info[0].type, stream_type_audio);
    EXPECT_EQ(avi_frame_open(audio_only.streams[0]), nullptr);
}

AVI_CONTRACT(EmptyFrameRectangleTakesThePictureSize)
{
    test_avi_options o;
    o.width = 52;
    o.height = 27;
    o.frames = 2;
    o.empty_rcframe = true;
    o.top_down = true;  // the stored height is negative
    open_clip c(written(scratch_path("a.avi"), o));
    ASSERT_EQ(c.count, 2u);
    EXPECT_EQ(c.info[0].frame.left, 0);
    EXPECT_EQ(c.info[0].frame.top, 0);
    EXPECT_EQ(c.info[0].frame.right, 52);
    EXPECT_EQ(c.info[0].frame.bottom, 27);
    // Audio rectangles stay as stored.
    EXPECT_EQ(c.info[1].frame.right, 0);

    o.empty_rcframe = false;
    o.has_rcframe = true;
    const int16_t rect[4] = {2, 4, 50, 20};
    std::memcpy(o.rcframe, rect, sizeof rect);
    open_clip explicit_rect(written(scratch_path("b.avi"), o));
    EXPECT_EQ(explicit_rect.info[0].frame.left, 2);
    EXPECT_EQ(explicit_rect.info[0].frame.top, 4);
    EXPECT_EQ(explicit_rect.info[0].frame.right, 50);
    EXPECT_EQ(explicit_rect.info[0].frame.bottom, 20);
}

AVI_CONTRACT(NullHandlesAreIgnored)
{
    avi_file_info fi{};
    avi_stream_info si{};
    EXPECT_NE(avi_file_get_info(nullptr, &fi), 0);
    EXPECT_EQ(avi_file_get_stream(nullptr, 0), nullptr);
    avi_stream_add_ref(nullptr);
    EXPECT_NE(avi_stream_get_info(nullptr, &si), 0);
    EXPECT_EQ(avi_frame_open(nullptr), nullptr);
    EXPECT_EQ(avi_frame_get(nullptr, 0), nullptr);
    int32_t bytes = -1, samples = -1;
    char buffer[8];
    EXPECT_NE(avi_stream_read(nullptr, 0, 4, buffer, sizeof buffer, &bytes, &samples), 0);
    EXPECT_EQ(bytes, 0);
    EXPECT_EQ(samples, 0);
    avi_frame_close(nullptr);
    avi_stream_release(nullptr);
    avi_file_release(nullptr);
}

AVI_CONTRACT(ReadIsBoundedByTheBufferAndArguments)
{
    test_avi_options o;
    o.frames = 3;
    open_clip c(written(scratch_path("a.avi"), o));
    avi_stream* audio = c.find(stream_type_audio);
    ASSERT_NE(audio, nullptr);
    int16_t buffer[16] = {};
    int32_t bytes = -1, samples = -1;
    // Room for 5 whole samples in 11 bytes.
    EXPECT_EQ(avi_stream_read(audio, 10, 100, buffer, 11, &bytes, &samples), 0);
    EXPECT_EQ(samples, 5);
    EXPECT_EQ(bytes, 10);
    EXPECT_EQ(buffer[4], test_sample(14));
    EXPECT_EQ(buffer[5], 0);
    // No buffer: the size the read would need.
    EXPECT_EQ(avi_stream_read(audio, 3 * 1067 - 4, 100, nullptr, 0, &bytes, &samples), 0);
    EXPECT_EQ(samples, 4);
    EXPECT_EQ(bytes, 8);
    EXPECT_NE(avi_stream_read(audio, -1, 4, buffer, sizeof buffer, &bytes, &samples), 0);
    EXPECT_EQ(samples, 0);
    // Video streams hold no samples.
    EXPECT_NE(avi_stream_read(c.find(stream_type_video), 0, 4, buffer, sizeof buffer, &bytes,
                              &samples),
              0);
}

AVI_CONTRACT(HeaderListsThatDoNotParseDoNotOpen)
{
    // A decoding library may still find streams in such a file; the service describes and bounds
    // streams by the header list, so without one the file is not opened at all.
    std::vector<uint8_t> bytes;
    test_avi_options o;
    o.frames = 3;
    ASSERT_TRUE(build_test_avi(o, &bytes));
    size_t hdrl = 0;
    while (hdrl + 4 < bytes.size() && std::memcmp(&bytes[hdrl], "hdrl", 4) != 0)
        hdrl++;
    ASSERT_TRUE(hdrl + 4 < bytes.size());
    std::memcpy(&bytes[hdrl], "hdrX", 4);
    const std::string p = scratch_path("no-header-list.avi");
    if (FILE* f = std::fopen(p.c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    avi_file* file = nullptr;
    EXPECT_NE(avi_file_open(&file, p.c_str()), 0);
    EXPECT_TRUE(file == nullptr);
}

AVI_CONTRACT(VideoWithoutADecoderIsDescribedButNotDecoded)
{
    test_avi_options o;
    o.frames = 3;
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(build_test_avi(o, &bytes));
    // The video format's biCompression: a code no decoder knows.
    size_t strf = 0;
    while (strf + 4 < bytes.size() && std::memcmp(&bytes[strf], "strf", 4) != 0)
        strf++;
    ASSERT_LT(strf + 28, bytes.size());
    std::memcpy(&bytes[strf + 8 + 16], "QQ7Z", 4);
    const std::string p = scratch_path("unknown.avi");
    {
        std::ofstream out(p, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    open_clip c(p);
    ASSERT_EQ(c.count, 2u);
    EXPECT_EQ(c.info[0].type, stream_type_video);
    EXPECT_EQ(c.info[0].length, 3u);
    EXPECT_EQ(avi_frame_open(c.streams[0]), nullptr);
    int16_t s[4];
    int32_t samples = 0;
    EXPECT_EQ(avi_stream_read(c.streams[1], 5, 4, s, sizeof s, nullptr, &samples), 0);
    EXPECT_EQ(samples, 4);
    EXPECT_EQ(s[3], test_sample(8));
}
