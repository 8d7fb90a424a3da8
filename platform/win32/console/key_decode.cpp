#include "platform/win32/console/key_decode.h"

namespace {

// Extended codes of one key: plain, with Shift, with Ctrl, with Alt. Each is lead * 256 + code,
// lead 0 or 224; 0 where that combination gives nothing.
struct key_codes {
    uint16_t scan;
    uint16_t plain, shift, ctrl, alt;
};

constexpr uint16_t x0(int code)
{
    return uint16_t(code);
}
constexpr uint16_t xe(int code)
{
    return uint16_t(224 * 256 + code);
}

// The grey navigation block (flagged enhanced): 224 and the scan code, Ctrl moves to codes of
// their own, Alt to 0 and the scan code + 80.
constexpr key_codes enhanced_keys[] = {
    {71, xe(71), xe(71), xe(119), x0(151)},  // Home
    {72, xe(72), xe(72), xe(141), x0(152)},  // Up
    {73, xe(73), xe(73), xe(132), x0(153)},  // Page Up
    {75, xe(75), xe(75), xe(115), x0(155)},  // Left
    {77, xe(77), xe(77), xe(116), x0(157)},  // Right
    {79, xe(79), xe(79), xe(117), x0(159)},  // End
    {80, xe(80), xe(80), xe(145), x0(160)},  // Down
    {81, xe(81), xe(81), xe(118), x0(161)},  // Page Down
    {82, xe(82), xe(82), xe(146), x0(162)},  // Insert
    {83, xe(83), xe(83), xe(147), x0(163)},  // Delete
    {28, 0, 0, 0, x0(166)},                  // keypad Enter: a character except with Alt
    {53, 0, 0, 0, x0(164)},                  // keypad /
};

// Function keys and the keypad with Num Lock off. F1..F10 give 0 and the scan code, moved by
// 25 with Shift, 35 with Ctrl, 45 with Alt; F11 and F12 give 224 and codes 133..140.
constexpr key_codes normal_keys[] = {
    {59, x0(59), x0(84), x0(94), x0(104)},    // F1
    {60, x0(60), x0(85), x0(95), x0(105)},    // F2
    {61, x0(61), x0(86), x0(96), x0(106)},    // F3
    {62, x0(62), x0(87), x0(97), x0(107)},    // F4
    {63, x0(63), x0(88), x0(98), x0(108)},    // F5
    {64, x0(64), x0(89), x0(99), x0(109)},    // F6
    {65, x0(65), x0(90), x0(100), x0(110)},   // F7
    {66, x0(66), x0(91), x0(101), x0(111)},   // F8
    {67, x0(67), x0(92), x0(102), x0(112)},   // F9
    {68, x0(68), x0(93), x0(103), x0(113)},   // F10
    {87, xe(133), xe(135), xe(137), xe(139)}, // F11
    {88, xe(134), xe(136), xe(138), xe(140)}, // F12
    {71, x0(71), 0, x0(119), 0},              // keypad 7 / Home
    {72, x0(72), 0, x0(141), 0},              // keypad 8 / Up
    {73, x0(73), 0, x0(132), 0},              // keypad 9 / Page Up
    {75, x0(75), 0, x0(115), 0},              // keypad 4 / Left
    {76, 0, 0, x0(143), 0},                   // keypad 5
    {77, x0(77), 0, x0(116), 0},              // keypad 6 / Right
    {79, x0(79), 0, x0(117), 0},              // keypad 1 / End
    {80, x0(80), 0, x0(145), 0},              // keypad 2 / Down
    {81, x0(81), 0, x0(118), 0},              // keypad 3 / Page Down
    {82, x0(82), 0, x0(146), 0},              // keypad 0 / Insert
    {83, x0(83), 0, x0(147), 0},              // keypad . / Delete
};

template <size_t n>
const key_codes* find_key(const key_codes (&table)[n], uint16_t scan)
{
    for (const key_codes& key : table)
        if (key.scan == scan)
            return &key;
    return nullptr;
}

}  // namespace

bool console_key_codes(const console_key_press& key, int* code, int* extended)
{
    if (key.character != 0) {
        *code = key.character;
        *extended = 0;
        return true;
    }
    const key_codes* codes = (key.control_state & key_enhanced)
                                 ? find_key(enhanced_keys, key.scan_code)
                                 : find_key(normal_keys, key.scan_code);
    if (!codes)
        return false;
    // Alt outranks Ctrl, which outranks Shift.
    uint16_t pair = codes->plain;
    if (key.control_state & (key_left_alt | key_right_alt))
        pair = codes->alt;
    else if (key.control_state & (key_left_ctrl | key_right_ctrl))
        pair = codes->ctrl;
    else if (key.control_state & key_shift)
        pair = codes->shift;
    if (pair == 0)
        return false;
    *code = pair >> 8;
    *extended = pair & 0xff;
    return true;
}
