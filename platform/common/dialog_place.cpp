#include "platform/common/dialog_place.h"

#include <algorithm>
#include <cstdint>
#include <mutex>

namespace {

// Room left between the video window and a dialog beside it.
constexpr int gap = 8;

std::mutex video_lock;
screen_rect video_outer;  // both guarded by video_lock
screen_rect video_client;

// The start coordinate that keeps a span of `size` inside [low, low + room), at `wanted` if
// it can; at `low` when it cannot fit at all.
int clamp_span(int wanted, int size, int low, int room)
{
    return std::max(low, std::min(wanted, low + room - size));
}

int64_t overlap(const screen_rect& a, const screen_rect& b)
{
    const int64_t w = std::min(a.x + a.width, b.x + b.width) - std::max(a.x, b.x);
    const int64_t h = std::min(a.y + a.height, b.y + b.height) - std::max(a.y, b.y);
    return w > 0 && h > 0 ? w * h : 0;
}

}  // namespace

screen_rect place_dialog(const screen_rect& avoid, int width, int height, const screen_rect& area)
{
    const int centre_x = avoid.x + (avoid.width - width) / 2;
    const int centre_y = avoid.y + (avoid.height - height) / 2;
    // Below, right, above, left: each side's wanted corner, kept inside the area.
    const int wanted[4][2] = {{centre_x, avoid.y + avoid.height + gap},
                              {avoid.x + avoid.width + gap, centre_y},
                              {centre_x, avoid.y - gap - height},
                              {avoid.x - gap - width, centre_y}};
    screen_rect best;
    int64_t best_cover = -1;
    for (const auto& corner : wanted) {
        screen_rect place{clamp_span(corner[0], width, area.x, area.width),
                          clamp_span(corner[1], height, area.y, area.height), width, height};
        const int64_t cover = overlap(place, avoid);
        if (cover == 0)
            return place;
        if (best_cover < 0 || cover < best_cover) {
            best = place;
            best_cover = cover;
        }
    }
    // The area's corners cover least when the window fills most of one side.
    const int right = clamp_span(area.x + area.width, width, area.x, area.width);
    const int bottom = clamp_span(area.y + area.height, height, area.y, area.height);
    const int corners[4][2] = {{area.x, area.y}, {right, area.y}, {area.x, bottom}, {right, bottom}};
    for (const auto& corner : corners) {
        screen_rect place{corner[0], corner[1], width, height};
        const int64_t cover = overlap(place, avoid);
        if (cover < best_cover) {
            best = place;
            best_cover = cover;
        }
    }
    return best;
}

void set_video_window_rect(const screen_rect& outer, const screen_rect& client)
{
    std::lock_guard<std::mutex> lock(video_lock);
    video_outer = outer;
    video_client = client;
}

bool video_window_rect(screen_rect* outer, screen_rect* client)
{
    std::lock_guard<std::mutex> lock(video_lock);
    if (video_outer.width <= 0 || video_outer.height <= 0)
        return false;
    *outer = video_outer;
    if (client)
        *client = video_client;
    return true;
}
