#include "platform/avi_checks/avi_chunk_count.h"

#include "platform/avi_checks/riff_bytes.h"
#include "platform/avi_file.h"

#include <algorithm>
#include <fstream>
#include <numeric>
#include <vector>

namespace {

// OpenDML files continue in further RIFF parts of up to 1 GB each.
constexpr int max_riff_parts = 4096;
// "rec " lists group chunks; they are not expected to nest, but may.
constexpr int max_list_depth = 4;
constexpr size_t index_block_entries = 4096;
// An OpenDML super index lists one standard index per part and stream, rarely more than a few
// hundred; the header list holding it is small.
constexpr uint32_t max_super_index_entries = 1u << 16;
constexpr uint64_t max_header_list_bytes = uint64_t(16) << 20;
// A listed chunk takes 16 bytes of memory: a file of tiny chunks lists no more than 256 MB.
constexpr size_t max_listed_chunks = size_t(1) << 24;

struct file_bytes {
    std::ifstream* in;
    uint64_t size;

    // Exactly n bytes at `at`; false if the file has fewer.
    bool read(uint64_t at, void* buffer, size_t n) const
    {
        if (at > size || n > size - at)
            return false;
        in->clear();
        if (!in->seekg(std::streamoff(at)))
            return false;
        in->read(static_cast<char*>(buffer), std::streamsize(n));
        return in->gcount() == std::streamsize(n);
    }
};

struct byte_range {
    uint64_t begin, end;
};

// The stream number of a chunk that carries a stream's data ("NNdb", "NNdc", "NNwb", ...), or
// -1. Palette changes ("NNpc") carry no frame.
int stream_of(uint32_t id)
{
    const int hi = int(id & 0xff) - '0';
    const int lo = int((id >> 8) & 0xff) - '0';
    if (hi < 0 || hi > 9 || lo < 0 || lo > 9 || id >> 16 == (uint32_t('p') | uint32_t('c') << 8))
        return -1;
    return hi * 10 + lo;
}

// Where the walk also lists one stream's chunks, and which.
struct chunk_list {
    int stream = -1;
    std::vector<avi_chunk_place>* places = nullptr;
};

void count_one(uint32_t id, uint32_t size, avi_chunk_counts* out)
{
    const int stream = stream_of(id);
    if (stream < 0)
        return;
    if (out->chunks[stream] < UINT32_MAX)
        out->chunks[stream]++;
    out->bytes[stream] += size;
    out->size_divisor[stream] = std::gcd(out->size_divisor[stream], size);
}

// Counts the whole data chunks of a chunk sequence; a chunk cut off by the end of the range (a
// file cut short) holds no whole frame.
void count_chunks(const file_bytes& f, byte_range r, int depth, avi_chunk_counts* out,
                  const chunk_list& list = {})
{
    uint64_t at = r.begin;
    uint8_t h[12];
    while (at + 8 <= r.end && f.read(at, h, 8)) {
        const uint32_t id = riff_u32(h);
        const uint64_t size = riff_u32(h + 4);
        const uint64_t end = at + 8 + size;
        if (id == fourcc("LIST")) {
            if (depth < max_list_depth && size >= 4 && f.read(at + 8, h + 8, 4) &&
                riff_u32(h + 8) == fourcc("rec "))
                count_chunks(f, {at + 12, std::min(end, r.end)}, depth + 1, out, list);
        } else if (end <= r.end) {
            count_one(id, uint32_t(size), out);
            if (list.places && stream_of(id) == list.stream &&
                list.places->size() < max_listed_chunks)
                list.places->push_back({at + 8, uint32_t(size)});
        }
        at = end + (size & 1);
    }
}

// Counts the data entries of an idx1 index: 16 bytes each, the chunk id first.
void count_index(const file_bytes& f, byte_range r, avi_chunk_counts* out)
{
    std::vector<uint8_t> block(16 * index_block_entries);
    for (uint64_t at = r.begin; at + 16 <= r.end;) {
        const size_t entries = size_t(std::min<uint64_t>((r.end - at) / 16, index_block_entries));
        if (!f.read(at, block.data(), entries * 16))
            return;
        for (size_t i = 0; i < entries; i++)
            count_one(riff_u32(&block[i * 16]), riff_u32(&block[i * 16 + 12]), out);
        at += entries * 16;
    }
}

// The chunks a standard index (ix##) at `at` lists for stream `stream`; false unless it is one
// that lies wholly in the file.
bool count_standard_index(const file_bytes& f, uint64_t at, int stream, avi_chunk_counts* out)
{
    uint8_t h[32];
    if (!f.read(at, h, sizeof h))
        return false;
    const uint64_t size = riff_u32(h + 4);
    const uint16_t longs = riff_u16(h + 8);
    const uint32_t entries = riff_u32(h + 12);
    // AVI_INDEX_OF_CHUNKS: two longs an entry (offset, size), three for field indexes.
    if ((riff_u32(h) & 0xffff) != (fourcc("ix00") & 0xffff) || h[11] != 1 || (longs != 2 && longs != 3) ||
        size < 24 || uint64_t(entries) * longs * 4 > size - 24 || size > f.size || at + 8 > f.size - size ||
        stream_of(riff_u32(h + 16)) != stream)
        return false;
    out->chunks[stream] = uint32_t(std::min<uint64_t>(uint64_t(out->chunks[stream]) + entries,
                                                      UINT32_MAX));
    return true;
}

// Counts stream `stream`'s chunks through the super index (indx) whose body is at `r`: one read
// for it and one for the head of each standard index it lists. False when it is not a super
// index or one of its indexes does not hold.
bool count_super_index(const file_bytes& f, byte_range r, int stream, avi_chunk_counts* out)
{
    uint8_t h[24];
    if (r.end - r.begin < sizeof h || !f.read(r.begin, h, sizeof h))
        return false;
    const uint16_t longs = riff_u16(h);
    const uint32_t entries = riff_u32(h + 4);
    // AVI_INDEX_OF_INDEXES, four longs an entry: offset (two), size, duration.
    if (h[3] != 0 || longs != 4 || entries > max_super_index_entries ||
        uint64_t(entries) * 16 > r.end - r.begin - sizeof h || stream_of(riff_u32(h + 8)) != stream)
        return false;
    std::vector<uint8_t> list(size_t(entries) * 16);
    if (!f.read(r.begin + sizeof h, list.data(), list.size()))
        return false;
    for (uint32_t i = 0; i < entries; i++) {
        if (!count_standard_index(f, riff_u64(&list[size_t(i) * 16]), stream, out))
            return false;
    }
    return true;
}

// OpenDML files index every stream's chunks in all parts: each stream's header (strl) holds a
// super index pointing at the standard indexes. Counts them there, instead of walking a file of
// many gigabytes one chunk header at a time; false (counts untouched) unless every stream with
// chunks has one that holds.
bool count_odml_indexes(const file_bytes& f, byte_range hdrl, avi_chunk_counts* out)
{
    if (hdrl.end - hdrl.begin > max_header_list_bytes)
        return false;
    avi_chunk_counts counted = *out;
    int stream = 0;
    bool any = false;
    uint8_t h[12];
    for (uint64_t at = hdrl.begin; at + 12 <= hdrl.end && f.read(at, h, 12);) {
        const uint64_t end = std::min(at + 8 + riff_u32(h + 4), hdrl.end);
        if (riff_u32(h) == fourcc("LIST") && riff_u32(h + 8) == fourcc("strl")) {
            if (stream >= avi_max_chunk_streams)
                return false;
            bool indexed = false;
            for (uint64_t in = at + 12; in + 8 <= end && f.read(in, h, 8);) {
                const uint64_t chunk_end = std::min(in + 8 + riff_u32(h + 4), end);
                if (riff_u32(h) == fourcc("indx")) {
                    if (!count_super_index(f, {in + 8, chunk_end}, stream, &counted))
                        return false;
                    indexed = true;
                }
                in += 8 + riff_u32(h + 4) + (riff_u32(h + 4) & 1);
            }
            // A stream without a super index may still have chunks: only a walk counts them.
            if (!indexed)
                return false;
            any = true;
            stream++;
        }
        at += 8 + riff_u32(h + 4) + (riff_u32(h + 4) & 1);
    }
    if (!any)
        return false;
    *out = counted;
    return true;
}

bool count_file(const file_bytes& f, bool walk, avi_chunk_counts* out,
                const chunk_list& list = {})
{
    std::vector<byte_range> movies;
    byte_range headers{0, 0};
    byte_range index{0, 0};
    bool has_index = false;
    bool extended = false;  // OpenDML: idx1, if any, covers the first part only

    uint64_t part = 0;
    for (int n = 0; n < max_riff_parts; n++) {
        uint8_t h[12];
        if (!f.read(part, h, 12) || riff_u32(h) != fourcc("RIFF") ||
            riff_u32(h + 8) != (n == 0 ? fourcc("AVI ") : fourcc("AVIX")))
            break;
        const uint64_t size = riff_u32(h + 4);
        const uint64_t part_end = std::min(part + 8 + size, f.size);
        extended = extended || n > 0;
        for (uint64_t at = part + 12; at + 8 <= part_end && f.read(at, h, 8);) {
            const uint32_t id = riff_u32(h);
            const uint64_t chunk = riff_u32(h + 4);
            const uint64_t end = std::min(at + 8 + chunk, part_end);
            if (id == fourcc("LIST") && chunk >= 4 && f.read(at + 8, h + 8, 4) &&
                riff_u32(h + 8) == fourcc("movi"))
                movies.push_back({at + 12, end});
            else if (id == fourcc("LIST") && n == 0 && chunk >= 4 && riff_u32(h + 8) == fourcc("hdrl"))
                headers = {at + 12, end};
            else if (id == fourcc("idx1") && n == 0 && !has_index) {
                index = {at + 8, end};
                has_index = true;
            }
            at += 8 + chunk + (chunk & 1);
        }
        part += 8 + size + (size & 1);
    }
    if (movies.empty())
        return false;
    if (has_index && !extended && !walk) {
        count_index(f, index, out);
        out->from_index = true;
    } else if (extended && !walk && count_odml_indexes(f, headers, out)) {
        out->from_index = true;
    } else {
        for (const byte_range& movie : movies)
            count_chunks(f, movie, 0, out, list);
    }
    return true;
}

}  // namespace

