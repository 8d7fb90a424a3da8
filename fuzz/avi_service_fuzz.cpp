// libFuzzer target over the AVI file service: every input is a file that is opened, described,
// walked forward and back frame by frame and read as audio, the way playback uses it. The
// service opens files by path, so each input is written to a scratch file first.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "fuzz/audio_slices.h"
#include "fuzz/opened_avi.h"
#include "fuzz/scratch_file.h"
#include "platform/avi_checks/avi_headers.h"
#include "platform/linux/avi/avi_frame_cache.h"

namespace {

constexpr int32_t frames_walked = 10;
// The frame cache's worker fills ahead of a step back by as many frames as its budget holds:
// with the default budget a small picture means the whole clip, every input. A small budget
// reaches the same fills, evictions and its two-picture minimum in a few frames.
constexpr int64_t cache_budget = 256 << 10;

// What a frame visit may cost is bounded by the packets a decode reads past a seek and by the
// picture each may claim, which follows the declared size: a visit to a picture declared larger
// than a megapixel (by its rectangle or its stored format) counts as one per megapixel. An input
// gets one visit per kilobyte, so its time follows its own size rather than a frame count or a
// picture size its header claims; what a long walk of such a file costs is measured in bench/.
constexpr int64_t visit_bytes = 1024;
constexpr int64_t visit_pixels = int64_t(1) << 20;

struct visit_budget {
    int64_t left;

    bool take(int64_t cost)
    {
        if (left < cost)
            return false;
        left -= cost;
        return true;
    }
};

int64_t visit_cost(const avi_stream_info& info, const avi_raw_stream* raw)
{
    int64_t pixels = int64_t(std::max(info.frame.right - info.frame.left, 0)) *
                     std::max(info.frame.bottom - info.frame.top, 0);
    if (raw && raw->has_format)
        pixels = std::max(pixels, std::abs(int64_t(raw->bitmap_width) * raw->bitmap_height));
    return std::max<int64_t>(1, pixels / visit_pixels);
}

// Reads the first and last pixel byte the header promises, so a picture that is shorter than
// it claims shows up as an out-of-bounds read.
void check_picture(const bitmap_info_header* dib)
{
    if (!dib)
        return;
    if (dib->biSize != sizeof(bitmap_info_header) || dib->biWidth <= 0 || dib->biHeight == 0 ||
        dib->biPlanes != 1)
        std::abort();
    const int64_t rows = dib->biHeight < 0 ? -int64_t(dib->biHeight) : dib->biHeight;
    const int64_t bytes = dib_row_bytes(dib->biWidth, dib->biBitCount) * rows;
    if (bytes <= 0 || bytes > int64_t(dib->biSizeImage))
        std::abort();
    const volatile uint8_t* pixels = reinterpret_cast<const uint8_t*>(dib + 1);
    (void)pixels[0];
    (void)pixels[bytes - 1];
}

void walk_video(avi_stream* stream, const avi_stream_info& info, const avi_raw_stream* raw,
                visit_budget* budget)
{
    // Opening the decoder decodes the first picture (its reordering is measured): a visit too.
    const int64_t cost = visit_cost(info, raw);
    if (!budget->take(cost))
        return;
    avi_frame_decoder* decoder = avi_frame_open(stream);
    if (!decoder)
        return;
    cached_frames_configure(avi_frame_cache(decoder), cache_budget, true);
    const int32_t length = int32_t(info.length > uint32_t(INT32_MAX) ? INT32_MAX : info.length);
    const int32_t walked = length < frames_walked ? length : frames_walked;
    auto visit = [&](int32_t k) {
        if (budget->take(cost))
            check_picture(avi_frame_get(decoder, k));
    };
    // Forward, as continuous play does; back again, as stepping does; then the far end.
    for (int32_t k = 0; k < walked; k++)
        visit(k);
    for (int32_t k = walked - 1; k >= 0; k -= 3)
        visit(k);
    for (int32_t k : {length - 1, length, int32_t(-1), INT32_MAX})
        visit(k);
    avi_frame_close(decoder);
}

void read_audio(avi_stream* stream, const avi_stream_info& info)
{
    for (int64_t frame = 0; frame < frames_walked; frame++)
        read_slice(stream, frame * fuzz_slice_samples);
    read_slice(stream, 3 * fuzz_slice_samples);  // back, as stepping does
    read_slice(stream, int64_t(info.length) - 1);
    read_slice(stream, int64_t(info.length));
    read_slice(stream, INT32_MAX);
    read_whole_stream(stream);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The header parser works on memory too.
    avi_raw_headers raw;
    parse_avi_headers(data, size, &raw);

    const char* path = write_scratch_file(data, size);
    opened_avi avi;
    if (!path || !open_avi(path, &avi))
        return 0;
    visit_budget budget{int64_t(size) / visit_bytes};
    for (uint32_t i = 0; i < avi.count; i++) {
        if (avi.infos[i].type == stream_type_video)
            walk_video(avi.streams[i], avi.infos[i],
                       i < raw.streams.size() ? &raw.streams[i] : nullptr, &budget);
        else
            read_audio(avi.streams[i], avi.infos[i]);
    }
    close_avi(&avi);
    return 0;
}
