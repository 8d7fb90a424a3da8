// Reading an audio stream the way playback takes its slices, with every count the service
// returns checked against what was asked: shared by the fuzz targets that read sound.
#pragma once

#include <cstdint>

#include "platform/avi_file.h"

// Bytes of one frame's slice of 16-bit mono PCM, and its samples.
constexpr int32_t fuzz_slice_bytes = 2134;
constexpr int32_t fuzz_slice_samples = fuzz_slice_bytes / 2;

// Reads the slice starting at sample `first` as stored (avi_stream_read) and as played
// (avi_sound_read, converted from whatever the stream holds); aborts on a count out of bounds.
void read_slice(avi_stream* stream, int64_t first);
// Asks for the whole stream without a buffer, then into a 1 MB buffer, as another user of the
// service might; aborts on a count out of bounds.
void read_whole_stream(avi_stream* stream);