namespace {

bool count_path(const char* path, avi_chunk_counts* out, bool walk, const chunk_list& list)
{
    *out = avi_chunk_counts{};
    if (!path)
        return false;
    std::ifstream in;
    // Unbuffered: each chunk header is one small read, not a refill of a buffer the next seek
    // throws away.
    in.rdbuf()->pubsetbuf(nullptr, 0);
    in.open(path, std::ios::binary);
    if (!in || !in.seekg(0, std::ios::end))
        return false;
    const std::streamoff size = in.tellg();
    if (size < 0)
        return false;
    const bool counted = count_file(file_bytes{&in, uint64_t(size)}, walk, out, list);
    if (!counted)
        *out = avi_chunk_counts{};
    out->file_bytes = uint64_t(size);
    return counted;
}

}  // namespace

bool count_avi_chunks(const char* path, avi_chunk_counts* out, bool walk)
{
    return count_path(path, out, walk, {});
}

bool walk_stream_chunks(const char* path, uint32_t index, std::vector<avi_chunk_place>* places)
{
    places->clear();
    if (index >= uint32_t(avi_max_chunk_streams))
        return false;
    avi_chunk_counts counts;
    if (count_path(path, &counts, true, {int(index), places}))
        return true;
    places->clear();
    return false;
}

