#include "platform/linux/window/window_place.h"

#include <algorithm>

#include "platform/common/dialog_place.h"

void opening_position(int width, int height, int* x, int* y)
{
    SDL_Rect usable;
    if (SDL_GetDisplayUsableBounds(0, &usable) != 0) {
        *x = SDL_WINDOWPOS_CENTERED;
        *y = SDL_WINDOWPOS_CENTERED;
        return;
    }
    // A quarter of the free height above, three quarters below; a window manager's title bar
    // still fits above the client area.
    *x = usable.x + std::max(0, (usable.w - width) / 2);
    *y = usable.y + std::max(0, (usable.h - height) / 4);
}

void publish_window_rect(SDL_Window* window)
{
    screen_rect client;
    SDL_GetWindowPosition(window, &client.x, &client.y);
    SDL_GetWindowSize(window, &client.width, &client.height);
    int top = 0, left = 0, bottom = 0, right = 0;
    // No frame known (none on a bare X server): the client area is all there is.
    if (SDL_GetWindowBordersSize(window, &top, &left, &bottom, &right) != 0)
        top = left = bottom = right = 0;
    const screen_rect outer{client.x - left, client.y - top, client.width + left + right,
                            client.height + top + bottom};
    set_video_window_rect(outer, client);
}

void forget_window_rect()
{
    set_video_window_rect(screen_rect{}, screen_rect{});
}
