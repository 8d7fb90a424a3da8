// One audio stream's sound converted with the Audio Compression Manager to the slices' format
// (platform/slice_format.h), owned by the stream's reader in the Windows AVI backend.
#pragma once

#include <cstdint>

struct IAVIStream;
struct converted_sound;

// A conversion of the library's stream `source`, whose stored samples end before `end`; nullptr
// if no converter takes its format or its first samples cannot be read.
converted_sound* converted_sound_open(IAVIStream* source, int32_t end);
// Copies converted samples first.. into `out`, at most `count`; returns how many (fewer only at
// the end of the sound).
int64_t converted_sound_read(converted_sound* sound, int64_t first, int64_t count, void* out);
void converted_sound_close(converted_sound* sound);
