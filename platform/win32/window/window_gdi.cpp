// The display window over the Windows user interface and GDI: a memory device context holds the
// off-screen image, which the main thread draws into and both threads copy to the window.
#include "platform/window.h"

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>

#include "platform/win32/window/win32_keys.h"
#include "platform/win32/window/window_place.h"

#ifndef _WIN64
static_assert(sizeof(WNDCLASSEXA) == 48);
#endif
static_assert(sizeof(BITMAPINFOHEADER) == 40 && sizeof(bitmap_info_header) == 40);
static_assert(offsetof(bitmap_info_header, biWidth) == offsetof(BITMAPINFOHEADER, biWidth) &&
              offsetof(bitmap_info_header, biHeight) == offsetof(BITMAPINFOHEADER, biHeight) &&
              offsetof(bitmap_info_header, biPlanes) == offsetof(BITMAPINFOHEADER, biPlanes) &&
              offsetof(bitmap_info_header, biBitCount) == offsetof(BITMAPINFOHEADER, biBitCount) &&
              offsetof(bitmap_info_header, biCompression) ==
                  offsetof(BITMAPINFOHEADER, biCompression) &&
              offsetof(bitmap_info_header, biSizeImage) == offsetof(BITMAPINFOHEADER, biSizeImage) &&
              offsetof(bitmap_info_header, biClrUsed) == offsetof(BITMAPINFOHEADER, biClrUsed) &&
              offsetof(bitmap_info_header, biClrImportant) ==
                  offsetof(BITMAPINFOHEADER, biClrImportant));

struct window_handle {
    int width = 0;
    int height = 0;
    HWND hwnd = nullptr;
    // The off-screen image. The main thread draws into it while the display thread repaints
    // from it and, when the window goes, deletes it: every use holds image_lock.
    CRITICAL_SECTION image_lock;
    HDC memdc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ first_bitmap = nullptr;
    // Raised by WM_DESTROY, whoever closed the window; the handle itself lives on until
    // window_free, so the main thread may still call in.
    std::atomic<bool> closed{false};
};

namespace {

// Posted by the main thread: the display thread brings the window to the front.
constexpr UINT message_take_keyboard = WM_APP + 1;

// Display thread: makes the window the foreground window with the keyboard focus. The system
// lets a program take the foreground only while it holds the user's last input, and that went
// to the console, which another program runs: the window's thread shares the foreground
// thread's input state for the moment it takes it.
void take_keyboard(HWND hwnd)
{
    const DWORD own = GetCurrentThreadId();
    const HWND front = GetForegroundWindow();
    const DWORD other = front ? GetWindowThreadProcessId(front, nullptr) : 0;
    const bool attached = other != 0 && other != own && AttachThreadInput(own, other, TRUE);
    SetForegroundWindow(hwnd);
    SetFocus(hwnd);
    if (attached)
        AttachThreadInput(own, other, FALSE);
}

class image_guard {
public:
    explicit image_guard(window_handle* window) : lock_(&window->image_lock)
    {
        EnterCriticalSection(lock_);
    }
    ~image_guard() { LeaveCriticalSection(lock_); }
    image_guard(const image_guard&) = delete;
    image_guard& operator=(const image_guard&) = delete;

private:
    CRITICAL_SECTION* lock_;
};

void make_image(window_handle* window, HWND hwnd)
{
    const HDC dc = GetDC(hwnd);
    image_guard guard(window);
    window->memdc = CreateCompatibleDC(dc);
    window->bitmap = CreateCompatibleBitmap(dc, window->width, window->height);
    if (window->memdc && window->bitmap) {
        window->first_bitmap = SelectObject(window->memdc, window->bitmap);
        PatBlt(window->memdc, 0, 0, window->width, window->height, WHITENESS);
    }
    ReleaseDC(hwnd, dc);
}

void free_image(window_handle* window)
{
    image_guard guard(window);
    if (window->memdc && window->first_bitmap)
        SelectObject(window->memdc, window->first_bitmap);
    if (window->memdc)
        DeleteDC(window->memdc);
    if (window->bitmap)
        DeleteObject(window->bitmap);
    window->memdc = nullptr;
    window->bitmap = nullptr;
    window->first_bitmap = nullptr;
}

void paint(window_handle* window, HWND hwnd)
{
    PAINTSTRUCT ps;
    const HDC dc = BeginPaint(hwnd, &ps);
    {
        image_guard guard(window);
        if (window->memdc)
            BitBlt(dc, 0, 0, window->width, window->height, window->memdc, 0, 0, SRCCOPY);
    }
    // The system widens a caption window narrower than its minimum (a small video's), so the
    // client area can outgrow the image: the rest is white, not what was on the screen.
    RECT client;
    GetClientRect(hwnd, &client);
    if (client.right > window->width)
        PatBlt(dc, window->width, 0, client.right - window->width, client.bottom, WHITENESS);
    if (client.bottom > window->height)
        PatBlt(dc, 0, window->height, window->width, client.bottom - window->height, WHITENESS);
    EndPaint(hwnd, &ps);
}

LRESULT CALLBACK display_wndproc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lparam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, LONG_PTR(create->lpCreateParams));
    }
    auto* window = reinterpret_cast<window_handle*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!window)
        return DefWindowProcA(hwnd, message, wparam, lparam);
    switch (message) {
    case WM_CREATE:
        make_image(window, hwnd);
        publish_window_rect(hwnd);
        return 0;
    case WM_MOVE:
    case WM_SIZE:
        publish_window_rect(hwnd);
        return DefWindowProcA(hwnd, message, wparam, lparam);
    case WM_CHAR:
    case WM_SYSCHAR:
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        // The window's keys are console keys.
        if (take_key_message(message, wparam, lparam))
            return 0;
        return DefWindowProcA(hwnd, message, wparam, lparam);
    case WM_PAINT:
        paint(window, hwnd);
        return 0;
    case message_take_keyboard:
        take_keyboard(hwnd);
        return 0;
    case WM_DESTROY:
        forget_window_rect();
        free_image(window);
        window->closed = true;
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(hwnd, message, wparam, lparam);
    }
}

