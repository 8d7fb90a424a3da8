#include "tests/wine/check.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
int passed = 0;
int failed = 0;
}  // namespace

bool check_that(bool ok, const char* what, const char* file, int line)
{
    if (ok) {
        passed++;
    } else {
        failed++;
        std::printf("FAILED %s:%d: %s\n", file, line, what);
    }
    return ok;
}

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--console-keys") == 0) {
        print_console_keys(std::atoi(argv[2]));
        std::printf("%d passed, %d failed\n", passed, failed);
        return failed == 0 ? 0 : 1;
    }
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof temp, temp);
    check_console_keys();
    check_sound();
    check_avi_contract(temp);
    check_chunk_read(temp);
    char here[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof here, here);
    check_sound_read(std::string(here) + "\\");
    check_window();
    std::printf("%d passed, %d failed\n", passed, failed);
    std::fflush(stdout);
    return failed == 0 && passed > 0 ? 0 : 1;
}
