#include "tests/support/avi_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint32_t audio_rate_hz = 32000;
constexpr uint32_t avi_index_keyframe = 0x10;
constexpr uint32_t avih_has_index = 0x10;
constexpr uint32_t avih_is_interleaved = 0x100;

enum class stream_kind { video, audio, audio2 };

struct stream_entry {
    stream_kind kind;
    int number;  // position in file order: the "NN" of its chunk ids
};

// One movi chunk: a video frame or a run of audio samples.
struct chunk_plan {
    int stream;       // index into the stream list
    int64_t item;     // frame number, or first sample
    uint32_t bytes;
};

// Output goes to a file through a buffer, or into a vector.
struct byte_sink {
    FILE* file = nullptr;
    std::vector<uint8_t>* memory = nullptr;
    std::vector<uint8_t> pending;
    bool failed = false;

    void flush()
    {
        if (file && !pending.empty()) {
            if (std::fwrite(pending.data(), 1, pending.size(), file) != pending.size())
                failed = true;
            pending.clear();
        }
    }
    void bytes(const void* data, size_t size)
    {
        std::vector<uint8_t>& to = memory ? *memory : pending;
        const uint8_t* p = static_cast<const uint8_t*>(data);
        to.insert(to.end(), p, p + size);
        if (!memory && pending.size() >= (1u << 20))
            flush();
    }
    void u8(uint8_t v) { bytes(&v, 1); }
    void u16(uint16_t v)
    {
        const uint8_t b[2] = {uint8_t(v), uint8_t(v >> 8)};
        bytes(b, 2);
    }
    void u32(uint32_t v)
    {
        const uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
        bytes(b, 4);
    }
    void tag(const char* t) { bytes(t, 4); }
};

uint32_t mix32(uint32_t h)
{
    h ^= h >> 16;
    h *= 0x7feb352dU;
    h ^= h >> 15;
    h *= 0x846ca68bU;
    h ^= h >> 16;
    return h;
}

struct clip_layout {
    std::vector<stream_entry> streams;
    std::vector<chunk_plan> chunks;
    int64_t audio_samples = 0;
    uint32_t row_bytes = 0;
    uint32_t frame_bytes = 0;
    uint32_t video_strf_bytes = 0;
    uint64_t hdrl_bytes = 0;  // LIST payload after its size field
    uint64_t movi_bytes = 0;
    uint64_t riff_bytes = 0;
};

uint32_t strf_bytes(const clip_layout& layout, stream_kind kind)
{
    return kind == stream_kind::video ? layout.video_strf_bytes : 16;
}

bool fail(std::string* error, const char* text)
{
    if (error)
        *error = text;
    return false;
}