bool register_class(HINSTANCE instance, const char* class_name)
{
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.style = 0;
    wc.lpfnWndProc = display_wndproc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.lpszClassName = class_name;
    return RegisterClassExA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

// Only 16, 24 and 32-bit frames without a colour table or masks are drawn: the pixel rows
// follow the 40-byte header directly, so a table or masks would be read from the pixels.
bool drawable(const bitmap_info_header* header)
{
    return header->biSize == sizeof(BITMAPINFOHEADER) && header->biCompression == BI_RGB &&
           (header->biBitCount == 16 || header->biBitCount == 24 || header->biBitCount == 32) &&
           header->biWidth > 0 && header->biHeight != 0;
}

}  // namespace

window_handle* window_create(int width, int height, const char* class_name, const char* title)
{
    // The program's own instance: the one a null instance stands for.
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    if (!register_class(instance, class_name))
        return nullptr;

    auto* window = new window_handle;
    window->width = width;
    window->height = height;
    InitializeCriticalSection(&window->image_lock);

    // WS_VISIBLE alone makes an overlapped window: a caption and a fixed dialog frame.
    const int caption = GetSystemMetrics(SM_CYCAPTION);
    const int frame_x = GetSystemMetrics(SM_CXDLGFRAME);
    const int frame_y = GetSystemMetrics(SM_CYDLGFRAME);
    window->hwnd = CreateWindowExA(0, class_name, title, WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT,
                                   width + 2 * frame_x, height + caption + 2 * frame_y, nullptr,
                                   nullptr, instance, window);
    if (!window->hwnd) {
        DeleteCriticalSection(&window->image_lock);
        delete window;
        return nullptr;
    }
    // Shown, it takes the keyboard, as a window the user opened would.
    take_keyboard(window->hwnd);
    return window;
}

void window_run(window_handle* window)
{
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    if (!window->closed)
        DestroyWindow(window->hwnd);
}

void window_free(window_handle* window)
{
    if (!window)
        return;
    DeleteCriticalSection(&window->image_lock);
    delete window;
}

void window_clear(window_handle* window)
{
    image_guard guard(window);
    if (window->memdc)
        PatBlt(window->memdc, 0, 0, window->width, window->height, WHITENESS);
}

void window_draw_dib(window_handle* window, const bitmap_info_header* header, const void* pixels)
{
    if (!header || !pixels || !drawable(header))
        return;
    // A top-down frame (negative height) is drawn with the same call at its positive height.
    const DWORD rows = DWORD(std::labs(header->biHeight));
    image_guard guard(window);
    if (window->memdc)
        SetDIBitsToDevice(window->memdc, 0, 0, DWORD(header->biWidth), rows, 0, 0, 0, rows, pixels,
                          reinterpret_cast<const BITMAPINFO*>(header), DIB_RGB_COLORS);
}

void window_present(window_handle* window)
{
    if (window->closed)
        return;
    // The window's context is taken outside the lock: the display thread may hold the lock
    // while the window system waits on it.
    const HDC dc = GetDC(window->hwnd);
    if (!dc)
        return;
    {
        image_guard guard(window);
        if (window->memdc)
            BitBlt(dc, 0, 0, window->width, window->height, window->memdc, 0, 0, SRCCOPY);
    }
    ReleaseDC(window->hwnd, dc);
}

void window_set_title(window_handle* window, const char* title)
{
    // Sent to the display thread, so it returns once the window has the new title.
    if (!window->closed)
        SetWindowTextA(window->hwnd, title);
}

void window_raise(window_handle* window)
{
    // The window's own thread takes the foreground and the focus: only it can give the window
    // the keyboard.
    if (!window->closed)
        PostMessageA(window->hwnd, message_take_keyboard, 0, 0);
}

void window_close(window_handle* window)
{
    // WM_CLOSE's default handling destroys the window; SendMessage returns once it has.
    if (!window->closed)
        SendMessageA(window->hwnd, WM_CLOSE, 0, 0);
}

bool window_closed(window_handle* window)
{
    return window->closed;
}
