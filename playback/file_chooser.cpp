#include "playback/file_chooser.h"

#include <string>

#include "platform/dialogs.h"
#include "playback/texts.h"

namespace {
// The chosen path lives for the whole run: play_avi and the window titles refer to it.
std::string name_buffer;
}  // namespace

const char* choose_avi_file()
{
    if (!dialog_choose_file(text_choose_title, &name_buffer))
        return nullptr;
    return name_buffer.c_str();
}
