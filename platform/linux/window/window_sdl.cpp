// The window service over SDL2: the display thread owns the SDL window and its event loop; the
// main thread writes the off-screen image under a mutex and hands every other request to the
// display thread, waking it with a user event. The window is painted through its window
// surface, which needs no GL and works the same on a real X server and on Xvfb. When that
// surface is 32-bit XRGB (as X servers of depth 24 give) it is the off-screen image itself: a
// frame is converted once, from the DIB straight into what the X server is sent.
#include "platform/window.h"

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/linux/session/display_server.h"
#include "platform/linux/window/dib_blit.h"
#include "platform/linux/window/sdl_keys.h"
#include "platform/linux/window/window_place.h"
#include "platform/linux/window/x11_wakeup_errors.h"
#include "platform/common/window_keys.h"

namespace {

// Keeps the image, and the window surface of the same size, within reason.
constexpr int max_side = 16384;
constexpr int64_t max_image_bytes = int64_t(256) << 20;
constexpr uint32_t white = 0x00FFFFFF;
// Requests are also looked at this often, so one whose wake-up event was lost still runs.
constexpr int idle_wait_ms = 250;

}  // namespace

struct window_handle {
    int width = 0;
    int height = 0;
    SDL_Window* sdl_window = nullptr;  // display thread only; null once destroyed
    Uint32 window_id = 0;

    std::mutex image_lock;
    std::vector<uint32_t> image;  // XRGB, width x height, guarded by image_lock
    // The window surface's pixels when they can serve as the image (XRGB, rows packed), else
    // null; set by the display thread under image_lock.
    uint32_t* surface_pixels = nullptr;

    std::atomic<bool> wake_pending{false};  // a wake-up event is queued and not yet handled
    std::atomic<bool> present_pending{false};
    std::atomic<bool> raise_pending{false};

    std::mutex request_lock;  // guards everything down to `closed`
    std::condition_variable request_done;
    uint64_t requests_made = 0;
    uint64_t requests_done = 0;
    bool title_pending = false;
    std::string title;
    bool close_pending = false;
    std::atomic<bool> closed{false};
};

namespace {

// SDL's own messages would land in the program's console output.
void drop_sdl_log(void*, int, SDL_LogPriority, const char*) {}

Uint32 wake_event_type()
{
    static const Uint32 type = SDL_RegisterEvents(1);
    return type;
}

bool size_acceptable(int width, int height)
{
    return width > 0 && height > 0 && width <= max_side && height <= max_side &&
           int64_t(width) * height * 4 <= max_image_bytes;
}

// The X11 backend takes the WM_CLASS of its windows from the environment when video starts.
void use_window_class(const char* class_name)
{
    if (!class_name || !*class_name)
        return;
    const char* current = std::getenv("SDL_VIDEO_X11_WMCLASS");
    if (!current || std::strcmp(current, class_name) != 0)
        setenv("SDL_VIDEO_X11_WMCLASS", class_name, 1);
}

bool start_video()
{
    // Without a display server to reach there is nothing to show; asking SDL anyway would let
    // the libraries it tries print their complaints on the console.
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    bool has_x11 = x11 && *x11;
    bool has_wayland = wayland && *wayland;
    if (!has_x11 && !has_wayland)
        return false;
    // The display server the dialogs use too; should it not answer, the other drivers have
    // nothing to offer. (SDL_VIDEODRIVER in the environment still decides over this.)
    if (const char* server = display_server())
        SDL_SetHint(SDL_HINT_VIDEODRIVER, server);
    SDL_LogSetOutputFunction(drop_sdl_log, nullptr);
    // Ctrl+C and friends belong to the console, not to SDL's quit event.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // Before SDL's X11 driver starts: it chains its own handler to this one and puts this one
    // back when it stops, while errors of its last requests are still being reported. Not
    // while it runs, when the handler in place is SDL's, which already chains to this one.
    if (has_x11 && !SDL_WasInit(SDL_INIT_VIDEO))
        ignore_stale_wakeup_errors();
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0)
        return false;
    // Without a display SDL quietly falls back to drivers that show nothing.
    const char* driver = SDL_GetCurrentVideoDriver();
    if (!driver || std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0) {
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return false;
    }
    // Otherwise the first window surface probes OpenGL with a hidden test window (~180 ms on
    // Xvfb); the X server's shared-memory images are plenty for one video-sized picture. Other
    // drivers (Wayland) have no window surface of their own and need the accelerated one.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, std::strcmp(driver, "x11") == 0 ? "0" : "1");
    wake_event_type();
    return true;
}

