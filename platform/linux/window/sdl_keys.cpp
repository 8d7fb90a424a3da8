#include "platform/linux/window/sdl_keys.h"

namespace {

// Keys with no character: 0 or 224 and the extended code, as the terminal's escape sequences
// decode. Modifiers change none of them, as they change none of those sequences' keys.
bool extended_key(SDL_Keycode sym, Uint16 mod, int* code, int* extended)
{
    const bool keypad_moves = !(mod & KMOD_NUM);  // Num Lock off: the keypad moves the cursor
    int lead = 224;
    switch (sym) {
    case SDLK_UP: *extended = 72; break;
    case SDLK_DOWN: *extended = 80; break;
    case SDLK_LEFT: *extended = 75; break;
    case SDLK_RIGHT: *extended = 77; break;
    case SDLK_HOME: *extended = 71; break;
    case SDLK_END: *extended = 79; break;
    case SDLK_PAGEUP: *extended = 73; break;
    case SDLK_PAGEDOWN: *extended = 81; break;
    case SDLK_INSERT: *extended = 82; break;
    case SDLK_DELETE: *extended = 83; break;
    case SDLK_F11: *extended = 133; break;
    case SDLK_F12: *extended = 134; break;
    default:
        if (sym >= SDLK_F1 && sym <= SDLK_F10) {
            lead = 0;
            *extended = 59 + int(sym - SDLK_F1);
            break;
        }
        if (keypad_moves) {
            static constexpr struct { SDL_Keycode sym; int extended; } keypad[] = {
                {SDLK_KP_8, 72}, {SDLK_KP_2, 80}, {SDLK_KP_4, 75}, {SDLK_KP_6, 77},
                {SDLK_KP_7, 71}, {SDLK_KP_1, 79}, {SDLK_KP_9, 73}, {SDLK_KP_3, 81},
                {SDLK_KP_0, 82}, {SDLK_KP_PERIOD, 83}};
            for (const auto& k : keypad)
                if (k.sym == sym) {
                    *code = 224;
                    *extended = k.extended;
                    return true;
                }
        }
        return false;
    }
    *code = lead;
    return true;
}

// Keys whose character is a control character, which text events never carry.
bool control_key(SDL_Keycode sym, Uint16 mod, int* code, int* extended)
{
    *extended = 0;
    switch (sym) {
    case SDLK_RETURN:
    case SDLK_KP_ENTER: *code = 13; return true;
    case SDLK_ESCAPE: *code = 27; return true;
    case SDLK_BACKSPACE: *code = 8; return true;
    case SDLK_TAB:
        if (mod & KMOD_SHIFT) {  // Shift+Tab: the terminal's ESC [ Z
            *code = 0;
            *extended = 15;
        } else {
            *code = 9;
        }
        return true;
    default:
        break;
    }
    if (!(mod & KMOD_CTRL))
        return false;
    // Ctrl with a letter, as the terminal sends it; Ctrl+C is the character 3, not a signal.
    if (sym >= SDLK_a && sym <= SDLK_z) {
        *code = int(sym - SDLK_a) + 1;
        return true;
    }
    switch (sym) {
    case SDLK_SPACE:
    case SDLK_2: *code = 0; *extended = 3; return true;  // Ctrl+@: NUL, as the terminal decodes it
    case SDLK_LEFTBRACKET: *code = 27; return true;
    case SDLK_BACKSLASH: *code = 28; return true;
    case SDLK_RIGHTBRACKET: *code = 29; return true;
    default: return false;
    }
}

}  // namespace

void sdl_event_keys(const SDL_Event& event, const std::function<void(int, int)>& key)
{
    int code = 0;
    int extended = 0;
    if (event.type == SDL_KEYDOWN) {
        const SDL_Keysym& sym = event.key.keysym;
        if (extended_key(sym.sym, sym.mod, &code, &extended) ||
            control_key(sym.sym, sym.mod, &code, &extended))
            key(code, extended);
        return;
    }
    if (event.type != SDL_TEXTINPUT)
        return;
    // One key per character: ASCII as itself, anything else as '?', as from a UTF-8 terminal.
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(event.text.text); *c; c++) {
        if (*c < 0x80)
            key(*c, 0);
        else if ((*c & 0xc0) != 0x80)
            key('?', 0);
    }
}
