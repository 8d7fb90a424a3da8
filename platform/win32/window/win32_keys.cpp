#include "platform/win32/window/win32_keys.h"

#include "platform/common/window_keys.h"
#include "platform/win32/console/key_decode.h"

namespace {

// The modifier state as the console reports it with a key event.
uint32_t control_state(LPARAM lparam)
{
    uint32_t state = 0;
    if (GetKeyState(VK_SHIFT) < 0)
        state |= key_shift;
    if (GetKeyState(VK_LCONTROL) < 0)
        state |= key_left_ctrl;
    if (GetKeyState(VK_RCONTROL) < 0)
        state |= key_right_ctrl;
    if (GetKeyState(VK_LMENU) < 0)
        state |= key_left_alt;
    if (GetKeyState(VK_RMENU) < 0)
        state |= key_right_alt;
    if (lparam & (1 << 24))
        state |= key_enhanced;
    return state;
}

}  // namespace

bool take_key_message(UINT message, WPARAM wparam, LPARAM lparam)
{
    int code = 0;
    int extended = 0;
    switch (message) {
    case WM_CHAR:
    case WM_SYSCHAR:  // Alt+key: the console gives the key's character
        window_key_typed(int(wparam & 0xff), 0);
        return true;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN: {
        // Keys with a character come again as WM_CHAR; Alt+F4 is the close button's, not a key.
        if (MapVirtualKeyA(UINT(wparam), MAPVK_VK_TO_CHAR) != 0 ||
            (message == WM_SYSKEYDOWN && wparam == VK_F4))
            return false;
        const console_key_press press = {0, uint16_t((lparam >> 16) & 0xff), control_state(lparam)};
        if (console_key_codes(press, &code, &extended))
            window_key_typed(code, extended);
        // The system's own keys (F10, Alt+...) keep their default handling.
        return message == WM_KEYDOWN;
    }
    default:
        return false;
    }
}