bool surface_is_image(const window_handle* window, const SDL_Surface* surface)
{
    return surface->format->format == SDL_PIXELFORMAT_RGB888 && !SDL_MUSTLOCK(surface) &&
           surface->w == window->width && surface->h == window->height &&
           surface->pitch == window->width * 4;
}

// Display thread, under image_lock: draws into the window surface from now on if it can serve as
// the image, else into `image`. A surface made anew (which SDL does only if the window's size
// changed) starts white.
void use_surface(window_handle* window, SDL_Surface* surface)
{
    uint32_t* pixels =
        surface && surface_is_image(window, surface) ? static_cast<uint32_t*>(surface->pixels)
                                                     : nullptr;
    if (pixels == window->surface_pixels)
        return;
    if (pixels)
        std::fill(pixels, pixels + size_t(window->width) * size_t(window->height), white);
    if (!pixels && window->image.empty())
        window->image.assign(size_t(window->width) * size_t(window->height), white);
    window->surface_pixels = pixels;
}

// Where the main thread draws; under image_lock.
uint32_t* image_of(window_handle* window)
{
    return window->surface_pixels ? window->surface_pixels : window->image.data();
}

// Display thread: copies the off-screen image to the window.
void repaint(window_handle* window)
{
    if (!window->sdl_window)
        return;
    SDL_Surface* surface = SDL_GetWindowSurface(window->sdl_window);
    if (!surface)
        return;
    std::lock_guard<std::mutex> lock(window->image_lock);
    use_surface(window, surface);
    // Held while the X server is sent the surface, so a frame is never drawn into it halfway.
    if (window->surface_pixels) {
        SDL_UpdateWindowSurface(window->sdl_window);
        return;
    }
    if (SDL_MUSTLOCK(surface) && SDL_LockSurface(surface) != 0)
        return;
    int columns = std::min(window->width, surface->w);
    int rows = std::min(window->height, surface->h);
    SDL_ConvertPixels(columns, rows, SDL_PIXELFORMAT_RGB888, window->image.data(),
                      window->width * 4, surface->format->format, surface->pixels,
                      surface->pitch);
    if (SDL_MUSTLOCK(surface))
        SDL_UnlockSurface(surface);
    SDL_UpdateWindowSurface(window->sdl_window);
}

// Display thread: destroys the window and releases every thread waiting on a request.
void destroy_window(window_handle* window)
{
    if (window->sdl_window) {
        SDL_DestroyWindow(window->sdl_window);
        window->sdl_window = nullptr;
        forget_window_rect();
    }
    std::lock_guard<std::mutex> lock(window->request_lock);
    window->closed = true;
    window->requests_done = window->requests_made;
    window->request_done.notify_all();
}

// Display thread: carries out what the main thread has asked for since the last call.
void handle_requests(window_handle* window)
{
    // Cleared before the requests are read: one made after this point queues a new wake-up.
    window->wake_pending = false;
    if (window->present_pending.exchange(false))
        repaint(window);
    if (window->raise_pending.exchange(false))
        SDL_RaiseWindow(window->sdl_window);

    std::unique_lock<std::mutex> lock(window->request_lock);
    uint64_t taken = window->requests_made;
    if (taken == window->requests_done)
        return;
    bool set_title = window->title_pending;
    bool close = window->close_pending;
    std::string title;
    if (set_title)
        title.swap(window->title);
    window->title_pending = false;
    lock.unlock();

    if (set_title)
        SDL_SetWindowTitle(window->sdl_window, title.c_str());
    if (close) {
        destroy_window(window);
        return;
    }
    lock.lock();
    window->requests_done = taken;
    window->request_done.notify_all();
}

// Main thread: makes sure the display thread wakes up to look at its requests.
void wake(window_handle* window)
{
    if (window->wake_pending.exchange(true))
        return;
    SDL_Event event{};
    event.type = wake_event_type();
    if (SDL_PushEvent(&event) != 1)
        window->wake_pending = false;  // the periodic look still finds the request
}