bool plan_clip(const test_avi_options& o, clip_layout* layout, std::string* error)
{
    if (o.video) {
        if (o.width <= 0 || o.height <= 0 || o.width > 32767 || o.height > 32767)
            return fail(error, "width and height must be 1..32767");
        if (o.frames < 0)
            return fail(error, "frame count must not be negative");
        if (o.video_scale == 0 || o.video_rate == 0)
            return fail(error, "video scale and rate must be positive");
        if (o.bits != 8 && o.bits != 16 && o.bits != 24 && o.bits != 32)
            return fail(error, "bits must be 8, 16, 24 or 32");
    }
    const int64_t samples = test_audio_samples(o);
    if (o.audio || o.third_stream) {
        if (samples < 0)
            return fail(error, "audio sample count must not be negative");
        if (o.audio_chunk <= 0 || o.audio_chunk > 0x7fffffff / 2)
            return fail(error, "audio chunk must be a positive sample count");
    }
    if (!o.video && !o.audio && !o.third_stream)
        return fail(error, "a clip needs at least one stream");

    clip_layout& l = *layout;
    l.audio_samples = samples;
    std::vector<stream_kind> order;
    if (o.audio_first) {
        if (o.audio)
            order.push_back(stream_kind::audio);
        if (o.video)
            order.push_back(stream_kind::video);
    } else {
        if (o.video)
            order.push_back(stream_kind::video);
        if (o.audio)
            order.push_back(stream_kind::audio);
    }
    if (o.third_stream)
        order.push_back(stream_kind::audio2);
    for (size_t i = 0; i < order.size(); i++)
        l.streams.push_back({order[i], int(i)});

    int video_stream = -1;
    std::vector<int> audio_streams;
    for (size_t i = 0; i < l.streams.size(); i++) {
        if (l.streams[i].kind == stream_kind::video)
            video_stream = int(i);
        else
            audio_streams.push_back(int(i));
    }

    if (o.video) {
        l.row_bytes = uint32_t(((int64_t(o.width) * o.bits + 31) / 32) * 4);
        const uint64_t frame_bytes = uint64_t(l.row_bytes) * uint64_t(o.height);
        if (frame_bytes > 0x7fffffff)
            return fail(error, "frames too large");
        l.frame_bytes = uint32_t(frame_bytes);
        l.video_strf_bytes = 40 + (o.bits == 8 ? 1024 : 0);
    }

    // Interleave as a muxer does: before each frame, the audio that starts before the frame ends.
    int64_t next_sample = 0;
    auto audio_until = [&](int64_t bound) {
        while (next_sample < l.audio_samples && next_sample < bound) {
            const int64_t n = std::min(o.audio_chunk, l.audio_samples - next_sample);
            for (int s : audio_streams)
                l.chunks.push_back({s, next_sample, uint32_t(n * 2)});
            next_sample += n;
        }
    };
    if (o.video) {
        for (int32_t f = 0; f < o.frames; f++) {
            const __int128 end_num = __int128(f + 1) * o.video_scale * audio_rate_hz;
            audio_until(int64_t(end_num / o.video_rate + (end_num % o.video_rate != 0)));
            const bool empty = std::find(o.empty_frames.begin(), o.empty_frames.end(), f) !=
                               o.empty_frames.end();
            l.chunks.push_back({video_stream, f, empty ? 0 : l.frame_bytes});
        }
    }
    audio_until(INT64_MAX);

    l.hdrl_bytes = 4 + 8 + 56;
    for (const stream_entry& s : l.streams)
        l.hdrl_bytes += 12 + 8 + 56 + 8 + strf_bytes(l, s.kind);
    l.movi_bytes = 4;
    for (const chunk_plan& c : l.chunks)
        l.movi_bytes += 8 + c.bytes + (c.bytes & 1);
    l.riff_bytes = 4 + 8 + l.hdrl_bytes + 8 + l.movi_bytes + 8 + 16 * uint64_t(l.chunks.size());
    if (l.riff_bytes > 0xfffffff0u)
        return fail(error, "clip larger than one RIFF can hold");
    return true;
}

void write_chunk_id(byte_sink& out, const stream_entry& s)
{
    char id[5];
    std::snprintf(id, sizeof id, "%02d%s", s.number, s.kind == stream_kind::video ? "db" : "wb");
    out.tag(id);
}

