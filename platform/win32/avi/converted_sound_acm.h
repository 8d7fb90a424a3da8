// One audio stream's sound converted with the Audio Compression Manager to the slices' format
// (platform/slice_format.h), owned by the stream's reader in the Windows AVI backend.
#pragma once

#include <cstdint>
#include <vector>

struct IAVIStream;
struct chunk_reader;
struct converted_sound;

// A conversion of the library's stream `source`, whose stored samples end before `end`; nullptr
// if no converter takes its format or its first samples cannot be read.
converted_sound* converted_sound_open(IAVIStream* source, int32_t end);
// A conversion of the sound stored in `chunks` (read as one run of bytes, whatever the chunks'
// sizes) in the stored format `format`; nullptr as above.
converted_sound* converted_sound_open_chunks(chunk_reader* chunks,
                                            const std::vector<uint8_t>& format);
// Copies converted samples first.. into `out`, at most `count`; returns how many (fewer only at
// the end of the sound).
int64_t converted_sound_read(converted_sound* sound, int64_t first, int64_t count, void* out);
void converted_sound_close(converted_sound* sound);
