// The SDL window service on a real X server: the window is made and run on a thread of its own
// as the display module does, and looked at from outside with xwininfo, xprop and import.
#include <gtest/gtest.h>

#include <SDL.h>
#include <X11/Xlib.h>
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/window.h"

namespace {

using namespace std::chrono_literals;

// Output of a shell command, empty when it fails.
std::string run(const std::string& command)
{
    std::string out;
    FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe)
        return out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0)
        out.append(buffer, n);
    return pclose(pipe) == 0 ? out : std::string();
}

std::string unique_title(const char* what)
{
    return std::string("avistep ") + what + " " + std::to_string(getpid());
}

// The X window id of the top-level window with exactly this title, or "" when there is none.
std::string x_window_id(const std::string& title)
{
    std::string info = run("xwininfo -name '" + title + "'");
    size_t at = info.find("Window id: ");
    if (at == std::string::npos)
        return "";
    at += 11;
    return info.substr(at, info.find(' ', at) - at);
}

int xwininfo_value(const std::string& id, const char* field)
{
    std::string info = run("xwininfo -id " + id);
    size_t at = info.find(field);
    return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + std::string(field).size());
}

// The window's content as 0xRRGGBB values, row by row; empty when it cannot be read.
std::vector<uint32_t> read_pixels(const std::string& id, int width, int height)
{
    std::string raw = run("import -silent -window " + id + " -depth 8 rgb:-");
    std::vector<uint32_t> pixels;
    if (raw.size() != size_t(width) * height * 3)
        return pixels;
    for (size_t i = 0; i < raw.size(); i += 3)
        pixels.push_back(uint32_t(uint8_t(raw[i])) << 16 | uint32_t(uint8_t(raw[i + 1])) << 8 |
                         uint8_t(raw[i + 2]));
    return pixels;
}

// Sends the window what a window manager sends when the user clicks its close button. Xlib is
// loaded here rather than linked: only this test talks to the X server directly.
bool send_window_manager_close(const std::string& id)
{
    void* x11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (!x11 || id.empty())
        return false;
    auto open_display = reinterpret_cast<Display* (*)(const char*)>(dlsym(x11, "XOpenDisplay"));
    auto intern_atom =
        reinterpret_cast<Atom (*)(Display*, const char*, Bool)>(dlsym(x11, "XInternAtom"));
    auto send_event = reinterpret_cast<Status (*)(Display*, Window, Bool, long, XEvent*)>(
        dlsym(x11, "XSendEvent"));
    auto sync = reinterpret_cast<int (*)(Display*, Bool)>(dlsym(x11, "XSync"));
    auto close_display = reinterpret_cast<int (*)(Display*)>(dlsym(x11, "XCloseDisplay"));
    Display* display = open_display && intern_atom && send_event && sync && close_display
                           ? open_display(nullptr)
                           : nullptr;
    if (!display)
        return false;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = Window(std::stoul(id, nullptr, 0));
    event.xclient.message_type = intern_atom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(intern_atom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    Status sent = send_event(display, event.xclient.window, False, NoEventMask, &event);
    sync(display, False);
    close_display(display);
    return sent != 0;
}

template <typename Condition>
bool wait_until(Condition condition, std::chrono::milliseconds limit = 3000ms)
{
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// A window run as the display module runs it: created on its own thread, then its events.
struct display_thread {
    window_handle* handle = nullptr;
    std::promise<window_handle*> created;
    std::atomic<bool> run_returned{false};
    std::thread thread;

    bool open(int width, int height, const std::string& title,
              std::chrono::milliseconds delay_before_run = 0ms)
    {
        thread = std::thread([=, this] {
            window_handle* window = window_create(width, height, "GRC0", title.c_str());
            created.set_value(window);
            if (window) {
                std::this_thread::sleep_for(delay_before_run);
                window_run(window);
            }
            run_returned = true;
        });
        handle = created.get_future().get();
        return handle != nullptr;
    }

    ~display_thread()
    {
        if (handle)
            window_close(handle);
        if (thread.joinable())
            thread.join();
        window_free(handle);
    }
};

// A 24-bit top-down DIB of four coloured quadrants; the pixel rows follow the header.
struct quadrant_frame {
    bitmap_info_header header{};
    std::vector<unsigned char> rows;
    static constexpr uint32_t colours[4] = {0xFF0000, 0x00FF00, 0x0000FF, 0x202020};

    quadrant_frame(int width, int height)
    {
        header.biSize = sizeof(header);
        header.biWidth = width;
        header.biHeight = -height;
        header.biPlanes = 1;
        header.biBitCount = 24;
        int64_t row_bytes = dib_row_bytes(width, 24);
        rows.assign(size_t(row_bytes * height), 0);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                uint32_t c = expected(x, y, width, height);
                unsigned char* p = rows.data() + y * row_bytes + x * 3;
                p[0] = uint8_t(c);
                p[1] = uint8_t(c >> 8);
                p[2] = uint8_t(c >> 16);
            }
    }

    static uint32_t expected(int x, int y, int width, int height)
    {
        return colours[(y >= height / 2) * 2 + (x >= width / 2)];
    }
};

class WindowTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (!std::getenv("DISPLAY"))
            GTEST_SKIP() << "needs an X server";
    }
};

}  // namespace

