// Sample-exact reads from one audio stream, whatever its chunking. The samples read last stay in
// a window, so that reads going back over them (stepping back a frame) need no seek, and a read
// continuing where the last ended goes on from the current packet.
#pragma once

#include <cstdint>
#include <cstddef>
#include <memory>

extern "C" {
#include <libavformat/avformat.h>
}

struct stored_sound {
    AVFormatContext* input = nullptr;  // owned: this reader's own demuxer
    int stream = -1;
    uint32_t sample_bytes = 0;
    AVPacket* packet = nullptr;
    int offset = 0;            // bytes of `packet` already handed out
    bool has_packet = false;
    bool positioned = false;   // next_sample is where the demuxer's data continues
    bool at_end = false;
    int64_t next_sample = 0;   // the sample at packet->data + offset

    // Samples window_first.. as read, ending at next_sample while positioned; its size is fixed
    // when the reader opens. Left uninitialised: only the samples read are ever copied out, and
    // clearing a megabyte for every reader opened was most of the cost of opening one.
    std::unique_ptr<uint8_t[]> window;
    size_t window_size = 0;
    int64_t window_first = 0;
    int64_t window_samples = 0;
};

// Takes ownership of `input` (also on failure); samples are `sample_bytes` bytes each.
bool stored_sound_open(stored_sound* r, AVFormatContext* input, int stream, uint32_t sample_bytes);
// Copies samples first.. into `buffer`, at most `max_samples`; returns the number copied
// (fewer at the end of the stream), or -1 on failure.
int64_t stored_sound_read(stored_sound* r, int64_t first, int64_t max_samples, uint8_t* buffer);
void stored_sound_close(stored_sound* r);
