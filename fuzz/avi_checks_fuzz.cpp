// libFuzzer target over the checks both backends make before a file reaches a decoding library
// (platform/avi_checks/): the header list parsed from memory and from the file, the chunks and
// bytes each stream stores, counted in the index, by walking and as the backends combine them,
// and the format checks, used as the backends use them.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz/scratch_file.h"
#include "platform/avi_checks/avi_chunk_count.h"
#include "platform/avi_checks/avi_headers.h"
#include "platform/avi_checks/avi_stream_checks.h"
#include "platform/avi_file.h"

namespace {

// No count may exceed what the file can hold: a chunk header is 8 bytes, an index entry 16.
void check_counts(const avi_chunk_counts& counts, uint64_t size)
{
    if (counts.file_bytes != size)
        std::abort();
    for (int i = 0; i < avi_max_chunk_streams; i++) {
        if (counts.chunks[i] == 0 && (counts.bytes[i] != 0 || counts.size_divisor[i] != 0))
            std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    is_avi_signature(data, size);
    avi_raw_headers in_memory;
    parse_avi_headers(data, size, &in_memory);

    const char* path = write_scratch_file(data, size);
    if (!path)
        return 0;
    avi_raw_headers raw;
    read_avi_headers(path, &raw);

    // As both backends count: video streams claim their header's length; an index that does
    // not hold them up is checked by walking. A file counted in its index is walked as well.
    std::vector<int64_t> claimed(raw.streams.size());
    for (size_t i = 0; i < raw.streams.size(); i++)
        claimed[i] = raw.streams[i].type == stream_type_video ? raw.streams[i].length : 0;
    avi_chunk_counts counts;
    const bool counted = count_stored_chunks(path, claimed, &counts);
    check_counts(counts, size);
    if (counts.from_index) {
        avi_chunk_counts walked;
        count_avi_chunks(path, &walked, true);
        check_counts(walked, size);
    }
    for (size_t i = 0; i < raw.streams.size(); i++) {
        const avi_raw_stream& stream = raw.streams[i];
        const uint32_t index = uint32_t(i);
        const int64_t frames = stored_chunks(counts, counted, index, claimed[i]);
        if (frames < 0 || (!counted && (frames > claimed[i] || uint64_t(frames) > size / 8)))
            std::abort();
        if (stored_samples(counts, counted, index, stream.wave_block_align) < 0)
            std::abort();
        video_format_usable(stream);
        audio_blocks_whole(stream, counts, index);
    }
    return 0;
}
