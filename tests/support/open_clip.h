// An AVI file opened with its first streams, for the tests of the AVI service on any platform.
#pragma once

#include <cstdint>
#include <string>

#include "platform/avi_file.h"

// An open file with its streams, released in the usual order when it goes.
struct open_clip {
    avi_file* file = nullptr;
    avi_stream* streams[4] = {};
    avi_stream_info info[4] = {};
    uint32_t count = 0;

    explicit open_clip(const std::string& path)
    {
        if (avi_file_open(&file, path.c_str()) != 0)
            return;
        avi_file_info fi{};
        avi_file_get_info(file, &fi);
        count = fi.streams;
        for (uint32_t i = 0; i < count && i < 4; i++) {
            streams[i] = avi_file_get_stream(file, i);
            avi_stream_get_info(streams[i], &info[i]);
        }
    }
    ~open_clip()
    {
        for (avi_stream* s : streams)
            avi_stream_release(s);
        avi_file_release(file);
    }
    open_clip(const open_clip&) = delete;
    open_clip& operator=(const open_clip&) = delete;

    // The first stream of a type, or nullptr.
    avi_stream* find(uint32_t type) const
    {
        for (uint32_t i = 0; i < count && i < 4; i++)
            if (info[i].type == type)
                return streams[i];
        return nullptr;
    }
};
