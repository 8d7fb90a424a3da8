#include "platform/win32/avi/library_path.h"

#include <windows.h>

#include <vector>

size_t path_name_length(const std::string& path)
{
    const size_t slash = path.find_last_of("\\/:");
    return slash == std::string::npos ? path.size() : path.size() - slash - 1;
}

std::string library_path(const char* path)
{
    if (!path)
        return {};
    if (path_name_length(path) <= library_name_limit)
        return path;
    const DWORD need = GetShortPathNameA(path, nullptr, 0);
    if (need == 0 || need > 32768)
        return {};
    std::vector<char> short_path(need + 1, '\0');
    const DWORD got = GetShortPathNameA(path, short_path.data(), DWORD(short_path.size()));
    if (got == 0 || got >= short_path.size())
        return {};
    const std::string result(short_path.data(), got);
    return path_name_length(result) <= library_name_limit ? result : std::string();
}
