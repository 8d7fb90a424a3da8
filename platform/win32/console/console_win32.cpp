// The Windows console: key-by-key input from the console's own input device, prompt output
// written out at once on a console.
#include "platform/console.h"

#include <windows.h>

#include <atomic>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <io.h>
#include <vector>

#include "platform/win32/console/key_decode.h"
#include "platform/common/window_keys.h"

static_assert(key_right_alt == RIGHT_ALT_PRESSED && key_left_alt == LEFT_ALT_PRESSED &&
              key_right_ctrl == RIGHT_CTRL_PRESSED && key_left_ctrl == LEFT_CTRL_PRESSED &&
              key_shift == SHIFT_PRESSED && key_enhanced == ENHANCED_KEY);

namespace {

// How often a wait for a key looks for keys typed into the video window.
constexpr DWORD window_key_look_ms = 10;

// Every input event ever read from the console: the position in the typed input of the next
// one. Read by the display thread to order the window's keys among the console's.
std::atomic<uint64_t> events_read{0};

// The console's input device, whatever standard input is redirected to; opened on first use.
HANDLE console_input()
{
    static HANDLE input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      0, nullptr);
    return input;
}

// True with the key's codes when the event is a key press that gives a character or an
// extended code.
bool counting_key(const INPUT_RECORD& record, int* code, int* extended)
{
    if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown)
        return false;
    const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
    const console_key_press press = {static_cast<unsigned char>(key.uChar.AsciiChar),
                                     key.wVirtualScanCode, key.dwControlKeyState};
    return console_key_codes(press, code, extended);
}

}  // namespace

uint64_t console_input_mark()
{
    const HANDLE input = console_input();
    DWORD waiting = 0;
    if (input == INVALID_HANDLE_VALUE || !GetNumberOfConsoleInputEvents(input, &waiting))
        waiting = 0;
    return events_read + waiting;
}

void console_open()
{
    // Multibyte text on the console is the user's code page (932 for the Japanese texts): a
    // runtime that converts console output (Wine's does) reads it so, not as the "C" locale.
    std::setlocale(LC_CTYPE, "");
    // Prompts have no line break: on a console each print must reach the screen by itself.
    // Redirected output keeps the runtime's full buffering.
    if (_isatty(_fileno(stdout)))
        std::setvbuf(stdout, nullptr, _IONBF, 0);
}

bool console_read_key(int* code, int* extended)
{
    const HANDLE input = console_input();
    DWORD old_mode = 0;
    // Without a console, only keys already typed into the window can be given.
    if (input == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &old_mode))
        return take_window_key(UINT64_MAX, code, extended);
    // Mode 0: no line input, no echo, and Ctrl+C arrives as the character 3.
    SetConsoleMode(input, 0);
    bool read = false;
    for (;;) {
        // A key typed into the window before the console's next event comes first.
        if (take_window_key(events_read, code, extended)) {
            read = true;
            break;
        }
        const DWORD ready = WaitForSingleObject(input, window_key_look_ms);
        if (ready == WAIT_TIMEOUT)
            continue;
        if (ready != WAIT_OBJECT_0)
            break;
        DWORD waiting = 0;
        if (GetNumberOfConsoleInputEvents(input, &waiting) && waiting == 0)
            continue;
        INPUT_RECORD record;
        DWORD count = 0;
        if (!ReadConsoleInputA(input, &record, 1, &count))
            break;
        events_read += count;
        if (count == 1 && counting_key(record, code, extended)) {
            read = true;
            break;
        }
    }
    SetConsoleMode(input, old_mode);
    return read;
}

bool console_key_waiting()
{
    if (window_key_waiting())
        return true;
    const HANDLE input = console_input();
    DWORD waiting = 0;
    if (input == INVALID_HANDLE_VALUE || !GetNumberOfConsoleInputEvents(input, &waiting) ||
        waiting == 0)
        return false;
    std::vector<INPUT_RECORD> records(waiting);
    DWORD count = 0;
    if (!PeekConsoleInputA(input, records.data(), waiting, &count))
        return false;
    int code = 0;
    int extended = 0;
    for (DWORD i = 0; i < count; i++)
        if (counting_key(records[i], &code, &extended))
            return true;
    return false;
}
