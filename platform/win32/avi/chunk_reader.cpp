#include "platform/win32/avi/chunk_reader.h"

#include <algorithm>

namespace {

bool read_at(std::FILE* f, uint64_t at, void* buffer, size_t n)
{
    return _fseeki64(f, int64_t(at), SEEK_SET) == 0 && std::fread(buffer, 1, n, f) == n;
}

}  // namespace

bool chunk_reader_open(chunk_reader* reader, const char* path, uint32_t index)
{
    chunk_reader_close(reader);
    if (!walk_stream_chunks(path, index, &reader->chunks))
        return false;
    reader->file = std::fopen(path, "rb");
    if (!reader->file) {
        reader->chunks.clear();
        return false;
    }
    reader->starts.resize(reader->chunks.size() + 1);
    uint64_t at = 0;
    for (size_t k = 0; k < reader->chunks.size(); k++) {
        reader->starts[k] = at;
        at += reader->chunks[k].size;
    }
    reader->starts.back() = at;
    return true;
}

void chunk_reader_close(chunk_reader* reader)
{
    if (reader->file)
        std::fclose(reader->file);
    *reader = chunk_reader{};
}

bool read_chunk(chunk_reader* reader, int64_t k, std::vector<uint8_t>* out)
{
    out->clear();
    if (!reader->file || k < 0 || uint64_t(k) >= reader->chunks.size())
        return false;
    const avi_chunk_place& c = reader->chunks[size_t(k)];
    out->resize(c.size);
    if (c.size > 0 && !read_at(reader->file, c.offset, out->data(), c.size)) {
        out->clear();
        return false;
    }
    return true;
}

uint64_t read_chunk_bytes(chunk_reader* reader, uint64_t at, void* buffer, uint64_t n)
{
    if (!reader->file || at >= chunk_bytes_total(*reader))
        return 0;
    n = std::min(n, chunk_bytes_total(*reader) - at);
    // The chunk holding byte `at`: the last that starts at or before it.
    size_t k = size_t(std::upper_bound(reader->starts.begin(), reader->starts.end() - 1, at) -
                      reader->starts.begin()) - 1;
    uint64_t done = 0;
    auto* out = static_cast<uint8_t*>(buffer);
    while (done < n && k < reader->chunks.size()) {
        const uint64_t inside = at + done - reader->starts[k];
        const uint64_t take = std::min<uint64_t>(reader->chunks[k].size - inside, n - done);
        if (take > 0 && !read_at(reader->file, reader->chunks[k].offset + inside, out + done,
                                 size_t(take)))
            break;
        done += take;
        k++;
    }
    return done;
}
