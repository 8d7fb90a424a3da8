// libFuzzer target over the AVI file service: every input is a file that is opened, described,
// walked forward and back frame by frame and read as audio, the way playback uses it. The
// service opens files by path, so each input is written to one scratch file first.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/avi_file.h"
#include "platform/linux/avi/avi_frame_cache.h"
#include "platform/avi_checks/avi_headers.h"

namespace {

// Work per input stays small so that a run gets through many inputs; what lies beyond these
// bounds is reached by the same code.
constexpr uint32_t max_streams = 8;
constexpr int32_t frames_walked = 10;
constexpr int32_t slice_bytes = 2134;
constexpr int32_t samples_per_frame = slice_bytes / 2;
// The frame cache's worker fills ahead of a step back by as many frames as its budget holds:
// with the default budget a small picture means the whole clip, every input. A small budget
// reaches the same fills, evictions and its two-picture minimum in a few frames.
constexpr int64_t cache_budget = 256 << 10;

std::string scratch_dir;
std::string scratch_file;

void remove_scratch()
{
    std::remove(scratch_file.c_str());
    rmdir(scratch_dir.c_str());
}

// Memory-backed /dev/shm when there is one: the file is rewritten for every input.
void make_scratch()
{
    struct stat st;
    const char* base = stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) ? "/dev/shm" : "/tmp";
    std::string pattern = std::string(base) + "/avi_fuzz_XXXXXX";
    if (!mkdtemp(pattern.data())) {
        std::perror("avi_service_fuzz: mkdtemp");
        std::abort();
    }
    scratch_dir = pattern;
    scratch_file = scratch_dir + "/input.avi";
    std::atexit(remove_scratch);
}

bool write_input(const uint8_t* data, size_t size)
{
    FILE* f = std::fopen(scratch_file.c_str(), "wb");
    if (!f)
        return false;
    const bool written = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && written;
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

void walk_video(avi_stream* stream, const avi_stream_info& info)
{
    avi_frame_decoder* decoder = avi_frame_open(stream);
    if (!decoder)
        return;
    cached_frames_configure(avi_frame_cache(decoder), cache_budget, true);
    const int32_t length = int32_t(info.length > uint32_t(INT32_MAX) ? INT32_MAX : info.length);
    const int32_t walked = length < frames_walked ? length : frames_walked;
    // Forward, as continuous play does; back again, as stepping does; then the far end.
    for (int32_t k = 0; k < walked; k++)
        check_picture(avi_frame_get(decoder, k));
    for (int32_t k = walked - 1; k >= 0; k -= 3)
        check_picture(avi_frame_get(decoder, k));
    check_picture(avi_frame_get(decoder, length - 1));
    check_picture(avi_frame_get(decoder, length));
    check_picture(avi_frame_get(decoder, -1));
    check_picture(avi_frame_get(decoder, INT32_MAX));
    avi_frame_close(decoder);
}

void read_slice(avi_stream* stream, int64_t first)
{
    if (first < 0 || first > INT32_MAX)
        return;
    static unsigned char slice[slice_bytes];
    int32_t bytes = -1;
    int32_t samples = -1;
    avi_stream_read(stream, int32_t(first), slice_bytes, slice, slice_bytes, &bytes, &samples);
    if (bytes < 0 || bytes > slice_bytes || samples < 0 || samples > slice_bytes)
        std::abort();
    // The same slice as played: converted from whatever the stream holds.
    samples = -1;
    avi_sound_read(stream, int32_t(first), samples_per_frame, slice, &samples);
    if (samples < 0 || samples > samples_per_frame)
        std::abort();
}

void read_audio(avi_stream* stream, const avi_stream_info& info)
{
    for (int64_t frame = 0; frame < frames_walked; frame++)
        read_slice(stream, frame * samples_per_frame);
    read_slice(stream, 3 * samples_per_frame);  // back, as stepping does
    read_slice(stream, int64_t(info.length) - 1);
    read_slice(stream, int64_t(info.length));
    read_slice(stream, INT32_MAX);
    // What a read of the whole stream would need, without a buffer; then as much as a large
    // buffer takes, as another user of the service might read.
    int32_t bytes = -1;
    avi_stream_read(stream, 0, INT32_MAX, nullptr, 0, &bytes, nullptr);
    if (bytes < 0)
        std::abort();
    static unsigned char large[1 << 20];
    avi_stream_read(stream, 0, INT32_MAX, large, sizeof large, &bytes, nullptr);
    if (bytes < 0 || bytes > int32_t(sizeof large))
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (scratch_file.empty())
        make_scratch();

    // The header parser works on memory too.
    avi_raw_headers raw;
    parse_avi_headers(data, size, &raw);

    if (!write_input(data, size))
        return 0;
    avi_file* file = nullptr;
    if (avi_file_open(&file, scratch_file.c_str()) != 0)
        return 0;
    avi_file_info file_info{};
    avi_file_get_info(file, &file_info);

    // As playback takes them: every stream with an extra reference, the last of each type wins.
    avi_stream* streams[max_streams] = {};
    avi_stream_info infos[max_streams] = {};
    const uint32_t count = file_info.streams < max_streams ? file_info.streams : max_streams;
    for (uint32_t i = 0; i < count; i++) {
        streams[i] = avi_file_get_stream(file, i);
        avi_stream_add_ref(streams[i]);
        avi_stream_get_info(streams[i], &infos[i]);
    }
    for (uint32_t i = 0; i < count; i++) {
        if (infos[i].type == stream_type_video)
            walk_video(streams[i], infos[i]);
        else
            read_audio(streams[i], infos[i]);
    }
    // Released out of order: the file first, its streams keep it open.
    avi_file_release(file);
    for (uint32_t i = 0; i < count; i++) {
        avi_stream_release(streams[i]);
        avi_stream_release(streams[i]);
    }
    return 0;
}
