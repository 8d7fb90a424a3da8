// Console key presses turned into the codes the C runtime's _getch gives for them. Free of
// Windows headers so the mapping can be checked anywhere.
#pragma once

#include <cstdint>

// The console's modifier flags (dwControlKeyState), with the values the console uses.
constexpr uint32_t key_right_alt = 0x0001;
constexpr uint32_t key_left_alt = 0x0002;
constexpr uint32_t key_right_ctrl = 0x0004;
constexpr uint32_t key_left_ctrl = 0x0008;
constexpr uint32_t key_shift = 0x0010;
constexpr uint32_t key_enhanced = 0x0100;

// One key-down event as the console reports it.
struct console_key_press {
    unsigned char character;  // the 8-bit character, 0 when the key gives none
    uint16_t scan_code;       // wVirtualScanCode
    uint32_t control_state;   // dwControlKeyState
};

// The key's codes: its character in *code and 0 in *extended, or 0 or 224 in *code and the
// extended code in *extended. False for keys that give neither (Shift, Ctrl or Alt alone).
bool console_key_codes(const console_key_press& key, int* code, int* extended);
