// Which display server the window and the dialogs share.
#include <gtest/gtest.h>

#include <string>

#include "platform/linux/session/display_server.h"

namespace {

std::string chosen(const char* sdl, const char* gdk, const char* x11, const char* wayland)
{
    const char* server = choose_display_server(sdl, gdk, x11, wayland);
    return server ? server : "none";
}

}  // namespace

TEST(DisplayServer, BothToolkitsFollowOneChoice)
{
    // A Wayland desktop: SDL's default, X11 through Xwayland, for both.
    EXPECT_EQ(chosen(nullptr, nullptr, ":0", "wayland-0"), "x11");
    EXPECT_EQ(chosen("", "", ":0", "wayland-0"), "x11");
    EXPECT_EQ(chosen(nullptr, nullptr, nullptr, "wayland-0"), "wayland");
    EXPECT_EQ(chosen(nullptr, nullptr, ":0", nullptr), "x11");
    EXPECT_EQ(chosen(nullptr, nullptr, nullptr, nullptr), "none");
    // The user's choice: SDL's first, then GTK's; lists are read in order, case aside.
    EXPECT_EQ(chosen("wayland", nullptr, ":0", "wayland-0"), "wayland");
    EXPECT_EQ(chosen("Wayland,x11", "x11", ":0", "wayland-0"), "wayland");
    EXPECT_EQ(chosen(nullptr, "wayland", ":0", "wayland-0"), "wayland");
    EXPECT_EQ(chosen(nullptr, "broadway,x11", nullptr, "wayland-0"), "x11");
    // GTK's "any" leaves SDL's default; a driver SDL was told that is neither leaves both alone.
    EXPECT_EQ(chosen(nullptr, "*,wayland", ":0", "wayland-0"), "x11");
    EXPECT_EQ(chosen("dummy", nullptr, ":0", "wayland-0"), "none");
}
