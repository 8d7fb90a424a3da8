#include "platform/linux/session/display_server.h"

#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

bool set(const char* value)
{
    return value && *value;
}

// The first of "x11" and "wayland" in a comma-separated list of backends, as both toolkits read
// such lists (in order, case aside); null if neither comes before an entry meaning "any".
const char* first_known(const char* list)
{
    while (*list) {
        const char* end = std::strchr(list, ',');
        const size_t length = end ? size_t(end - list) : std::strlen(list);
        for (const char* name : {"x11", "wayland"})
            if (length == std::strlen(name) && strncasecmp(list, name, length) == 0)
                return name;
        if (length == 1 && *list == '*')
            return nullptr;
        list += end ? length + 1 : length;
    }
    return nullptr;
}

}  // namespace

const char* choose_display_server(const char* sdl_driver, const char* gdk_backend,
                                  const char* x11_display, const char* wayland_display)
{
    // A backend the user named is followed by both toolkits; the video window's first.
    if (set(sdl_driver))
        return first_known(sdl_driver);
    if (set(gdk_backend))
        if (const char* chosen = first_known(gdk_backend))
            return chosen;
    // Otherwise SDL2's own order, which puts X11 first.
    if (set(x11_display))
        return "x11";
    if (set(wayland_display))
        return "wayland";
    return nullptr;
}

const char* display_server()
{
    return choose_display_server(std::getenv("SDL_VIDEODRIVER"), std::getenv("GDK_BACKEND"),
                                 std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"));
}
