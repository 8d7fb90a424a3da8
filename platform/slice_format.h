// The slices' sound: the format avi_sound_read gives and every frame's WAVE slice declares, so
// that continuous play runs at the sound's pace of about 30 frames a second.
#pragma once

#include <cstdint>

constexpr int32_t slice_rate = 32000;  // samples a second, one channel of 16-bit PCM
constexpr int32_t slice_sample_bytes = 2;
constexpr int32_t slice_samples = 1067;  // one video frame's share: 33.34 ms
constexpr int32_t slice_bytes = slice_samples * slice_sample_bytes;  // 2134
