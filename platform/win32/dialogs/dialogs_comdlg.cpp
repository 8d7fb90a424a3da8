// The common open-file dialog and the message box.
#include "platform/dialogs.h"

#include <windows.h>
#include <commdlg.h>

#include <cstddef>

#include "platform/common/dialog_place.h"

namespace {
// OPENFILENAME_SIZE_VERSION_400A as a constant: the record up to lpTemplateName, without the
// later extension fields, so the dialog works the same on every Windows version.
constexpr DWORD open_file_name_size = offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR);
#ifndef _WIN64
static_assert(open_file_name_size == 76);
#else
static_assert(open_file_name_size == 136);
#endif

// The message box being shown by this thread: its hook, and whether it has been placed.
thread_local HHOOK placing_hook = nullptr;

// Moves the message box clear of the video window when it is activated, which is when it has
// come into being at its final size, before it is first drawn.
LRESULT CALLBACK place_message_box(int code, WPARAM wparam, LPARAM lparam)
{
    const HHOOK hook = placing_hook;
    if (code == HCBT_ACTIVATE && hook) {
        placing_hook = nullptr;  // the box only; windows it might open go where they go
        const HWND box = reinterpret_cast<HWND>(wparam);
        screen_rect video;
        RECT own;
        MONITORINFO monitor = {};
        monitor.cbSize = sizeof monitor;
        if (video_window_rect(&video, nullptr) && GetWindowRect(box, &own)) {
            const RECT video_rect = {video.x, video.y, video.x + video.width,
                                     video.y + video.height};
            const HMONITOR on = MonitorFromRect(&video_rect, MONITOR_DEFAULTTONEAREST);
            if (GetMonitorInfoA(on, &monitor)) {
                const RECT& work = monitor.rcWork;
                const screen_rect spot = place_dialog(
                    video, int(own.right - own.left), int(own.bottom - own.top),
                    screen_rect{int(work.left), int(work.top), int(work.right - work.left),
                                int(work.bottom - work.top)});
                SetWindowPos(box, nullptr, spot.x, spot.y, 0, 0,
                             SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            }
        }
        const LRESULT next = CallNextHookEx(hook, code, wparam, lparam);
        UnhookWindowsHookEx(hook);
        return next;
    }
    return CallNextHookEx(hook, code, wparam, lparam);
}

}  // namespace

bool dialog_choose_file(const char* title, std::string* path)
{
    // Room for the longest path the system gives (MAX_PATH counts the terminating NUL); empty:
    // the dialog opens with an empty name field.
    char name[MAX_PATH] = {};
    char file_title[MAX_PATH] = {};
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = open_file_name_size;
    ofn.lpstrFilter = "*.*\0*.*\0";  // the literal's own NUL ends the list
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = name;
    ofn.nMaxFile = sizeof name;
    ofn.lpstrFileTitle = file_title;
    ofn.nMaxFileTitle = sizeof file_title - 1;
    ofn.lpstrTitle = title;
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    if (!GetOpenFileNameA(&ofn))
        return false;
    *path = name;
    return true;
}

int dialog_yes_no_cancel(const char* text, const char* caption)
{
    static_assert(answer_yes == IDYES && answer_no == IDNO && answer_cancel == IDCANCEL);
    placing_hook = SetWindowsHookExA(WH_CBT, place_message_box, nullptr, GetCurrentThreadId());
    // MB_SETFOREGROUND: the box takes the keyboard, from the console or the video window.
    const int answer = MessageBoxA(nullptr, text, caption, MB_YESNOCANCEL | MB_SETFOREGROUND);
    if (placing_hook) {  // never activated
        UnhookWindowsHookEx(placing_hook);
        placing_hook = nullptr;
    }
    return answer;
}