TEST_F(WindowTest, OpensWhiteAtTheClientSizeWithTitleAndClass)
{
    display_thread display;
    const std::string title = unique_title("first");
    ASSERT_TRUE(display.open(320, 240, title));
    std::string id = x_window_id(title);
    ASSERT_FALSE(id.empty());
    EXPECT_EQ(xwininfo_value(id, "Width: "), 320);
    EXPECT_EQ(xwininfo_value(id, "Height: "), 240);
    EXPECT_NE(run("xprop -id " + id + " WM_CLASS").find("\"GRC0\""), std::string::npos);
    // Not resizable: the size hints pin the window at its size.
    std::string hints = run("xprop -id " + id + " WM_NORMAL_HINTS");
    EXPECT_NE(hints.find("minimum size: 320 by 240"), std::string::npos) << hints;
    EXPECT_NE(hints.find("maximum size: 320 by 240"), std::string::npos) << hints;

    auto pixels = read_pixels(id, 320, 240);
    ASSERT_EQ(pixels.size(), 320u * 240u);
    for (uint32_t p : pixels)
        ASSERT_EQ(p, 0xFFFFFFu);

    // The title is on the X server by the time the call returns, UTF-8 included.
    const std::string next = unique_title("frame 7 \xE3\x83\x95");
    window_set_title(display.handle, next.c_str());
    EXPECT_NE(run("xprop -id " + id + " _NET_WM_NAME").find(next), std::string::npos);
    EXPECT_FALSE(window_closed(display.handle));
}

TEST_F(WindowTest, ShowsDrawnFramesAndRepaintsThemWhenExposed)
{
    display_thread display;
    const std::string title = unique_title("frames");
    ASSERT_TRUE(display.open(64, 48, title));
    std::string id = x_window_id(title);
    ASSERT_FALSE(id.empty());

    quadrant_frame frame(64, 48);
    window_draw_dib(display.handle, &frame.header, frame.rows.data());
    window_present(display.handle);
    // Requests run in order on the display thread: once the title is set the present is done.
    window_set_title(display.handle, title.c_str());
    auto pixels = read_pixels(id, 64, 48);
    ASSERT_EQ(pixels.size(), 64u * 48u);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            ASSERT_EQ(pixels[y * 64 + x], quadrant_frame::expected(x, y, 64, 48)) << x << "," << y;

    // Unmapping loses the window's content; mapping it again must repaint the frame.
    run("xdotool windowunmap --sync " + id);
    run("xdotool windowmap --sync " + id);
    EXPECT_TRUE(wait_until([&] { return read_pixels(id, 64, 48) == pixels; }));

    // A cleared image with a smaller frame: the frame top-left, white elsewhere.
    quadrant_frame small(16, 8);
    window_clear(display.handle);
    window_draw_dib(display.handle, &small.header, small.rows.data());
    window_present(display.handle);
    window_set_title(display.handle, title.c_str());
    pixels = read_pixels(id, 64, 48);
    ASSERT_EQ(pixels.size(), 64u * 48u);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) {
            uint32_t want = x < 16 && y < 8 ? quadrant_frame::expected(x, y, 16, 8) : 0xFFFFFF;
            ASSERT_EQ(pixels[y * 64 + x], want) << x << "," << y;
        }
}

