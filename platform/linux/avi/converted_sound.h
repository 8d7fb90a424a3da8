// Reads an audio stream's sound converted to 16-bit mono PCM at 32000 Hz, by converted sample
// index. The samples converted last stay in a window: reads going back over them (stepping back a
// frame) convert nothing again, and a read continuing where the last ended converts on.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/linux/avi/sound_decoder.h"

struct converted_sound {
    sound_decoder decoder;
    std::vector<int16_t> window;  // samples window_first.., as converted
    int64_t window_first = 0;
    int64_t window_count = 0;
    bool live = false;     // the decoder goes on at window_first + window_count
    bool at_end = false;   // the window reaches the end of the sound
    int64_t sound_end = -1;  // converted samples the whole sound has, once known
};

// Opens a reader of stream `stream` of `input` (taking ownership of it, also on failure);
// false if the stream's sound has no decoder.
bool converted_sound_open(converted_sound* r, AVFormatContext* input, int stream,
                       const AVCodecParameters* par);
// Copies converted samples first.. into `out` (in the machine's byte order), at most `count`;
// returns how many (fewer only at the end of the sound).
int64_t converted_sound_read(converted_sound* r, int64_t first, int64_t count, uint8_t* out);
void converted_sound_close(converted_sound* r);