void write_headers(byte_sink& out, const test_avi_options& o, const clip_layout& l)
{
    uint32_t max_chunk = 0;
    for (const chunk_plan& c : l.chunks)
        max_chunk = std::max(max_chunk, c.bytes);

    out.tag("RIFF");
    out.u32(uint32_t(l.riff_bytes));
    out.tag("AVI ");
    out.tag("LIST");
    out.u32(uint32_t(l.hdrl_bytes));
    out.tag("hdrl");

    out.tag("avih");
    out.u32(56);
    const uint32_t usec = o.video ? uint32_t(uint64_t(o.video_scale) * 1000000 / o.video_rate) : 0;
    out.u32(usec);
    out.u32(0);  // max bytes per second: not needed by readers
    out.u32(0);  // padding granularity
    out.u32(avih_has_index | avih_is_interleaved);
    out.u32(o.video ? uint32_t(o.frames) : 0);
    out.u32(0);  // initial frames
    out.u32(uint32_t(l.streams.size()));
    out.u32(max_chunk + 8);
    out.u32(o.video ? uint32_t(o.width) : 0);
    out.u32(o.video ? uint32_t(o.height) : 0);
    for (int i = 0; i < 4; i++)
        out.u32(0);

    for (const stream_entry& s : l.streams) {
        const bool video = s.kind == stream_kind::video;
        out.tag("LIST");
        out.u32(4 + 8 + 56 + 8 + strf_bytes(l, s.kind));
        out.tag("strl");

        out.tag("strh");
        out.u32(56);
        out.tag(video ? "vids" : "auds");
        out.u32(0);  // handler
        out.u32(0);  // flags
        out.u16(0);  // priority
        out.u16(0);  // language
        out.u32(0);  // initial frames
        out.u32(video ? o.video_scale : 2);
        out.u32(video ? o.video_rate : 64000);
        out.u32(0);  // start
        out.u32(video ? uint32_t(o.frames) : uint32_t(l.audio_samples));
        out.u32(video ? l.frame_bytes : uint32_t(std::min<int64_t>(o.audio_chunk * 2, 0x7fffffff)));
        out.u32(0xffffffffu);  // quality: default
        out.u32(video ? 0 : 2);
        int16_t rect[4] = {0, 0, 0, 0};
        if (video && !o.empty_rcframe) {
            if (o.has_rcframe)
                std::memcpy(rect, o.rcframe, sizeof rect);
            else {
                rect[2] = int16_t(o.width);
                rect[3] = int16_t(o.height);
            }
        }
        for (int16_t v : rect)
            out.u16(uint16_t(v));

        out.tag("strf");
        out.u32(strf_bytes(l, s.kind));
        if (video) {
            out.u32(40);
            out.u32(uint32_t(o.width));
            out.u32(uint32_t(o.top_down ? -o.height : o.height));
            out.u16(1);
            out.u16(uint16_t(o.bits));
            out.u32(0);  // BI_RGB
            out.u32(l.frame_bytes);
            out.u32(0);
            out.u32(0);
            out.u32(o.bits == 8 ? 256 : 0);
            out.u32(0);
            if (o.bits == 8) {
                for (int i = 0; i < 256; i++) {
                    const test_rgb c = test_palette_colour(i);
                    out.u8(c.b);
                    out.u8(c.g);
                    out.u8(c.r);
                    out.u8(0);
                }
            }
        } else {
            out.u16(1);  // PCM
            out.u16(1);
            out.u32(audio_rate_hz);
            out.u32(audio_rate_hz * 2);
            out.u16(2);
            out.u16(16);
        }
    }
}

void write_frame(byte_sink& out, const test_avi_options& o, const clip_layout& l, int32_t frame,
                 std::vector<uint8_t>& row)
{
    row.assign(l.row_bytes, 0);
    for (int32_t i = 0; i < o.height; i++) {
        // Bottom-up rows start with the picture's last line.
        const int32_t y = o.top_down ? i : o.height - 1 - i;
        uint8_t* p = row.data();
        for (int32_t x = 0; x < o.width; x++) {
            if (o.bits == 8) {
                *p++ = test_pixel_index(frame, x, y);
            } else if (o.bits == 16) {
                const uint16_t v = test_pixel_555(frame, x, y);
                *p++ = uint8_t(v);
                *p++ = uint8_t(v >> 8);
            } else {
                const test_rgb c = test_pixel(frame, x, y);
                *p++ = c.b;
                *p++ = c.g;
                *p++ = c.r;
                if (o.bits == 32)
                    *p++ = test_alpha;
            }
        }
        out.bytes(row.data(), row.size());
    }
}