// Main thread: hands a title or close request over and waits until it is done or the window
// has gone.
void request_and_wait(window_handle* window, const char* title, bool close)
{
    std::unique_lock<std::mutex> lock(window->request_lock);
    if (window->closed)
        return;
    if (title) {
        window->title = title;
        window->title_pending = true;
    }
    if (close)
        window->close_pending = true;
    uint64_t ticket = ++window->requests_made;
    lock.unlock();
    wake(window);
    lock.lock();
    window->request_done.wait(lock,
                              [&] { return window->closed || window->requests_done >= ticket; });
}

bool is_close_event(const window_handle* window, const SDL_Event& event)
{
    if (event.type == SDL_QUIT)
        return true;
    return event.type == SDL_WINDOWEVENT && event.window.windowID == window->window_id &&
           event.window.event == SDL_WINDOWEVENT_CLOSE;
}

}  // namespace

window_handle* window_create(int width, int height, const char* class_name, const char* title)
{
    if (!size_acceptable(width, height))
        return nullptr;
    use_window_class(class_name);
    if (!start_video())
        return nullptr;

    auto* window = new window_handle;
    window->width = width;
    window->height = height;
    int x = 0;
    int y = 0;
    opening_position(width, height, &x, &y);
    window->sdl_window = SDL_CreateWindow(title ? title : "", x, y, width, height, 0);
    if (!window->sdl_window || !SDL_GetWindowSurface(window->sdl_window)) {
        if (window->sdl_window)
            SDL_DestroyWindow(window->sdl_window);
        delete window;
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return nullptr;
    }
    window->window_id = SDL_GetWindowID(window->sdl_window);
    {
        std::lock_guard<std::mutex> lock(window->image_lock);
        use_surface(window, SDL_GetWindowSurface(window->sdl_window));
    }
    publish_window_rect(window->sdl_window);
    repaint(window);
    SDL_RaiseWindow(window->sdl_window);
    return window;
}

void window_run(window_handle* window)
{
    if (!window)
        return;
    while (window->sdl_window) {
        SDL_Event event;
        if (SDL_WaitEventTimeout(&event, idle_wait_ms)) {
            if (is_close_event(window, event)) {
                destroy_window(window);
                break;
            }
            if (event.type == SDL_WINDOWEVENT && event.window.windowID == window->window_id &&
                event.window.event == SDL_WINDOWEVENT_EXPOSED)
                repaint(window);
            // Moved by the user or placed by a window manager: the dialogs keep clear of it.
            if (event.type == SDL_WINDOWEVENT && event.window.windowID == window->window_id)
                publish_window_rect(window->sdl_window);
            // The window's keys are console keys.
            sdl_event_keys(event, window_key_typed);
        }
        handle_requests(window);
    }
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

void window_free(window_handle* window)
{
    if (!window)
        return;
    // A window whose event loop never ran still holds its SDL window and the video subsystem.
    if (window->sdl_window) {
        SDL_DestroyWindow(window->sdl_window);
        forget_window_rect();
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }
    delete window;
}

void window_clear(window_handle* window)
{
    if (!window || window->closed)
        return;
    std::lock_guard<std::mutex> lock(window->image_lock);
    uint32_t* image = image_of(window);
    std::fill(image, image + size_t(window->width) * size_t(window->height), white);
}

void window_draw_dib(window_handle* window, const bitmap_info_header* header, const void* pixels)
{
    if (!window || !header || window->closed)
        return;
    std::lock_guard<std::mutex> lock(window->image_lock);
    dib_blit(*header, pixels, image_of(window), window->width, window->height);
}

void window_present(window_handle* window)
{
    if (!window || window->closed || window->present_pending.exchange(true))
        return;
    wake(window);
}

void window_set_title(window_handle* window, const char* title)
{
    if (window)
        request_and_wait(window, title ? title : "", false);
}

void window_raise(window_handle* window)
{
    if (!window || window->closed || window->raise_pending.exchange(true))
        return;
    wake(window);
}

void window_close(window_handle* window)
{
    if (window)
        request_and_wait(window, nullptr, true);
}

bool window_closed(window_handle* window)
{
    return !window || window->closed;
}
