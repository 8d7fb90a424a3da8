// The AVIFile service on clips written here: stream descriptions as stored, frames decoded to
// packed DIBs with the right pixels, audio read sample-exact.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/avi_file.h"
#include "tests/support/avi_writer.h"
#include "tests/wine/check.h"

namespace {

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

struct open_clip {
    avi_file* file = nullptr;
    std::vector<avi_stream*> streams;
    std::vector<avi_stream_info> infos;

    ~open_clip()
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

bool open_all(const std::string& path, open_clip& clip)
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

std::string write_clip(const std::string& folder, const char* name, const test_avi_options& o)
{
    const std::string path = folder + name;
    CHECK(write_test_avi(path.c_str(), o));
    return path;
}

void check_report_and_frames(const std::string& folder)
{
    test_avi_options o;
    o.width = 40;
    o.height = 30;
    o.frames = 10;
    o.video_scale = 2002;
    o.video_rate = 60000;
    const std::string path = write_clip(folder, "avistep-check-24.avi", o);

    open_clip clip;
    if (!CHECK(open_all(path, clip)) || !CHECK(clip.infos.size() == 2))
        return;
    // Stored values, not reduced ones.
    CHECK(clip.infos[0].type == stream_type_video);
    CHECK(clip.infos[0].scale == 2002 && clip.infos[0].rate == 60000);
    CHECK(clip.infos[0].length == 10);
    CHECK(clip.infos[0].frame.left == 0 && clip.infos[0].frame.top == 0 &&
          clip.infos[0].frame.right == 40 && clip.infos[0].frame.bottom == 30);
    CHECK(clip.infos[1].type == stream_type_audio);
    // The stored 2 / 64000; Wine's library gives 1 / nSamplesPerSec for every audio stream.
    CHECK((clip.infos[1].scale == 2 && clip.infos[1].rate == 64000) ||
          (clip.infos[1].scale == 1 && clip.infos[1].rate == 32000));
    CHECK(clip.infos[1].length == 10 * 1067);

    // A second reference keeps the stream alive through one release.
    avi_stream_add_ref(clip.streams[0]);
    avi_stream_release(clip.streams[0]);

    avi_frame_decoder* decoder = avi_frame_open(clip.streams[0]);
    if (CHECK(decoder != nullptr)) {
        // In order, then back and forth as step mode goes.
        for (int32_t k : {0, 1, 2, 9, 4, 3, 3, 0}) {
            const bitmap_info_header* frame = avi_frame_get(decoder, k);
            CHECK(frame && frame->biSize == 40 && frame->biBitCount == 24);
            CHECK(frame_matches(frame, k, o));
        }
        avi_frame_close(decoder);
    }

    // One frame's slice: 2134 bytes from sample k * 1067 on, exactly the stored samples.
    avi_stream* audio = clip.streams[1];
    for (int32_t k : {0, 3, 9, 3}) {
        std::vector<int16_t> slice(1067, 0);
        int32_t bytes = -1;
        int32_t samples = -1;
        CHECK(avi_stream_read(audio, k * 1067, 2134, slice.data(), 2134, &bytes, &samples) == 0);
        CHECK(bytes == 2134 && samples == 1067);
        bool same = true;
        for (int i = 0; i < 1067; i++)
            same = same && slice[i] == test_sample(int64_t(k) * 1067 + i);
        CHECK(same);
    }
    // Past the end nothing arrives.
    int32_t bytes = -1;
    std::vector<int16_t> tail(1067, 0);
    avi_stream_read(audio, 10 * 1067, 2134, tail.data(), 2134, &bytes, nullptr);
    CHECK(bytes == 0);
}

void check_layouts(const std::string& folder)
{
    // Audio first: the stream order is the file's.
    test_avi_options o;
    o.width = 16;
    o.height = 8;
    o.frames = 3;
    o.audio_first = true;
    {
        open_clip clip;
        if (CHECK(open_all(write_clip(folder, "avistep-check-af.avi", o), clip)) &&
            CHECK(clip.infos.size() == 2))
            CHECK(clip.infos[0].type == stream_type_audio &&
                  clip.infos[1].type == stream_type_video);
    }

    // Top-down frames arrive top-down or bottom-up, but with every row in its place.
    o.audio_first = false;
    o.top_down = true;
    {
        open_clip clip;
        if (CHECK(open_all(write_clip(folder, "avistep-check-td.avi", o), clip))) {
            avi_frame_decoder* decoder = avi_frame_open(clip.of_type(stream_type_video));
            if (CHECK(decoder != nullptr)) {
                CHECK(frame_matches(avi_frame_get(decoder, 2), 2, o));
                avi_frame_close(decoder);
            }
        }
    }

    // 16-bit frames decode as 16-bit DIBs.
    o.top_down = false;
    o.bits = 16;
    {
        open_clip clip;
        if (CHECK(open_all(write_clip(folder, "avistep-check-16.avi", o), clip))) {
            avi_frame_decoder* decoder = avi_frame_open(clip.of_type(stream_type_video));
            if (CHECK(decoder != nullptr)) {
                const bitmap_info_header* frame = avi_frame_get(decoder, 1);
                if (CHECK(frame && frame->biBitCount == 16)) {
                    const auto* rows = reinterpret_cast<const uint8_t*>(frame + 1);
                    uint16_t top_left;
                    const int32_t row = frame->biHeight > 0 ? frame->biHeight - 1 : 0;
                    std::memcpy(&top_left, rows + row * dib_row_bytes(frame->biWidth, 16), 2);
                    CHECK(top_left == test_pixel_555(1, 0, 0));
                }
                avi_frame_close(decoder);
            }
        }
    }
}

void check_failures(const std::string& folder)
{
    avi_file* file = reinterpret_cast<avi_file*>(1);
    CHECK(avi_file_open(&file, nullptr) != 0 && file == nullptr);
    CHECK(avi_file_open(&file, (folder + "avistep-no-such-file.avi").c_str()) != 0);
    // A file that is not AVI does not open.
    const std::string text = folder + "avistep-check-not.avi";
    if (FILE* f = std::fopen(text.c_str(), "wb")) {
        std::fputs("not a clip at all, just some text that is long enough", f);
        std::fclose(f);
    }
    CHECK(avi_file_open(&file, text.c_str()) != 0);
    // No decoder: no frame, no crash; null handles are ignored on release.
    CHECK(avi_frame_get(nullptr, 0) == nullptr);
    avi_frame_close(nullptr);
    avi_stream_release(nullptr);
    avi_file_release(nullptr);
}

}  // namespace

void check_avi_file(const std::string& folder)
{
    check_report_and_frames(folder);
    check_layouts(folder);
    check_failures(folder);
}
