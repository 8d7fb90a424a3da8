#include "platform/avi_checks/avi_headers.h"

#include "platform/avi_checks/riff_bytes.h"
#include "platform/avi_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// Larger header lists than this are not AVI files anyone plays.
constexpr uint32_t max_hdrl_bytes = 16u << 20;
constexpr size_t hdrl_read_piece = 64u << 10;
// No stream format is longer: a video format with its colour table is 1064 bytes.
constexpr size_t max_format_bytes = 64u << 10;
// Chunks (JUNK and the like) looked at before giving up on finding the header list.
constexpr int max_leading_chunks = 64;

// A bounded view on bytes; reads past its end give zero.
struct span {
    const uint8_t* data;
    size_t size;
    uint32_t get32(size_t at) const { return at + 4 <= size ? riff_u32(data + at) : 0; }
    uint16_t get16(size_t at) const { return at + 2 <= size ? riff_u16(data + at) : 0; }
};

// Calls visit(id, body) for each chunk of a chunk sequence; a chunk claiming more than is left
// is cut to what is left.
template <typename Visit>
void for_each_chunk(span list, Visit visit)
{
    size_t at = 0;
    while (at + 8 <= list.size) {
        const uint32_t id = riff_u32(list.data + at);
        const size_t left = list.size - at - 8;
        const size_t body = riff_u32(list.data + at + 4) < left ? riff_u32(list.data + at + 4) : left;
        visit(id, span{list.data + at + 8, body});
        at += 8 + body + (body & 1);
    }
}

void parse_strh(span s, avi_raw_stream* st)
{
    st->type = s.get32(0);
    st->handler = s.get32(4);
    st->scale = s.get32(20);
    st->rate = s.get32(24);
    st->start = s.get32(28);
    st->length = s.get32(32);
    st->sample_size = s.get32(44);
    for (int i = 0; i < 4; i++)
        st->frame[i] = int16_t(s.get16(48 + 2 * i));
}

void parse_strf(span s, avi_raw_stream* st)
{
    st->has_format = true;
    st->format_bytes = uint32_t(s.size);
    st->format.assign(s.data, s.data + (s.size < max_format_bytes ? s.size : max_format_bytes));
    if (st->type == fourcc("vids")) {
        st->bitmap_header_bytes = s.get32(0);
        st->bitmap_width = int32_t(s.get32(4));
        st->bitmap_height = int32_t(s.get32(8));
        st->bitmap_bits = s.get16(14);
        st->bitmap_compression = s.get32(16);
        st->bitmap_colours_used = s.get32(32);
    } else if (st->type == fourcc("auds")) {
        st->wave_format = s.get16(0);
        st->wave_channels = s.get16(2);
        st->wave_rate = s.get32(4);
        st->wave_block_align = s.get16(12);
        st->wave_bits = s.get16(14);
    }
}

void parse_strl(span s, avi_raw_headers* out)
{
    avi_raw_stream st;
    bool has_header = false;
    for_each_chunk(s, [&](uint32_t id, span body) {
        if (id == fourcc("strh") && !has_header) {
            parse_strh(body, &st);
            has_header = true;
        } else if (id == fourcc("strf") && has_header && !st.has_format) {
            parse_strf(body, &st);
        }
    });
    if (has_header)
        out->streams.push_back(st);
}

void parse_hdrl(span s, avi_raw_headers* out)
{
    for_each_chunk(s, [&](uint32_t id, span body) {
        if (id == fourcc("avih")) {
            out->total_frames = body.get32(16);
            out->stream_count = body.get32(24);
            out->width = body.get32(32);
            out->height = body.get32(36);
        } else if (id == fourcc("LIST") && body.get32(0) == fourcc("strl")) {
            parse_strl(span{body.data + 4, body.size - 4}, out);
        }
    });
}

}  // namespace

bool is_avi_signature(const uint8_t* data, size_t size)
{
    return size >= 12 && riff_u32(data) == fourcc("RIFF") && riff_u32(data + 8) == fourcc("AVI ");
}

bool parse_avi_headers(const uint8_t* data, size_t size, avi_raw_headers* out)
{
    *out = avi_raw_headers{};
    if (!is_avi_signature(data, size))
        return false;
    bool found = false;
    int seen = 0;
    for_each_chunk(span{data + 12, size - 12}, [&](uint32_t id, span body) {
        if (found || ++seen > max_leading_chunks)
            return;
        if (id == fourcc("LIST") && body.get32(0) == fourcc("hdrl")) {
            parse_hdrl(span{body.data + 4, body.size - 4}, out);
            found = true;
        }
    });
    return found;
}

bool read_avi_headers(const char* path, avi_raw_headers* out)
{
    *out = avi_raw_headers{};
    FILE* f = std::fopen(path, "rb");
    if (!f)
        return false;
    bool found = false;
    uint8_t head[12];
    if (std::fread(head, 1, 12, f) == 12 && is_avi_signature(head, 12)) {
        // Walk the top-level chunks to the header list and parse only that.
        long at = 12;
        for (int i = 0; i < max_leading_chunks && !found; i++) {
            uint8_t h[12];
            if (std::fseek(f, at, SEEK_SET) != 0)
                break;
            const size_t got = std::fread(h, 1, 12, f);
            if (got < 8)
                break;
            const uint32_t size = riff_u32(h + 4);
            if (got == 12 && riff_u32(h) == fourcc("LIST") && riff_u32(h + 8) == fourcc("hdrl") && size >= 4) {
                // Read a piece at a time: the buffer grows with the bytes the file holds, not
                // with the size the list claims.
                const size_t wanted = size - 4 < max_hdrl_bytes ? size - 4 : max_hdrl_bytes;
                std::vector<uint8_t> list;
                while (list.size() < wanted) {
                    const size_t had = list.size();
                    const size_t piece = std::min<size_t>(wanted - had, hdrl_read_piece);
                    list.resize(had + piece);
                    const size_t got = std::fread(list.data() + had, 1, piece, f);
                    list.resize(had + got);
                    if (got < piece)
                        break;
                }
                parse_hdrl(span{list.data(), list.size()}, out);
                found = true;
            }
            const long next = at + 8 + long(size) + long(size & 1);
            if (next <= at)
                break;
            at = next;
        }
    }
    std::fclose(f);
    return found;
}
