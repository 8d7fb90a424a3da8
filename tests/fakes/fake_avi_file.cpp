#include <algorithm>
#include <cstring>
#include <memory>

#include "fakes/fake_platform.h"

// Handles are indices into the fake world, offset so that none is null.
struct avi_file {};
struct avi_frame_decoder {};

namespace {

avi_file the_file;
avi_frame_decoder the_decoder;
std::vector<unsigned char> picture;

avi_stream* handle_of(size_t index)
{
    return reinterpret_cast<avi_stream*>(index + 1);
}

fake_stream& stream_of(avi_stream* stream)
{
    return fake.streams.at(reinterpret_cast<size_t>(stream) - 1);
}

void make_picture(int32_t frame)
{
    bitmap_info_header header{};
    header.biSize = 40;
    header.biWidth = fake.frame_width;
    header.biHeight = fake.frame_height;
    header.biPlanes = 1;
    header.biBitCount = uint16_t(fake.bit_count);
    picture.assign(sizeof header + 64, 0);
    std::memcpy(picture.data(), &header, sizeof header);
    // Rows not asked for carry no frame number, so drawing them would show.
    if (fake.rows_wanted)
        std::memcpy(picture.data() + sizeof header, &frame, sizeof frame);
}

}  // namespace

int avi_file_open(avi_file** file, const char* path)
{
    if (!path || fake.open_fails)
        return 1;
    fake.file_refs++;
    *file = &the_file;
    return 0;
}

int avi_file_get_info(avi_file*, avi_file_info* info)
{
    info->streams = uint32_t(fake.streams.size());
    return 0;
}

avi_stream* avi_file_get_stream(avi_file*, uint32_t index)
{
    if (index >= fake.streams.size())
        return nullptr;
    fake.streams[index].refs++;
    return handle_of(index);
}

void avi_stream_add_ref(avi_stream* stream)
{
    stream_of(stream).refs++;
}

int avi_stream_get_info(avi_stream* stream, avi_stream_info* info)
{
    *info = stream_of(stream).info;
    return 0;
}

avi_frame_decoder* avi_frame_open(avi_stream*)
{
    return fake.no_decoder ? nullptr : &the_decoder;
}

const bitmap_info_header* avi_frame_get(avi_frame_decoder* decoder, int32_t index)
{
    fake.decoded.push_back(index);
    auto arriving = fake.keys_after_frame.find(index);
    if (arriving != fake.keys_after_frame.end()) {
        fake.keys.insert(fake.keys.end(), arriving->second.begin(), arriving->second.end());
        fake.keys_after_frame.erase(arriving);
    }
    if (index == fake.close_window_after_frame)
        fake.window_open = false;
    if (!decoder || fake.undecodable.count(index))
        return nullptr;
    make_picture(index);
    return reinterpret_cast<const bitmap_info_header*>(picture.data());
}

int avi_stream_read(avi_stream* stream, int32_t first, int32_t count, void* buffer,
                    int32_t buffer_bytes, int32_t* bytes_read, int32_t* samples_read)
{
    const std::vector<int16_t>& samples = stream_of(stream).samples;
    int64_t n = 0;
    if (first >= 0 && size_t(first) < samples.size())
        n = std::min<int64_t>({int64_t(count), int64_t(buffer_bytes / 2),
                               int64_t(samples.size()) - first});
    if (n > 0)
        std::memcpy(buffer, samples.data() + first, size_t(n) * 2);
    if (bytes_read)
        *bytes_read = int32_t(n * 2);
    if (samples_read)
        *samples_read = int32_t(n);
    return 0;
}

int avi_sound_open(avi_stream*)
{
    return fake.no_sound_decoder ? -1 : 0;
}

int avi_sound_read(avi_stream* stream, int32_t first, int32_t count, void* buffer,
                   int32_t* samples_read)
{
    if (fake.no_sound_decoder) {
        *samples_read = 0;
        return -1;
    }
    return avi_stream_read(stream, first, count, buffer, count * 2, nullptr, samples_read);
}

void avi_frame_set_rows_wanted(avi_frame_decoder*, bool wanted)
{
    fake.rows_wanted = wanted;
}

void avi_frame_close(avi_frame_decoder*) {}

void avi_stream_release(avi_stream* stream)
{
    if (stream)
        stream_of(stream).refs--;
}

void avi_file_release(avi_file* file)
{
    if (file)
        fake.file_refs--;
}
