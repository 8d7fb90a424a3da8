// The common open-file dialog and the message box.
#include "platform/dialogs.h"

#include <windows.h>
#include <commdlg.h>

#include <cstddef>

namespace {
// OPENFILENAME_SIZE_VERSION_400A as a constant: the record up to lpTemplateName, without the
// later extension fields, so the dialog works the same on every Windows version.
constexpr DWORD open_file_name_size = offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR);
#ifndef _WIN64
static_assert(open_file_name_size == 76);
#else
static_assert(open_file_name_size == 136);
#endif
}  // namespace

bool dialog_choose_file(const char* title, std::string* path)
{
    char name[256] = {};  // empty: the dialog opens with an empty name field
    char file_title[64] = {};
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = open_file_name_size;
    ofn.lpstrFilter = "*.*\0*.*\0";  // the literal's own NUL ends the list
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = name;
    ofn.nMaxFile = sizeof name;
    ofn.lpstrFileTitle = file_title;
    ofn.nMaxFileTitle = sizeof file_title - 1;
    ofn.lpstrTitle = title;
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    if (!GetOpenFileNameA(&ofn))
        return false;
    *path = name;
    return true;
}

int dialog_yes_no_cancel(const char* text, const char* caption)
{
    static_assert(answer_yes == IDYES && answer_no == IDNO && answer_cancel == IDCANCEL);
    return MessageBoxA(nullptr, text, caption, MB_YESNOCANCEL);
}
