#include "playback/console.h"

#include "platform/console.h"

namespace {
// The second code of an extended key, delivered by the next wait_key; -1 when none waits.
int pending_extended = -1;
}  // namespace

void start_console()
{
    console_open();
}

int wait_key()
{
    if (pending_extended >= 0) {
        int code = pending_extended;
        pending_extended = -1;
        return code;
    }
    int code = 0;
    int extended = 0;
    if (!console_read_key(&code, &extended))
        return -1;
    if (code == 0 || code == 224)
        pending_extended = extended;
    return code;
}

int key_pending()
{
    return pending_extended >= 0 || console_key_waiting();
}
