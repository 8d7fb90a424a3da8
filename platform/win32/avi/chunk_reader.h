// One stream of an AVI file read from its stored chunks, found by walking the file's movi lists:
// for files the platform's AVI library cannot index (cut before idx1) or must not be given.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "platform/avi_checks/avi_chunk_count.h"

struct chunk_reader {
    std::FILE* file = nullptr;
    std::vector<avi_chunk_place> chunks;
    std::vector<uint64_t> starts;  // each chunk's first byte in the stream's data, and the total
};

// Walks the file at `path` for stream `index`'s chunks; false if the file cannot be read.
bool chunk_reader_open(chunk_reader* reader, const char* path, uint32_t index);
void chunk_reader_close(chunk_reader* reader);
// Chunk `k`'s bytes into *out; false if it cannot be read (then *out is empty).
bool read_chunk(chunk_reader* reader, int64_t k, std::vector<uint8_t>* out);
// The stream's data as one run of bytes, the chunks end to end: up to `n` bytes from `at` on;
// returns how many were read.
uint64_t read_chunk_bytes(chunk_reader* reader, uint64_t at, void* buffer, uint64_t n);
// All the stream's data bytes.
inline uint64_t chunk_bytes_total(const chunk_reader& reader)
{
    return reader.starts.empty() ? 0 : reader.starts.back();
}
