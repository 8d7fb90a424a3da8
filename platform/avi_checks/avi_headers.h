// The header list of an AVI file as stored: the main header and, in file order, each stream's
// header and format. Decoding libraries reduce time bases, hide some fields and trust others;
// these are the raw values, read with plain file reading, shared by every backend.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct avi_raw_stream {
    uint32_t type = 0;  // fccType
    uint32_t handler = 0;
    uint32_t scale = 0;
    uint32_t rate = 0;
    uint32_t start = 0;
    uint32_t length = 0;
    uint32_t sample_size = 0;
    int16_t frame[4] = {0, 0, 0, 0};  // rcFrame: left, top, right, bottom
    bool has_format = false;
    uint32_t format_bytes = 0;  // the strf chunk's size, as far as the file holds it
    std::vector<uint8_t> format;  // the strf chunk's bytes, its first 64 KB at most
    // Video format (BITMAPINFOHEADER).
    uint32_t bitmap_header_bytes = 0;  // biSize
    int32_t bitmap_width = 0;
    int32_t bitmap_height = 0;  // negative for top-down frames
    uint16_t bitmap_bits = 0;
    uint32_t bitmap_compression = 0;
    uint32_t bitmap_colours_used = 0;  // biClrUsed
    // Audio format (WAVEFORMAT).
    uint16_t wave_format = 0;
    uint16_t wave_channels = 0;
    uint32_t wave_rate = 0;
    uint16_t wave_block_align = 0;
    uint16_t wave_bits = 0;
};

struct avi_raw_headers {
    uint32_t total_frames = 0;  // avih
    uint32_t stream_count = 0;  // avih's dwStreams, which may disagree with the strl lists
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<avi_raw_stream> streams;  // one per strl list holding a strh, in file order
};

// True if `data` starts like an AVI file ("RIFF" size "AVI ").
bool is_avi_signature(const uint8_t* data, size_t size);
// Parses the header list from the start of a file image; false if it is not an AVI file or
// holds no header list. Never reads outside `data`, whatever the stored sizes claim.
bool parse_avi_headers(const uint8_t* data, size_t size, avi_raw_headers* out);
// Reads the start of the file and parses it as above.
bool read_avi_headers(const char* path, avi_raw_headers* out);
