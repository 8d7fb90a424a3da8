// Keys typed into the video window turned into the codes the console gives for the same keys
// (see platform/console.h and key_decode.h), queued for the console service.
#pragma once

#include <windows.h>

// Display thread: hands a key message's console key to the key queue. True when the message is
// done with; false when it still needs its default handling.
bool take_key_message(UINT message, WPARAM wparam, LPARAM lparam);
