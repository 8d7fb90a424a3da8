// The display window on its own thread: size, first title, white image, drawing, titles, and
// closing by the program or by the user while the main thread still calls in.
#include <windows.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/window.h"
#include "tests/wine/check.h"

namespace {

constexpr int width = 64;
constexpr int height = 48;

struct running_window {
    window_handle* handle = nullptr;
    HWND hwnd = nullptr;
    std::thread thread;
    std::atomic<int> ready{0};

    bool start(const char* title)
    {
        thread = std::thread([this, title] {
            handle = window_create(width, height, "GRC0", title);
            ready = 1;
            if (handle)
                window_run(handle);
        });
        while (!ready)
            Sleep(1);
        hwnd = FindWindowA("GRC0", title);
        return handle && hwnd;
    }
    void finish()
    {
        thread.join();
        window_free(handle);
    }
};

// The colour the window shows at (x, y) of its client area.
COLORREF shown(HWND hwnd, int x, int y)
{
    const HDC dc = GetDC(hwnd);
    const COLORREF colour = GetPixel(dc, x, y);
    ReleaseDC(hwnd, dc);
    return colour;
}

// A w x h 24-bit frame of one colour, with the first stored row in another.
std::vector<unsigned char> solid_frame(int w, int h, COLORREF colour, COLORREF first_row,
                                      bitmap_info_header* header, bool top_down)
{
    *header = {};
    header->biSize = 40;
    header->biWidth = w;
    header->biHeight = top_down ? -h : h;
    header->biPlanes = 1;
    header->biBitCount = 24;
    const int64_t stride = dib_row_bytes(w, 24);
    std::vector<unsigned char> rows(size_t(stride * h), 0);
    for (int r = 0; r < h; r++)
        for (int x = 0; x < w; x++) {
            const COLORREF c = r == 0 ? first_row : colour;
            unsigned char* p = &rows[size_t(r * stride + x * 3)];
            p[0] = GetBValue(c);
            p[1] = GetGValue(c);
            p[2] = GetRValue(c);
        }
    return rows;
}

constexpr COLORREF white = RGB(255, 255, 255);
constexpr COLORREF red = RGB(255, 0, 0);
constexpr COLORREF blue = RGB(0, 0, 255);

void check_drawing()
{
    running_window w;
    if (!CHECK(w.start("Windows example")))
        return;
    RECT client;
    GetClientRect(w.hwnd, &client);
    CHECK(client.right >= width && client.bottom >= height);
    CHECK((GetWindowLongA(w.hwnd, GWL_STYLE) & WS_THICKFRAME) == 0);
    char title[100] = {};
    GetWindowTextA(w.hwnd, title, sizeof title);
    CHECK(std::strcmp(title, "Windows example") == 0);

    // White from the start.
    window_present(w.handle);
    CHECK(shown(w.hwnd, 0, 0) == white && shown(w.hwnd, width - 1, height - 1) == white);

    // A bottom-up frame: its first stored row is the picture's bottom row.
    bitmap_info_header header;
    std::vector<unsigned char> rows = solid_frame(width, height, red, blue, &header, false);
    window_draw_dib(w.handle, &header, rows.data());
    window_present(w.handle);
    CHECK(shown(w.hwnd, 10, 0) == red);
    CHECK(shown(w.hwnd, 10, height - 1) == blue);

    // A top-down frame: its first stored row is the top row.
    rows = solid_frame(width, height, red, blue, &header, true);
    window_draw_dib(w.handle, &header, rows.data());
    window_present(w.handle);
    CHECK(shown(w.hwnd, 10, 0) == blue);
    CHECK(shown(w.hwnd, 10, height - 1) == red);

    // A smaller frame covers the top-left only; the rest keeps the picture before.
    window_clear(w.handle);
    rows = solid_frame(16, 8, blue, blue, &header, false);
    window_draw_dib(w.handle, &header, rows.data());
    window_present(w.handle);
    CHECK(shown(w.hwnd, 15, 7) == blue);
    CHECK(shown(w.hwnd, 16, 8) == white && shown(w.hwnd, 40, 2) == white);

    // Frames that would need a colour table are not drawn.
    header.biBitCount = 8;
    window_draw_dib(w.handle, &header, rows.data());
    window_clear(w.handle);
    header.biBitCount = 24;

    // The window repaints from the image by itself.
    window_draw_dib(w.handle, &header, rows.data());
    InvalidateRect(w.hwnd, nullptr, FALSE);
    UpdateWindow(w.hwnd);
    Sleep(50);
    CHECK(shown(w.hwnd, 0, 0) == blue);

    // Titles are in place when the call returns.
    window_set_title(w.handle, "BITMAPINFOHEADER@00000000,00000028 [x] frame 0/1 ");
    GetWindowTextA(w.hwnd, title, sizeof title);
    CHECK(std::strcmp(title, "BITMAPINFOHEADER@00000000,00000028 [x] frame 0/1 ") == 0);
    window_raise(w.handle);

    CHECK(!window_closed(w.handle));
    window_close(w.handle);
    CHECK(window_closed(w.handle));
    CHECK(!IsWindow(w.hwnd));
    w.finish();
}

void check_closed_by_user()
{
    running_window w;
    if (!CHECK(w.start("closed by the user")))
        return;
    // The user closes the window (Alt+F4 sends the same) while playback goes on.
    CHECK(PostMessageA(w.hwnd, WM_CLOSE, 0, 0));
    // Wine with no window manager takes about 2 s to take a window down.
    for (int i = 0; i < 10000 && !window_closed(w.handle); i++)
        Sleep(1);

    CHECK(window_closed(w.handle));
    w.thread.join();

    // Everything the playback still calls is harmless now.
    bitmap_info_header header;
    std::vector<unsigned char> rows = solid_frame(width, height, red, red, &header, false);
    window_clear(w.handle);
    window_draw_dib(w.handle, &header, rows.data());
    window_present(w.handle);
    window_set_title(w.handle, "after close");
    window_raise(w.handle);
    window_close(w.handle);
    CHECK(window_closed(w.handle));
    window_free(w.handle);
}

}  // namespace

void check_window()
{
    check_drawing();
    check_closed_by_user();
}