TEST_F(WindowTest, RequestsMadeBeforeTheEventLoopStartsAreKept)
{
    display_thread display;
    const std::string title = unique_title("early");
    ASSERT_TRUE(display.open(40, 30, title, 300ms));
    quadrant_frame frame(40, 30);
    window_draw_dib(display.handle, &frame.header, frame.rows.data());
    window_present(display.handle);
    window_raise(display.handle);
    const std::string next = unique_title("early title");
    window_set_title(display.handle, next.c_str());  // waits for the loop, does not deadlock
    std::string id = x_window_id(next);
    ASSERT_FALSE(id.empty());
    auto pixels = read_pixels(id, 40, 30);
    ASSERT_EQ(pixels.size(), 40u * 30u);
    EXPECT_EQ(pixels[0], quadrant_frame::colours[0]);
    EXPECT_EQ(pixels[40 * 30 - 1], quadrant_frame::colours[3]);
}

TEST_F(WindowTest, CloseFromTheMainThreadEndsTheEventLoop)
{
    display_thread display;
    const std::string title = unique_title("close");
    ASSERT_TRUE(display.open(50, 40, title));
    ASSERT_FALSE(x_window_id(title).empty());
    window_close(display.handle);
    EXPECT_TRUE(window_closed(display.handle));
    EXPECT_TRUE(wait_until([&] { return display.run_returned.load(); }));
    EXPECT_TRUE(x_window_id(title).empty());
    window_close(display.handle);  // already closed: returns at once
}

TEST_F(WindowTest, UserCloseEndsTheLoopAndLeavesCallsHarmless)
{
    // Closed from the window manager's close button, a few times over since the close races
    // with SDL's wake-ups in flight, and by a quit event.
    for (bool by_quit : {false, false, false, true}) {
        display_thread display;
        const std::string title = unique_title(by_quit ? "quit" : "user close");
        ASSERT_TRUE(display.open(50, 40, title));
        ASSERT_FALSE(x_window_id(title).empty());
        if (by_quit) {
            SDL_Event event{};
            event.type = SDL_QUIT;
            ASSERT_EQ(SDL_PushEvent(&event), 1);
        } else {
            // A close meant for some other window changes nothing.
            SDL_Event event{};
            event.type = SDL_WINDOWEVENT;
            event.window.event = SDL_WINDOWEVENT_CLOSE;
            event.window.windowID = 0x7FFFFFFF;
            ASSERT_EQ(SDL_PushEvent(&event), 1);
            window_set_title(display.handle, title.c_str());
            EXPECT_FALSE(window_closed(display.handle));
            ASSERT_TRUE(send_window_manager_close(x_window_id(title)));
        }
        ASSERT_TRUE(wait_until([&] { return window_closed(display.handle); }));
        EXPECT_TRUE(wait_until([&] { return display.run_returned.load(); }));
        EXPECT_TRUE(x_window_id(title).empty());

        quadrant_frame frame(50, 40);
        window_clear(display.handle);
        window_draw_dib(display.handle, &frame.header, frame.rows.data());
        window_present(display.handle);
        window_raise(display.handle);
        window_set_title(display.handle, "after close");
        window_close(display.handle);
        EXPECT_TRUE(window_closed(display.handle));
    }
}

TEST(Window, RefusesAbsurdSizesAndMissingDisplays)
{
    EXPECT_EQ(window_create(0, 240, "GRC0", "zero"), nullptr);
    EXPECT_EQ(window_create(320, -1, "GRC0", "negative"), nullptr);
    EXPECT_EQ(window_create(16385, 16, "GRC0", "too wide"), nullptr);
    EXPECT_EQ(window_create(10000, 10000, "GRC0", "too large"), nullptr);

    const char* display = std::getenv("DISPLAY");
    const std::string saved = display ? display : "";
    unsetenv("DISPLAY");
    EXPECT_EQ(window_create(32, 32, "GRC0", "no display"), nullptr);
    setenv("DISPLAY", ":9999", 1);  // no server there
    EXPECT_EQ(window_create(32, 32, "GRC0", "unreachable display"), nullptr);
    if (saved.empty()) {
        unsetenv("DISPLAY");
        return;
    }
    setenv("DISPLAY", saved.c_str(), 1);
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    EXPECT_EQ(window_create(32, 32, "GRC0", "dummy driver"), nullptr);
    unsetenv("SDL_VIDEODRIVER");

    // The service still works afterwards.
    display_thread good;
    EXPECT_TRUE(good.open(32, 32, unique_title("after refusals")));
}
