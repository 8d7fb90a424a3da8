// Open to the stream count: what avistep does between the path chosen in the file dialog and
// the "strs" line (the file opened and described), optionally with the file's pages dropped
// from the page cache first, as after a reboot. Prints the time and the streams' lengths.
//
// Usage: open_file CLIP [--cold]
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>

#include "platform/avi_file.h"

namespace {

// Drops the file's cached pages: its next reads come from the disk.
bool drop_cached_pages(const char* path)
{
    const int fd = open(path, O_RDONLY);
    if (fd < 0)
        return false;
    const bool dropped = fdatasync(fd) == 0 && posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0;
    close(fd);
    return dropped;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: open_file CLIP [--cold]\n");
        return 2;
    }
    const char* path = argv[1];
    const bool cold = argc > 2 && !std::strcmp(argv[2], "--cold");
    if (cold && !drop_cached_pages(path))
        std::fprintf(stderr, "could not drop the file's cached pages\n");

    const auto start = std::chrono::steady_clock::now();
    avi_file* file = nullptr;
    avi_file_info info{};
    if (avi_file_open(&file, path) != 0 || avi_file_get_info(file, &info) != 0) {
        std::fprintf(stderr, "cannot open %s\n", path);
        return 1;
    }
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("open %.1f ms%s, %u streams:", ms, cold ? " (cold)" : "", info.streams);
    for (uint32_t i = 0; i < info.streams; i++) {
        avi_stream_info s{};
        avi_stream* stream = avi_file_get_stream(file, i);
        if (stream && avi_stream_get_info(stream, &s) == 0)
            std::printf(" length %u", s.length);
        avi_stream_release(stream);
    }
    std::printf("\n");
    avi_file_release(file);
    return 0;
}
