// How many chunks an AVI file really holds for each stream (for video: its frames), whatever its
// headers claim: counted in its idx1 index, or by walking its movi lists when there is no idx1 or
// the file goes on in OpenDML (AVIX) parts.
#pragma once

#include <cstdint>

// Chunk ids name their stream by two decimal digits.
constexpr int avi_max_chunk_streams = 100;

struct avi_chunk_counts {
    // Data chunks ("NNdb", "NNdc", "NNwb", ... but not palette changes "NNpc"), empty ones
    // (dropped frames) included, per stream number.
    uint32_t chunks[avi_max_chunk_streams] = {};
    bool from_index = false;  // counted in idx1 rather than in the movi lists
    uint64_t file_bytes = 0;  // the file's size, also when its chunks cannot be counted
};

// Counts the chunks of the file at `path`, in idx1 unless `walk` or there is none; false (all
// counts 0) when it is not an AVI file or holds no movi list. Reads only chunk headers or the
// index, never more than the file has.
bool count_avi_chunks(const char* path, avi_chunk_counts* out, bool walk = false);
