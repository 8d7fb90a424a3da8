// SDL 2.26 wakes a thread waiting for events by sending a client message to one of its windows
// over a second X connection. When that window is destroyed before the X server gets to the
// message (a close arriving while the wake-up is in flight), the server answers BadWindow, and
// Xlib's default handler ends the whole process. The message was only a wake-up, so the error
// means nothing; everything else still goes to the handler that was there before.
#pragma once

// Puts the filtering X error handler in front of the current one; called before SDL's video
// starts, which chains to it and restores it on quit. Does nothing without Xlib.
void ignore_stale_wakeup_errors();
