#include "display/display.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

#include "platform/window.h"

namespace {

constexpr const char* window_class_name = "GRC0";
constexpr const char* first_title = "Windows example";

// Shared by the main thread and the display thread. The window handle is published by the
// display thread before display_ready is raised and read by the main thread only after.
struct display_state {
    int display_width = 0;
    int display_height = 0;
    window_handle* display_window = nullptr;
    std::unique_ptr<bitmap_info_header> frame_header;
    std::atomic<int> display_ready{0};
    std::thread display_thread;
};

display_state display;

void display_thread_main()
{
    display.display_window =
        window_create(display.display_width, display.display_height, window_class_name, first_title);
    display.display_ready.store(1, std::memory_order_release);
    if (display.display_window)
        window_run(display.display_window);
}

}  // namespace

int open_display(int width, int height)
{
    if (display.display_thread.joinable())
        return display.display_window != nullptr;
    display.display_width = width;
    display.display_height = height;
    display.frame_header = std::make_unique<bitmap_info_header>();
    display.display_ready.store(0);
    display.display_thread = std::thread(display_thread_main);
    // The window is made in a few milliseconds; yielding keeps the wait from taking a core.
    while (!display.display_ready.load(std::memory_order_acquire))
        std::this_thread::yield();
    return display.display_window != nullptr;
}

void clear_frame()
{
    if (display.display_window)
        window_clear(display.display_window);
}

const void* set_frame_header(const bitmap_info_header* frame)
{
    if (display.frame_header)
        std::memcpy(display.frame_header.get(), frame, sizeof(bitmap_info_header));
    return reinterpret_cast<const unsigned char*>(frame) + sizeof(bitmap_info_header);
}

void draw_frame_bits(const void* pixels)
{
    if (display.display_window && display.frame_header)
        window_draw_dib(display.display_window, display.frame_header.get(), pixels);
}

void present_frame()
{
    if (display.display_window)
        window_present(display.display_window);
}

void set_display_title(const char* text)
{
    if (display.display_window)
        window_set_title(display.display_window, text);
}

void raise_display()
{
    if (display.display_window)
        window_raise(display.display_window);
}

bool display_closed()
{
    return display.display_window && window_closed(display.display_window);
}

void close_display()
{
    if (!display.display_thread.joinable())
        return;
    // The thread only ends once its window is gone; without a window it has nothing to wait for.
    if (display.display_window)
        window_close(display.display_window);
    display.display_thread.join();
    if (display.display_window)
        window_free(display.display_window);
    display.display_window = nullptr;
    display.frame_header.reset();
}
