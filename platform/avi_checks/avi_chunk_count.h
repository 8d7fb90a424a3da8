// How many chunks and bytes an AVI file really holds for each stream (for video: its frames; for
// audio: its samples), whatever its headers claim: counted in its idx1 index, or by walking its
// movi lists when there is no idx1 or the file goes on in OpenDML (AVIX) parts. Plain file
// reading, shared by every backend.
#pragma once

#include <cstdint>
#include <vector>

// Chunk ids name their stream by two decimal digits.
constexpr int avi_max_chunk_streams = 100;

struct avi_chunk_counts {
    // Data chunks ("NNdb", "NNdc", "NNwb", ... but not palette changes "NNpc"), empty ones
    // (dropped frames) included, per stream number.
    uint32_t chunks[avi_max_chunk_streams] = {};
    uint64_t bytes[avi_max_chunk_streams] = {};  // the sizes of those chunks, added up
    uint32_t size_divisor[avi_max_chunk_streams] = {};  // their sizes' greatest common divisor
    bool from_index = false;  // counted in idx1 rather than in the movi lists
    uint64_t file_bytes = 0;  // the file's size, also when its chunks cannot be counted
};

// Counts the chunks of the file at `path`, in idx1 unless `walk` or there is none; false (all
// counts 0) when it is not an AVI file or holds no movi list. Reads only chunk headers or the
// index, never more than the file has.
bool count_avi_chunks(const char* path, avi_chunk_counts* out, bool walk = false);

// Where a stored chunk's data is in the file.
struct avi_chunk_place {
    uint64_t offset;  // its first data byte, after the 8-byte chunk header
    uint32_t size;
};

// The whole data chunks of stream `index` in file order, found by walking the movi lists as a
// file without an index is read (empty ones included); false (none) when it is not an AVI file
// or holds no movi list.
bool walk_stream_chunks(const char* path, uint32_t index, std::vector<avi_chunk_place>* places);

// Counts as above for a file whose headers claim `claimed_frames[i]` video frames for stream i (0
// for other streams): an index holding fewer of them, or more bytes than the file, may be short
// or lying itself, so the file is then walked as well and the larger counts kept.
bool count_stored_chunks(const char* path, const std::vector<int64_t>& claimed_frames,
                         avi_chunk_counts* out);
// The chunks stream `index` holds: as counted, or where the file could not be counted
// (`counted` false), `claimed` but no more than the file could hold at 8 bytes a chunk.
int64_t stored_chunks(const avi_chunk_counts& counts, bool counted, uint32_t index,
                      int64_t claimed);
// The whole samples of `sample_bytes` bytes stream `index` holds, counted as above (the file's
// size where it could not be counted); 0 for samples of 0 bytes.
int64_t stored_samples(const avi_chunk_counts& counts, bool counted, uint32_t index,
                       uint32_t sample_bytes);
