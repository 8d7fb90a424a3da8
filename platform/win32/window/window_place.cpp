#include "platform/win32/window/window_place.h"

#include "platform/common/dialog_place.h"

void publish_window_rect(HWND hwnd)
{
    RECT outer;
    RECT client;
    POINT origin = {0, 0};
    if (!GetWindowRect(hwnd, &outer) || !GetClientRect(hwnd, &client) ||
        !ClientToScreen(hwnd, &origin))
        return;
    set_video_window_rect(
        screen_rect{int(outer.left), int(outer.top), int(outer.right - outer.left),
                    int(outer.bottom - outer.top)},
        screen_rect{int(origin.x), int(origin.y), int(client.right), int(client.bottom)});
}

void forget_window_rect()
{
    set_video_window_rect(screen_rect{}, screen_rect{});
}
