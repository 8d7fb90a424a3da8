// Key presses as _getch would report them.
#include <windows.h>

#include <cstdio>

#include "platform/console.h"
#include "platform/win32/console/key_decode.h"
#include "tests/wine/check.h"

namespace {

struct expected {
    unsigned char character;
    uint16_t scan;
    uint32_t state;
    bool counts;
    int code, extended;
};

}  // namespace

void check_console_keys()
{
    const expected keys[] = {
        {'n', 49, 0, true, 'n', 0},
        {'N', 49, key_shift, true, 'N', 0},
        {3, 46, key_left_ctrl, true, 3, 0},            // Ctrl+C is a character
        {27, 1, 0, true, 27, 0},                       // Escape
        {0x82, 0, 0, true, 0x82, 0},                   // a CP932 lead byte is a character
        {0, 42, key_shift, false, 0, 0},               // Shift alone
        {0, 29, key_left_ctrl, false, 0, 0},           // Ctrl alone
        {0, 56, key_left_alt, false, 0, 0},            // Alt alone
        {0, 58, 0, false, 0, 0},                       // Caps Lock
        {0, 72, key_enhanced, true, 224, 72},          // Up
        {0, 80, key_enhanced | key_shift, true, 224, 80},
        {0, 72, key_enhanced | key_right_ctrl, true, 224, 141},
        {0, 72, key_enhanced | key_left_alt | key_left_ctrl, true, 0, 152},  // Alt wins
        {0, 83, key_enhanced, true, 224, 83},          // Delete
        {0, 72, 0, true, 0, 72},                       // keypad 8 with Num Lock off
        {0, 76, 0, false, 0, 0},                       // keypad 5 with Num Lock off
        {0, 59, 0, true, 0, 59},                       // F1
        {0, 68, key_shift, true, 0, 93},               // Shift+F10
        {0, 60, key_left_ctrl, true, 0, 95},           // Ctrl+F2
        {0, 61, key_right_alt, true, 0, 106},          // Alt+F3
        {0, 87, 0, true, 224, 133},                    // F11
        {0, 88, key_left_alt, true, 224, 140},         // Alt+F12
        {0, 28, key_enhanced, false, 0, 0},            // keypad Enter without its character
    };
    for (const expected& k : keys) {
        int code = -1;
        int extended = -1;
        const bool counts = console_key_codes({k.character, k.scan, k.state}, &code, &extended);
        CHECK(counts == k.counts);
        if (counts && k.counts)
            CHECK(code == k.code && extended == k.extended);
    }
}

// Reads keys typed into the real console and prints each as "key code extended": first one key
// (Wine's console takes the terminal's keys from the first read on), then, once "ready" is out,
// `count` more, checking first that looking at them does not consume them. The console's mode
// is given back after each read.
int print_console_keys(int count)
{
    console_open();
    const HANDLE input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                     0, nullptr);
    DWORD mode_before = 0;
    CHECK(GetConsoleMode(input, &mode_before));
    std::printf("start\n");
    std::fflush(stdout);
    int code = -1;
    int extended = -1;
    CHECK(console_read_key(&code, &extended));
    std::printf("key %d %d\nready\n", code, extended);
    std::fflush(stdout);

    for (int i = 0; i < 10000 && !console_key_waiting(); i++)
        Sleep(1);
    Sleep(500);  // the rest of the keys
    CHECK(console_key_waiting());
    CHECK(console_key_waiting());  // still there: looking took nothing
    for (int i = 0; i < count; i++) {
        CHECK(console_read_key(&code, &extended));
        std::printf("key %d %d\n", code, extended);
    }
    CHECK(!console_key_waiting());
    DWORD mode_after = 0;
    CHECK(GetConsoleMode(input, &mode_after));
    CHECK(mode_after == mode_before);
    CloseHandle(input);
    return 0;
}
