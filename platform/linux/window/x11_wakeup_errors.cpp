#include "platform/linux/window/x11_wakeup_errors.h"

#include <X11/Xlib.h>
#include <X11/Xproto.h>
#include <dlfcn.h>

#include <atomic>

namespace {

using error_handler = int (*)(Display*, XErrorEvent*);
using set_error_handler = error_handler (*)(error_handler);

std::atomic<error_handler> previous_handler{nullptr};

int filter_x_error(Display* display, XErrorEvent* error)
{
    if (error->error_code == BadWindow && error->request_code == X_SendEvent)
        return 0;
    error_handler previous = previous_handler.load();
    return previous ? previous(display, error) : 0;
}

set_error_handler find_set_error_handler()
{
    // The same Xlib SDL loads at run time; this reference keeps it, and the handler, loaded.
    void* xlib = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    return xlib ? reinterpret_cast<set_error_handler>(dlsym(xlib, "XSetErrorHandler")) : nullptr;
}

}  // namespace

void ignore_stale_wakeup_errors()
{
    static const set_error_handler set_handler = find_set_error_handler();
    if (!set_handler)
        return;
    // Installed again before every start, in case a toolkit started since has put in its own.
    error_handler replaced = set_handler(filter_x_error);
    if (replaced != filter_x_error)
        previous_handler = replaced;
}
