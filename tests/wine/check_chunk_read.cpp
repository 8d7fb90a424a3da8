// Clips the platform's AVI library cannot be given as they are: one cut short before its index
// (read from its stored chunks: the frames and samples it holds, stepping back as well as on)
// and one whose file name is too long for the library's stream names.
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/avi_file.h"
#include "platform/win32/avi/library_path.h"
#include "tests/support/avi_writer.h"
#include "tests/wine/check.h"

namespace {

bool same_picture(const bitmap_info_header* frame, int32_t index, const test_avi_options& o)
{
    if (!frame || frame->biWidth != o.width || std::abs(frame->biHeight) != o.height ||
        frame->biBitCount != 24)
        return false;
    const auto* rows = reinterpret_cast<const uint8_t*>(frame + 1);
    for (int32_t y = 0; y < o.height; y++)
        for (int32_t x = 0; x < o.width; x++) {
            const int32_t row = frame->biHeight > 0 ? o.height - 1 - y : y;
            const uint8_t* p = rows + row * dib_row_bytes(o.width, 24) + x * 3;
            if (!(test_rgb{p[2], p[1], p[0]} == test_pixel(index, x, y)))
                return false;
        }
    return true;
}

// Opens `path` and checks its first two streams: `frames` frames with their pictures, walked on
// and then stepped back, and the samples of every slice they have.
void check_clip(const std::string& path, const test_avi_options& o, int32_t frames)
{
    avi_file* file = nullptr;
    if (!CHECK(avi_file_open(&file, path.c_str()) == 0))
        return;
    avi_stream* video = avi_file_get_stream(file, 0);
    avi_stream* audio = avi_file_get_stream(file, 1);
    avi_stream_info info{};
    CHECK(avi_stream_get_info(video, &info) == 0 && int32_t(info.length) == frames);
    avi_frame_decoder* decoder = avi_frame_open(video);
    if (CHECK(decoder != nullptr)) {
        bool all = true;
        for (int32_t k = 0; k < frames; k++)
            all = all && same_picture(avi_frame_get(decoder, k), k, o);
        CHECK(all);
        CHECK(same_picture(avi_frame_get(decoder, frames / 2), frames / 2, o));
        CHECK(avi_frame_get(decoder, frames) == nullptr);
        avi_frame_close(decoder);
    }
    bool same = true;
    for (int32_t k = 0; k < frames; k++) {
        std::vector<int16_t> slice(1067, 0);
        int32_t got = 0;
        avi_sound_read(audio, k * 1067, 1067, slice.data(), &got);
        same = same && got == 1067;
        for (int i = 0; i < got; i++)
            same = same && slice[size_t(i)] == test_sample(int64_t(k) * 1067 + i);
    }
    CHECK(same);
    avi_stream_release(audio);
    avi_stream_release(video);
    avi_file_release(file);
}

}  // namespace

void check_chunk_read(const std::string& folder)
{
    test_avi_options o;
    o.width = 24;
    o.height = 16;
    o.frames = 20;
    std::vector<uint8_t> clip;
    if (!CHECK(build_test_avi(o, &clip)))
        return;
    // Cut inside the sound before frame 9: frames 0 to 8 and their sound are whole.
    const size_t frame_bytes = size_t(dib_row_bytes(o.width, 24) * o.height) + 8;
    const size_t chunk_pair = frame_bytes + 2134 + 8;
    const size_t movi_data = clip.size() - size_t(o.frames) * chunk_pair - 8 - 16 * 2 * o.frames;
    const std::string cut = folder + "avistep-check-cut.avi";
    if (FILE* f = std::fopen(cut.c_str(), "wb")) {
        std::fwrite(clip.data(), 1, movi_data + 9 * chunk_pair + frame_bytes / 2, f);
        std::fclose(f);
    }
    check_clip(cut, o, 9);

    const std::string long_name = folder + std::string(150, 'n') + ".avi";
    CHECK(write_test_avi(long_name.c_str(), o));
    CHECK(path_name_length(library_path(long_name.c_str())) <= library_name_limit);
    check_clip(long_name, o, o.frames);
}