bool count_stored_chunks(const char* path, const std::vector<int64_t>& claimed_frames,
                         avi_chunk_counts* out)
{
    const bool counted = count_avi_chunks(path, out);
    if (!counted || !out->from_index)
        return counted;
    bool doubtful = false;
    uint64_t indexed_bytes = 0;
    for (int i = 0; i < avi_max_chunk_streams; i++) {
        indexed_bytes += out->bytes[i];
        if (size_t(i) < claimed_frames.size() && claimed_frames[size_t(i)] > out->chunks[i])
            doubtful = true;
    }
    doubtful = doubtful || indexed_bytes > out->file_bytes;
    avi_chunk_counts walked;
    if (doubtful && count_avi_chunks(path, &walked, true)) {
        for (int i = 0; i < avi_max_chunk_streams; i++) {
            // An index claiming more bytes than the file holds is not believed about its sizes.
            if (indexed_bytes > out->file_bytes) {
                out->bytes[i] = walked.bytes[i];
                out->size_divisor[i] = walked.size_divisor[i];
            } else {
                out->bytes[i] = std::max(out->bytes[i], walked.bytes[i]);
                out->size_divisor[i] = std::gcd(out->size_divisor[i], walked.size_divisor[i]);
            }
            out->chunks[i] = std::max(out->chunks[i], walked.chunks[i]);
        }
    }
    return true;
}

int64_t stored_chunks(const avi_chunk_counts& counts, bool counted, uint32_t index,
                      int64_t claimed)
{
    if (counted)
        return index < uint32_t(avi_max_chunk_streams) ? counts.chunks[index] : 0;
    const int64_t most = int64_t(std::min<uint64_t>(counts.file_bytes / 8, UINT32_MAX));
    return std::clamp<int64_t>(claimed, 0, most);
}

int64_t stored_samples(const avi_chunk_counts& counts, bool counted, uint32_t index,
                       uint32_t sample_bytes)
{
    if (sample_bytes == 0)
        return 0;
    uint64_t bytes = counts.file_bytes;
    if (counted)
        bytes = index < uint32_t(avi_max_chunk_streams) ? counts.bytes[index] : 0;
    return int64_t(bytes / sample_bytes);
}
