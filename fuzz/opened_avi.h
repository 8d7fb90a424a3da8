// An AVI file opened through the file service as playback opens it, for the fuzz targets.
#pragma once

#include <cstdint>

#include "platform/avi_file.h"

struct opened_avi {
    static constexpr uint32_t max_streams = 8;  // work per input stays small
    avi_file* file = nullptr;
    uint32_t count = 0;
    avi_stream* streams[max_streams] = {};
    avi_stream_info infos[max_streams] = {};
};

// Opens the file and takes every stream (up to max_streams) with an extra reference and its
// description; false if the service refuses the file.
bool open_avi(const char* path, opened_avi* out);
// Releases the file first (its streams keep it open), then each stream's two references.
void close_avi(opened_avi* avi);
