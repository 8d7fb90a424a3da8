#include "fuzz/scratch_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string scratch_dir;
std::string scratch_file;

void remove_scratch()
{
    std::remove(scratch_file.c_str());
    rmdir(scratch_dir.c_str());
}

// The file is rewritten for every input, so memory rather than a disk holds it.
void make_scratch()
{
    struct stat st;
    const char* base = stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) ? "/dev/shm" : "/tmp";
    std::string pattern = std::string(base) + "/avi_fuzz_XXXXXX";
    if (!mkdtemp(pattern.data())) {
        std::perror("fuzz: mkdtemp");
        std::abort();
    }
    scratch_dir = pattern;
    scratch_file = scratch_dir + "/input.avi";
    std::atexit(remove_scratch);
}

}  // namespace

const char* write_scratch_file(const uint8_t* data, size_t size)
{
    if (scratch_file.empty())
        make_scratch();
    FILE* f = std::fopen(scratch_file.c_str(), "wb");
    if (!f)
        return nullptr;
    const bool written = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && written ? scratch_file.c_str() : nullptr;
}
