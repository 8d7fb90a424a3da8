// Keys typed into the video window give the codes the terminal gives for the same keys.
#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "platform/linux/window/sdl_keys.h"

namespace {

using codes = std::vector<std::pair<int, int>>;

codes keys_of(const SDL_Event& event)
{
    codes got;
    sdl_event_keys(event, [&](int code, int extended) { got.emplace_back(code, extended); });
    return got;
}

codes press(SDL_Keycode sym, Uint16 mod = KMOD_NONE)
{
    SDL_Event event{};
    event.type = SDL_KEYDOWN;
    event.key.keysym.sym = sym;
    event.key.keysym.mod = mod;
    return keys_of(event);
}

codes text(const char* typed)
{
    SDL_Event event{};
    event.type = SDL_TEXTINPUT;
    std::strncpy(event.text.text, typed, sizeof event.text.text - 1);
    return keys_of(event);
}

}  // namespace

TEST(SdlKeys, GiveTheTerminalsCodes)
{
    EXPECT_EQ(press(SDLK_UP), (codes{{224, 72}}));
    EXPECT_EQ(press(SDLK_LEFT, KMOD_LCTRL), (codes{{224, 75}}));  // modifiers change no arrow
    EXPECT_EQ(press(SDLK_F1), (codes{{0, 59}}));
    EXPECT_EQ(press(SDLK_F12), (codes{{224, 134}}));
    EXPECT_EQ(press(SDLK_DELETE), (codes{{224, 83}}));
    EXPECT_EQ(press(SDLK_KP_8), (codes{{224, 72}}));               // Num Lock off
    EXPECT_EQ(press(SDLK_KP_8, KMOD_NUM), codes{});                // on: a text event follows
    EXPECT_EQ(press(SDLK_RETURN), (codes{{13, 0}}));
    EXPECT_EQ(press(SDLK_ESCAPE), (codes{{27, 0}}));
    EXPECT_EQ(press(SDLK_BACKSPACE), (codes{{8, 0}}));
    EXPECT_EQ(press(SDLK_TAB, KMOD_LSHIFT), (codes{{0, 15}}));
    EXPECT_EQ(press(SDLK_c, KMOD_LCTRL), (codes{{3, 0}}));         // Ctrl+C is a key here
    EXPECT_EQ(press(SDLK_c), codes{});                             // the text event has it
    EXPECT_EQ(press(SDLK_LSHIFT, KMOD_LSHIFT), codes{});           // modifiers alone: nothing
    EXPECT_EQ(press(SDLK_LCTRL, KMOD_LCTRL), codes{});
    EXPECT_EQ(text("yN"), (codes{{'y', 0}, {'N', 0}}));
    EXPECT_EQ(text("\xc3\xa9"), (codes{{'?', 0}}));                // as from a UTF-8 terminal
}
