// Where dialogs open around the video window.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/common/dialog_place.h"

namespace {

const screen_rect screen{0, 0, 1280, 1024};

int cover(const screen_rect& a, const screen_rect& b)
{
    const int w = std::min(a.x + a.width, b.x + b.width) - std::max(a.x, b.x);
    const int h = std::min(a.y + a.height, b.y + b.height) - std::max(a.y, b.y);
    return w > 0 && h > 0 ? w * h : 0;
}

bool inside(const screen_rect& r, const screen_rect& area)
{
    return r.x >= area.x && r.y >= area.y && r.x + r.width <= area.x + area.width &&
           r.y + r.height <= area.y + area.height;
}

struct placement_case {
    screen_rect window;
    int width, height;
    screen_rect area;
    const char* side;  // where the dialog must go: below, right, above, left or least
};

}  // namespace

TEST(DialogPlace, BelowElseRightElseAboveElseLeftElseLeastCover)
{
    const placement_case cases[] = {
        {{480, 200, 320, 240}, 300, 120, screen, "below"},
        {{0, 0, 640, 1000}, 300, 120, screen, "right"},
        {{0, 700, 1200, 324}, 300, 120, screen, "above"},
        {{900, 0, 380, 1024}, 300, 120, screen, "left"},
        {{100, 100, 1080, 824}, 300, 120, screen, "least"},       // room on no side
        {{-50, 980, 400, 100}, 300, 120, screen, "right"},         // partly off the screen
        {{300, 224, 320, 240}, 300, 120, {0, 24, 1280, 550}, "right"},  // a work area's edge
    };
    for (const placement_case& c : cases) {
        SCOPED_TRACE(c.side);
        const screen_rect d = place_dialog(c.window, c.width, c.height, c.area);
        EXPECT_EQ(d.width, c.width);
        EXPECT_EQ(d.height, c.height);
        EXPECT_TRUE(inside(d, c.area)) << d.x << "," << d.y;
        const std::string side = c.side;
        if (side == "least") {
            // The window leaves 100 px on every side: in a corner of the screen the dialog
            // covers only (300 - 100) x (120 - 100) of it, less than anywhere else.
            EXPECT_EQ(cover(d, c.window), 200 * 20) << d.x << "," << d.y;
            continue;
        }
        EXPECT_EQ(cover(d, c.window), 0) << d.x << "," << d.y;
        if (side == "below")
            EXPECT_GE(d.y, c.window.y + c.window.height);
        else if (side == "right")
            EXPECT_GE(d.x, c.window.x + c.window.width);
        else if (side == "above")
            EXPECT_LE(d.y + d.height, c.window.y);
        else
            EXPECT_LE(d.x + d.width, c.window.x);
    }
    // Below and centred under the window when there is room.
    const screen_rect d = place_dialog({480, 200, 320, 240}, 300, 120, screen);
    EXPECT_EQ(d.x, 490);
}