void write_clip(byte_sink& out, const test_avi_options& o, const clip_layout& l)
{
    write_headers(out, o, l);
    out.tag("LIST");
    out.u32(uint32_t(l.movi_bytes));
    out.tag("movi");

    std::vector<uint8_t> row;
    std::vector<uint8_t> samples;
    uint32_t offset = 4;  // idx1 offsets count from the "movi" tag
    std::vector<uint32_t> offsets;
    offsets.reserve(l.chunks.size());
    for (const chunk_plan& c : l.chunks) {
        const stream_entry& s = l.streams[c.stream];
        offsets.push_back(offset);
        write_chunk_id(out, s);
        out.u32(c.bytes);
        if (s.kind == stream_kind::video) {
            if (c.bytes)
                write_frame(out, o, l, int32_t(c.item), row);
        } else {
            const int salt = s.kind == stream_kind::audio2 ? 1 : 0;
            samples.resize(c.bytes);
            for (uint32_t i = 0; i < c.bytes / 2; i++) {
                const uint16_t v = uint16_t(test_sample(c.item + i, salt));
                samples[2 * i] = uint8_t(v);
                samples[2 * i + 1] = uint8_t(v >> 8);
            }
            out.bytes(samples.data(), samples.size());
        }
        if (c.bytes & 1)
            out.u8(0);
        offset += 8 + c.bytes + (c.bytes & 1);
    }

    out.tag("idx1");
    out.u32(uint32_t(16 * l.chunks.size()));
    for (size_t i = 0; i < l.chunks.size(); i++) {
        write_chunk_id(out, l.streams[l.chunks[i].stream]);
        out.u32(avi_index_keyframe);
        out.u32(offsets[i]);
        out.u32(l.chunks[i].bytes);
    }
}

}  // namespace

test_rgb test_pixel(int32_t frame, int32_t x, int32_t y)
{
    // Gradients in every channel that move with the frame, so a flipped row, a shifted column or
    // a neighbouring frame all show.
    return {uint8_t(x * 7 + frame * 13), uint8_t(y * 11 + frame * 3 + x / 32),
            uint8_t(x * 3 + y * 5 + frame * 29)};
}

uint16_t test_pixel_555(int32_t frame, int32_t x, int32_t y)
{
    const test_rgb c = test_pixel(frame, x, y);
    return uint16_t((c.r >> 3) << 10 | (c.g >> 3) << 5 | (c.b >> 3));
}

uint8_t test_pixel_index(int32_t frame, int32_t x, int32_t y)
{
    return uint8_t(x * 5 + y * 9 + frame * 17);
}

test_rgb test_palette_colour(int index)
{
    return {uint8_t(index * 37 + 11), uint8_t(255 - index), uint8_t(index * 101)};
}

int16_t test_sample(int64_t n, int salt)
{
    return int16_t(mix32(uint32_t(n) ^ mix32(uint32_t(n >> 32) + 0x9e3779b9U * uint32_t(salt + 1))) >>
                   16);
}

int64_t test_audio_samples(const test_avi_options& o)
{
    if (o.audio_samples >= 0)
        return o.audio_samples;
    return o.video ? int64_t(o.frames) * 1067 : 32000;
}

bool build_test_avi(const test_avi_options& options, std::vector<uint8_t>* out, std::string* error)
{
    clip_layout layout;
    if (!plan_clip(options, &layout, error))
        return false;
    out->clear();
    out->reserve(size_t(8 + layout.riff_bytes));
    byte_sink sink;
    sink.memory = out;
    write_clip(sink, options, layout);
    return true;
}

bool write_test_avi(const char* path, const test_avi_options& options, std::string* error)
{
    clip_layout layout;
    if (!plan_clip(options, &layout, error))
        return false;
    FILE* f = std::fopen(path, "wb");
    if (!f)
        return fail(error, "cannot create the output file");
    byte_sink sink;
    sink.file = f;
    write_clip(sink, options, layout);
    sink.flush();
    const bool closed = std::fclose(f) == 0;
    if (sink.failed || !closed)
        return fail(error, "cannot write the output file");
    return true;
}
