// WAVE images are checked before PlaySoundA, which is given no size, reads them.
#include <windows.h>

#include <cstring>
#include <vector>

#include "platform/sound.h"
#include "tests/wine/check.h"

namespace {

void put_u32(std::vector<unsigned char>& image, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; i++)
        image[at + i] = uint8_t(value >> (8 * i));
}

// A slice as the playback builds it: 44 header bytes and 2134 bytes of 16-bit mono PCM.
std::vector<unsigned char> slice_image()
{
    std::vector<unsigned char> image(44 + 2134, 0);
    std::memcpy(&image[0], "RIFF", 4);
    put_u32(image, 4, 36 + 2134);
    std::memcpy(&image[8], "WAVEfmt ", 8);
    put_u32(image, 16, 16);
    const unsigned char format[16] = {1, 0, 1, 0, 0x00, 0x7d, 0, 0, 0x00, 0xfa, 0, 0, 2, 0, 16, 0};
    std::memcpy(&image[20], format, 16);
    std::memcpy(&image[36], "data", 4);
    put_u32(image, 40, 2134);
    return image;
}

}  // namespace

void check_sound()
{
    const std::vector<unsigned char> good = slice_image();
    // Images whose chunks run past the given size never reach the player: refused at once,
    // where the player would read beyond the buffer or play for seconds.
    std::vector<std::vector<unsigned char>> bad(4, good);
    put_u32(bad[0], 40, 0x7ffffff0);  // data runs far past the image
    put_u32(bad[1], 4, 0x7ffffff0);   // so does the form
    std::memcpy(&bad[2][8], "AVI ", 4);
    put_u32(bad[3], 16, 0xfffffff8);  // the format chunk wraps a 32-bit end offset
    const DWORD start = GetTickCount();
    for (const std::vector<unsigned char>& image : bad)
        CHECK(!sound_play_wave(image.data(), image.size()));
    CHECK(!sound_play_wave(good.data(), good.size() - 1));
    CHECK(!sound_play_wave(good.data(), 12));
    CHECK(!sound_play_wave(nullptr, good.size()));
    CHECK(GetTickCount() - start < 50);

    // A whole slice plays to its end (33 ms) or, with no sound device, fails at once; either
    // way the call comes back.
    sound_play_wave(good.data(), good.size());
    sound_close();
}
