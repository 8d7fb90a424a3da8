// Little-endian numbers as RIFF files store them, read from bytes already in memory.
#pragma once

#include <cstdint>

inline uint16_t riff_u16(const uint8_t* p)
{
    return uint16_t(p[0] | p[1] << 8);
}

inline uint32_t riff_u32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline uint64_t riff_u64(const uint8_t* p)
{
    return uint64_t(riff_u32(p)) | uint64_t(riff_u32(p + 4)) << 32;
}
